#include "transfer/gathered_writes.h"

#include <algorithm>

namespace qs {

ErrorOr<std::span<std::byte>> GatheredWrites::Room(platform::StagedFile& file, size_t block) {
  block = std::min(block, kCapacity);
  // Not cleared: every byte written out was read into it first.
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::byte[]>(kCapacity);
  if (kCapacity - size_ < block) QS_TRY_VOID(Flush(file));
  return std::span<std::byte>(buffer_.get() + size_, block);
}

ErrorOr<void> GatheredWrites::Flush(platform::StagedFile& file) {
  if (size_ == 0) return {};
  const size_t size = size_;
  size_ = 0;
  return file.Write(std::span<const std::byte>(buffer_.get(), size));
}

}  // namespace qs
