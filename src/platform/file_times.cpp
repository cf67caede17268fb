#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/text.h"
#include "platform/file_descriptor.h"
#include "platform/file_lock.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

constexpr int64_t kUnixEpochSeconds = kFileTimeAtUnixEpoch / kFileTimeTicksPerSecond;
constexpr int64_t kNanosecondsPerTick = 100;

}  // namespace

std::optional<int64_t> FileTimeFromUnix(UnixTime time) {
  int64_t seconds = 0;
  int64_t ticks = 0;
  int64_t result = 0;
  if (__builtin_add_overflow(time.seconds, kUnixEpochSeconds, &seconds) ||
      __builtin_mul_overflow(seconds, kFileTimeTicksPerSecond, &ticks) ||
      __builtin_add_overflow(ticks, time.nanoseconds / kNanosecondsPerTick, &result)) {
    return std::nullopt;
  }
  return result;
}

UnixTime UnixFromFileTime(int64_t file_time) {
  // Floor division, so that times before 1601 keep a non-negative nanosecond part.
  int64_t whole = file_time / kFileTimeTicksPerSecond;
  int64_t rest = file_time % kFileTimeTicksPerSecond;
  if (rest < 0) {
    rest += kFileTimeTicksPerSecond;
    --whole;
  }
  return UnixTime{whole - kUnixEpochSeconds, rest * kNanosecondsPerTick};
}

ErrorOr<int64_t> LastWriteFileTime(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  struct stat info {};
  if (target.empty() || ::stat(target.c_str(), &info) != 0) return FailFromErrno(errno);
  auto time = FileTimeFromUnix(UnixTime{info.st_mtim.tv_sec, info.st_mtim.tv_nsec});
  if (!time) return Fail(ErrorCode::kInvalidParameter);
  return *time;
}

ErrorOr<void> SetLastWriteFileTime(std::u16string_view path, int64_t file_time) {
  if (file_time < 0) return Fail(ErrorCode::kInvalidParameter);
  const std::string target = ToUtf8(path);
  if (target.empty()) return Fail(ErrorCode::kInvalidParameter);
  // Non-blocking, so that a FIFO cannot hold the call; it is refused below anyway.
  ScopedFd fd(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return FailFromErrno(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return FailFromErrno(errno);
  if (!S_ISREG(info.st_mode)) return Fail(ErrorCode::kAccessDenied);
  QS_TRY_VOID(TryLockWholeFile(fd.get(), FileLockKind::kShared));

  const UnixTime time = UnixFromFileTime(file_time);
  struct timespec times[2]{};
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = static_cast<long>(time.nanoseconds);
  if (::futimens(fd.get(), times) != 0) return FailFromErrno(errno);
  return {};
}

}  // namespace qs::platform
