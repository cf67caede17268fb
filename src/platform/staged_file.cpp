#include "platform/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_descriptor.h"
#include "platform/file_lock.h"
#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

// How often the name may change under us between open and lock before we give up; each round
// means another writer moved or deleted the file in that instant.
constexpr int kOpenAttempts = 8;

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

ErrorOr<int> CreateLockedForWriting(std::u16string_view path) {
  const std::string name = ToUtf8(path);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // No O_TRUNC: the file may be another writer's until our lock says otherwise. O_NONBLOCK
    // keeps a FIFO planted under the name from blocking the open.
    ScopedFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                      0666));
    if (fd.get() < 0) return FailFromErrno(errno);

    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) return FailFromErrno(errno);
    if (!S_ISREG(opened.st_mode)) return Fail(ErrorCode::kAccessDenied);

    QS_TRY_VOID(TryLockWholeFile(fd.get(), FileLockKind::kExclusive));

    // The previous holder may have renamed or deleted the file between our open and our lock;
    // then we hold a lock on a file that no longer has this name (perhaps a finished download
    // now under its final name), which must not be emptied. Open the name again.
    struct stat named {};
    if (::lstat(name.c_str(), &named) != 0) {
      if (errno == ENOENT) continue;
      return FailFromErrno(errno);
    }
    if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) continue;

    if (::ftruncate(fd.get(), 0) != 0) return FailFromErrno(errno);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
      return FailFromErrno(errno);
    }
    return fd.release();
  }
  return Fail(ErrorCode::kSharingViolation);
}

ErrorOr<void> WriteAll(int fd, std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno(errno);
    }
    if (n == 0) return Fail(ErrorCode::kDiskFull);
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

ErrorOr<void> SyncFile(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return FailFromErrno(errno);
  }
  return {};
}

ErrorOr<void> ReplaceFile(std::u16string_view from, std::u16string_view to) {
  const std::string source = ToUtf8(from);
  const std::string target = ToUtf8(to);
  if (::rename(source.c_str(), target.c_str()) != 0) return FailFromErrno(errno);
  // Make the new name durable as well. Some file systems refuse to sync a directory; the file
  // is in place either way.
  const int dir = ::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    CloseFileDescriptor(dir);
  }
  return {};
}

}  // namespace qs::platform
