#include "platform/last_error.h"

#include <cerrno>

namespace qs {

namespace {
thread_local uint32_t t_last_error = 0;
}  // namespace

namespace platform {

Error ErrorFromErrno(int err) {
  switch (err) {
    case 0: return Error::From(ErrorCode::kSuccess);
    case ENOENT: return Error::From(ErrorCode::kFileNotFound);
    case ENOTDIR: return Error::From(ErrorCode::kPathNotFound);
    case EACCES:
    case EPERM:
    case EISDIR: return Error::From(ErrorCode::kAccessDenied);
    case EROFS: return Error::From(ErrorCode::kWriteProtect);
    case EBADF: return Error::From(ErrorCode::kInvalidHandle);
    case ENOMEM: return Error::From(ErrorCode::kNotEnoughMemory);
    case EMFILE:
    case ENFILE: return Error::From(ErrorCode::kTooManyOpenFiles);
    case EXDEV: return Error::From(ErrorCode::kNotSameDevice);
    case EAGAIN:
    case ETXTBSY: return Error::From(ErrorCode::kSharingViolation);
    case EEXIST: return Error::From(ErrorCode::kAlreadyExists);
    case EINVAL: return Error::From(ErrorCode::kInvalidParameter);
    case EPIPE: return Error::From(ErrorCode::kBrokenPipe);
    case ENOSPC:
    case EDQUOT: return Error::From(ErrorCode::kDiskFull);
    case EFBIG: return Error::From(ErrorCode::kFileTooLarge);
    case ENAMETOOLONG: return Error::From(ErrorCode::kFilenameExcedRange);
    case ENOTEMPTY: return Error::From(ErrorCode::kDirNotEmpty);
    case EBUSY: return Error::From(ErrorCode::kBusy);
    case ELOOP: return Error::From(ErrorCode::kCantResolveFilename);
    case EOPNOTSUPP: return Error::From(ErrorCode::kNotSupported);
    case EIO: return Error::From(ErrorCode::kIoDevice);
    default: return Error::From(ErrorCode::kIoDevice);
  }
}

uint32_t LastError() { return t_last_error; }
void SetLastError(uint32_t code) { t_last_error = code; }

Error Fail(Error error) {
  SetLastError(error.code);
  return error;
}

Error FailFromErrno(int err) { return Fail(ErrorFromErrno(err)); }

}  // namespace platform
}  // namespace qs
