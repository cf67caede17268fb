// Test data in which a shifted, repeated or missing piece shows: byte i of the pattern differs
// from its neighbours and from the byte 251 places on.
#pragma once

#include <cstddef>
#include <string>

namespace qs::testing {

// Bytes 0..n-1 of the pattern; `seed` tells versions of one file apart.
inline std::string Pattern(size_t n, unsigned seed = 0) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 251 + seed * 13) & 0xFF);
  }
  return bytes;
}

}  // namespace qs::testing
