// Reading a local file that others may read at the same time but nobody of ours may write.
//
// The share mode is an open-file-description lock (file_lock.h): while the descriptor is open,
// this program's own writers (a download into the same file) are kept out, and a file that one
// of them holds for writing cannot be opened here. Other programs are not kept out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// Opens the regular file at `path` for reading with a shared lock. kPathNotFound for an empty
// path, kSharingViolation (32) when one of ours holds it for writing, kAccessDenied for
// something that is not a regular file (a directory, a device, a pipe: nothing that could block
// the opener), the mapped errno otherwise. The caller owns the descriptor.
ErrorOr<int> OpenForSharedReading(std::u16string_view path);
// The size of the open file now.
ErrorOr<uint64_t> OpenFileSize(int fd);
// Reads up to buffer.size() bytes at the current position; 0 at the end of the file.
ErrorOr<size_t> ReadSome(int fd, std::span<std::byte> buffer);
// Moves the position to `offset` bytes from the start.
ErrorOr<void> SeekTo(int fd, uint64_t offset);
// The path the system reports for the open file, every link resolved (final_path.h).
ErrorOr<std::u16string> FinalPathOf(int fd);
// The size of the file at `path`, following links.
ErrorOr<uint64_t> FileSizeAt(std::u16string_view path);

}  // namespace qs::platform
