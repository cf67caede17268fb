#include "platform/file_lock.h"
#include "platform/last_error.h"

#include <fcntl.h>

#include <cerrno>

namespace qs::platform {

ErrorOr<void> TryLockWholeFile(int fd, FileLockKind kind) {
  struct flock lock {};
  lock.l_type = kind == FileLockKind::kExclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end, however far the file grows
  lock.l_pid = 0;  // required for open-file-description locks
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return {};
  const int err = errno;
  // A conflicting lock is reported as EAGAIN or EACCES depending on the file system.
  if (err == EAGAIN || err == EACCES) return Fail(ErrorCode::kSharingViolation);
  return FailFromErrno(err);
}

}  // namespace qs::platform
