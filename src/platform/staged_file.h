// Writing a file under a temporary name and moving it onto its final name once complete.
//
// The commit point is ReplaceFile: before it the final name still shows whatever was there, after
// it the complete new file. A caller that SyncFile()s first also gets the data on disk before the
// name, so a crash after the move never leaves a short file under the final name.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// Creates `path` for writing, or opens and empties the regular file there, and returns a
// descriptor that holds an exclusive lock on it (file_lock.h) until it is closed.
//
// A second caller for the same path, while the first still holds its descriptor, fails with
// kSharingViolation (32) and leaves the file alone: nothing is emptied before the lock is held,
// and a name that was moved or deleted meanwhile is opened afresh. A link at `path` is not
// followed (kCantResolveFilename), and something other than a regular file is kAccessDenied.
// The caller owns the descriptor. Sets the thread's last error on failure.
ErrorOr<int> CreateLockedForWriting(std::u16string_view path);

// Writes all of `bytes` at the file's current position, retrying short writes and interrupts.
ErrorOr<void> WriteAll(int fd, std::span<const std::byte> bytes);

// Flushes the file's data and size to the storage device.
ErrorOr<void> SyncFile(int fd);

// Renames `from` onto `to`, replacing a file there, atomically. Both must be on one file system
// (kNotSameDevice otherwise). The directory entry is then flushed too, as far as the file system
// allows; that flush cannot fail the move.
ErrorOr<void> ReplaceFile(std::u16string_view from, std::u16string_view to);

}  // namespace qs::platform
