// Extended attributes: small named values a file system keeps beside a file's data.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// Sets the attribute `name` (with its namespace, e.g. "user.xdg.origin.url") of the file at
// `path` to `value`, following a link at `path`. kNotSupported (50) when the file system keeps
// no such attributes (or none in that namespace); the mapped errno otherwise. Sets the thread's
// last error on failure.
ErrorOr<void> SetExtendedAttribute(std::u16string_view path, std::string_view name,
                                   std::string_view value);

// The attribute's value, or the failure: kNotSupported as above, kFileNotFound when the file
// or the attribute is missing.
ErrorOr<std::string> GetExtendedAttribute(std::u16string_view path, std::string_view name);

}  // namespace qs::platform
