#include "platform/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/text.h"
#include "platform/file_descriptor.h"
#include "platform/last_error.h"

namespace qs::platform {

ErrorOr<std::string> ReadSmallFile(std::u16string_view path, size_t max_bytes) {
  const std::string name = ToUtf8(path);
  // O_NONBLOCK: a FIFO planted at the path must not block the opener.
  ScopedFd fd(open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return FailFromErrno(errno);
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return FailFromErrno(errno);
  if (!S_ISREG(info.st_mode)) return Fail(ErrorCode::kAccessDenied);
  if (static_cast<uint64_t>(info.st_size) > max_bytes) return Fail(ErrorCode::kNotEnoughMemory);
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno(errno);
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > max_bytes) return Fail(ErrorCode::kNotEnoughMemory);
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

ErrorOr<void> RemoveFile(std::u16string_view path) {
  if (unlink(ToUtf8(path).c_str()) != 0) return FailFromErrno(errno);
  return {};
}

}  // namespace qs::platform
