#include "platform/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "base/text.h"
#include "platform/file_descriptor.h"
#include "platform/file_lock.h"
#include "platform/last_error.h"

namespace qs::platform {

ErrorOr<int> OpenForSharedReading(std::u16string_view path) {
  if (path.empty()) return Fail(ErrorCode::kPathNotFound);
  const std::string native = ToUtf8(path);
  if (native.find('\0') != std::string::npos) return Fail(ErrorCode::kInvalidName);
  // Non-blocking so that a FIFO cannot hold the opener; the type is checked right after.
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return FailFromErrno(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int err = errno;
    CloseFileDescriptor(fd);
    return FailFromErrno(err);
  }
  if (!S_ISREG(info.st_mode)) {
    CloseFileDescriptor(fd);
    return Fail(ErrorCode::kAccessDenied);
  }
  auto locked = TryLockWholeFile(fd, FileLockKind::kShared);
  if (!locked.ok()) {
    CloseFileDescriptor(fd);
    return locked.error();
  }
  return fd;
}

ErrorOr<uint64_t> OpenFileSize(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return FailFromErrno(errno);
  return static_cast<uint64_t>(info.st_size);
}

ErrorOr<size_t> ReadSome(int fd, std::span<std::byte> buffer) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return FailFromErrno(errno);
  }
}

ErrorOr<void> SeekTo(int fd, uint64_t offset) {
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return FailFromErrno(errno);
  return {};
}

ErrorOr<std::u16string> FinalPathOf(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string target(PATH_MAX, '\0');
  const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
  if (n < 0) return FailFromErrno(errno);
  if (static_cast<size_t>(n) >= target.size()) return Fail(ErrorCode::kFilenameExcedRange);
  target.resize(static_cast<size_t>(n));
  return FromUtf8(target);
}

ErrorOr<uint64_t> FileSizeAt(std::u16string_view path) {
  const std::string native = ToUtf8(path);
  struct stat info {};
  if (native.empty() || ::stat(native.c_str(), &info) != 0) {
    return FailFromErrno(native.empty() ? ENOENT : errno);
  }
  return static_cast<uint64_t>(info.st_size);
}

}  // namespace qs::platform
