#include "platform/gio_error.h"

#include <gio/gio.h>

#include "base/error_codes.h"

namespace qs::platform {

namespace {

ErrorCode FromIoError(int code) {
  switch (code) {
    case G_IO_ERROR_NOT_FOUND: return ErrorCode::kFileNotFound;
    case G_IO_ERROR_EXISTS: return ErrorCode::kFileExists;
    case G_IO_ERROR_IS_DIRECTORY:
    case G_IO_ERROR_PERMISSION_DENIED: return ErrorCode::kAccessDenied;
    case G_IO_ERROR_NOT_DIRECTORY: return ErrorCode::kPathNotFound;
    case G_IO_ERROR_NOT_EMPTY: return ErrorCode::kDirNotEmpty;
    case G_IO_ERROR_FILENAME_TOO_LONG: return ErrorCode::kFilenameExcedRange;
    case G_IO_ERROR_INVALID_FILENAME: return ErrorCode::kInvalidName;
    case G_IO_ERROR_NO_SPACE: return ErrorCode::kDiskFull;
    case G_IO_ERROR_INVALID_ARGUMENT: return ErrorCode::kInvalidParameter;
    case G_IO_ERROR_NOT_SUPPORTED: return ErrorCode::kNotSupported;
    case G_IO_ERROR_READ_ONLY: return ErrorCode::kWriteProtect;
    case G_IO_ERROR_CANCELLED: return ErrorCode::kCancelled;
    case G_IO_ERROR_BUSY: return ErrorCode::kBusy;
    case G_IO_ERROR_TOO_MANY_OPEN_FILES: return ErrorCode::kTooManyOpenFiles;
    default: return ErrorCode::kIoDevice;
  }
}

ErrorCode FromSpawnError(int code) {
  switch (code) {
    case G_SPAWN_ERROR_NOENT:
    case G_SPAWN_ERROR_NOTDIR: return ErrorCode::kFileNotFound;
    case G_SPAWN_ERROR_ACCES:
    case G_SPAWN_ERROR_PERM: return ErrorCode::kAccessDenied;
    case G_SPAWN_ERROR_NOMEM: return ErrorCode::kNotEnoughMemory;
    case G_SPAWN_ERROR_NFILE:
    case G_SPAWN_ERROR_MFILE: return ErrorCode::kTooManyOpenFiles;
    case G_SPAWN_ERROR_INVAL: return ErrorCode::kInvalidParameter;
    default: return ErrorCode::kIoDevice;
  }
}

}  // namespace

uint32_t CodeFromGError(const GError* error) {
  if (error == nullptr) return ToUint(ErrorCode::kIoDevice);
  if (error->domain == G_IO_ERROR) return ToUint(FromIoError(error->code));
  if (error->domain == G_SPAWN_ERROR) return ToUint(FromSpawnError(error->code));
  if (error->domain == G_FILE_ERROR) {
    switch (error->code) {
      case G_FILE_ERROR_NOENT: return ToUint(ErrorCode::kFileNotFound);
      case G_FILE_ERROR_ACCES:
      case G_FILE_ERROR_PERM: return ToUint(ErrorCode::kAccessDenied);
      default: return ToUint(ErrorCode::kIoDevice);
    }
  }
  return ToUint(ErrorCode::kIoDevice);
}

void GErrorFree::operator()(GError* error) const { g_error_free(error); }

}  // namespace qs::platform
