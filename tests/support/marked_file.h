// Big test files made in an instant: sparse, with a few marked bytes, so that a shifted, short
// or truncated copy shows without comparing gigabytes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <span>

namespace qs::testing {

struct Mark {
  uint64_t offset;
  char byte;
};

// A file of `size` zero bytes (a hole) with each mark's byte at its offset.
inline bool WriteMarkedSparseFile(const std::filesystem::path& path, uint64_t size,
                                  std::span<const Mark> marks) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const Mark& m : marks) {
    ok = ok && ::pwrite(fd, &m.byte, 1, static_cast<off_t>(m.offset)) == 1;
  }
  ::close(fd);
  return ok;
}

// The byte at `offset`, or 0 when it cannot be read.
inline char ByteAt(const std::filesystem::path& path, uint64_t offset) {
  char byte = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  if (::pread(fd, &byte, 1, static_cast<off_t>(offset)) != 1) byte = 0;
  ::close(fd);
  return byte;
}

}  // namespace qs::testing
