#include "platform/extended_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <string>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

Error FailXattr(int err) {
  // ENOTSUP and EOPNOTSUPP are one value on Linux; ENODATA is "no such attribute".
  if (err == ENOTSUP) return Fail(ErrorCode::kNotSupported);
  if (err == ENODATA) return Fail(ErrorCode::kFileNotFound);
  return FailFromErrno(err);
}

}  // namespace

ErrorOr<void> SetExtendedAttribute(std::u16string_view path, std::string_view name,
                                   std::string_view value) {
  const std::string file = ToUtf8(path);
  const std::string key(name);
  if (::setxattr(file.c_str(), key.c_str(), value.data(), value.size(), 0) != 0) {
    return FailXattr(errno);
  }
  return {};
}

ErrorOr<std::string> GetExtendedAttribute(std::u16string_view path, std::string_view name) {
  const std::string file = ToUtf8(path);
  const std::string key(name);
  // The value may change between asking for its size and reading it: ask again then.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::getxattr(file.c_str(), key.c_str(), nullptr, 0);
    if (size < 0) return FailXattr(errno);
    std::string value(static_cast<size_t>(size), '\0');
    const ssize_t got = ::getxattr(file.c_str(), key.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<size_t>(got));
      return value;
    }
    if (errno != ERANGE) return FailXattr(errno);
  }
  return Fail(ErrorCode::kBusy);
}

}  // namespace qs::platform
