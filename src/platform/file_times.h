// File modification times in the client's numbering: a file time counts 100-nanosecond
// intervals since 1 January 1601, 00:00 UTC, as pages have always exchanged them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// 100-ns intervals from 1601-01-01 to the Unix epoch, 1970-01-01.
inline constexpr int64_t kFileTimeAtUnixEpoch = 116444736000000000;
inline constexpr int64_t kFileTimeTicksPerSecond = 10000000;

struct UnixTime {
  int64_t seconds = 0;      // since the Unix epoch, may be negative
  int64_t nanoseconds = 0;  // 0 to 999999999
  bool operator==(const UnixTime&) const = default;
};

// The file time of a Unix time, truncated to whole 100 ns (towards the past); nothing when it
// does not fit in 64 bits.
std::optional<int64_t> FileTimeFromUnix(UnixTime time);
// The Unix time of a file time, exactly: FileTimeFromUnix(UnixFromFileTime(t)) == t for every
// t >= 0.
UnixTime UnixFromFileTime(int64_t file_time);

// The last modification time of the file or directory at `path`, following links.
ErrorOr<int64_t> LastWriteFileTime(std::u16string_view path);

// Sets the last modification time of the existing regular file at `path` (following links) and
// nothing else. The file is opened sharing reads only: while another opener of this program
// holds it without sharing, this fails with 32 (sharing violation) and changes nothing. A
// directory or any other non-regular file is refused with 5, a negative time with 87. Sets the
// thread's last error on failure.
ErrorOr<void> SetLastWriteFileTime(std::u16string_view path, int64_t file_time);

}  // namespace qs::platform
