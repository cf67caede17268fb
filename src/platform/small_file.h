// Whole small files: read at once with an upper bound, and removed outright (not into the trash).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// The bytes of the regular file at `path`. A file larger than `max_bytes` is not read: 8 (not
// enough memory) in the platform numbering; something that is not a regular file: 5.
ErrorOr<std::string> ReadSmallFile(std::u16string_view path, size_t max_bytes);

// Removes the file at `path` (not a directory). Sets the thread's last error on failure.
ErrorOr<void> RemoveFile(std::u16string_view path);

}  // namespace qs::platform
