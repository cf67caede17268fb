// A file written under a temporary name beside its final name and moved onto it once complete.
//
// StagedFile is the one owner of the temporary file: its name, its descriptor and the exclusive
// lock that descriptor holds. Until Commit succeeds the final name shows whatever was there
// before. Destroyed without a commit, the staged file deletes its temporary file while the lock
// is still held (so no second writer can take the name over between our close and our delete
// and then lose its file to that delete), then closes it.
//
// Commit is the commit point: the data is flushed to the device, the name is moved onto the
// final one, and the folder entry is flushed as far as the file system allows. A crash after the
// move never leaves a short file under the final name. Once the data is flushed the complete
// temporary file is kept, even when the move then fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/error.h"
#include "platform/file_descriptor.h"

namespace qs::platform {

class StagedFile {
 public:
  // Creates `final_path` + `suffix` for writing, or opens and empties the regular file there,
  // holding an exclusive lock on it (file_lock.h).
  //
  // A second writer of the same name, while the first still holds its staged file, fails with
  // kSharingViolation (32) and leaves the file alone: nothing is emptied before the lock is
  // held, and a name that was moved or deleted meanwhile is opened afresh. A link at the name
  // is not followed (kCantResolveFilename), and something other than a regular file is
  // kAccessDenied.
  static ErrorOr<StagedFile> Create(std::u16string final_path, std::u16string_view suffix);

  StagedFile(StagedFile&& other) noexcept = default;
  StagedFile& operator=(StagedFile&&) = delete;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // Appends all of `bytes`, retrying short writes and interrupts.
  ErrorOr<void> Write(std::span<const std::byte> bytes);
  // The bytes written so far, also those of a Write that then failed.
  uint64_t written() const { return written_; }
  // Flush, move onto the final name, flush the folder. Once only.
  ErrorOr<void> Commit();

  const std::u16string& temp_path() const { return temp_path_; }

 private:
  StagedFile(std::u16string final_path, std::u16string temp_path, ScopedFd fd);

  std::u16string final_path_;
  std::u16string temp_path_;
  ScopedFd fd_;
  uint64_t written_ = 0;
  bool keep_ = false;  // the temporary file is no longer ours to delete
};

}  // namespace qs::platform
