// GatheredWrites: the blocks of a download, received one by one, written to the staged file in
// larger pieces.
//
// Each block is read straight into the room this hands out, so gathering costs no copy; what is
// gathered goes to the file when the room left cannot take another block, and on Flush. Whoever
// needs everything received on disk (a resumption that asks from the byte after it, the commit)
// flushes first. At most kCapacity bytes are held, however large the file.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "base/error.h"
#include "platform/staged_file.h"

namespace qs {

class GatheredWrites {
 public:
  static constexpr size_t kCapacity = 256 * 1024;

  // Room for the next block of up to `block` bytes (at most kCapacity), after writing out what
  // is gathered when less room than that is left.
  ErrorOr<std::span<std::byte>> Room(platform::StagedFile& file, size_t block);
  // The first `n` bytes of the room last handed out now hold a block.
  void Add(size_t n) { size_ += n; }
  // Writes out everything gathered.
  ErrorOr<void> Flush(platform::StagedFile& file);

  size_t gathered() const { return size_; }

 private:
  std::unique_ptr<std::byte[]> buffer_;
  size_t size_ = 0;
};

}  // namespace qs
