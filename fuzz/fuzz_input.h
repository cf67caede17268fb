// Turning a fuzzer's bytes into the inputs of the parsers under test, and stopping loudly when
// a property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace qs::fuzz {

// Ends the run with a report: libFuzzer saves the input that got here as a crash.
[[noreturn]] inline void Fail(const char* property) {
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

#define QSFT_FUZZ_CHECK(condition)                  \
  do {                                              \
    if (!(condition)) ::qs::fuzz::Fail(#condition); \
  } while (false)

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut at line feeds into exactly `count` pieces: the last piece takes the rest of the
// input (line feeds included), missing pieces are empty. Seeds stay readable text files.
inline std::vector<std::string_view> Pieces(std::string_view input, size_t count) {
  std::vector<std::string_view> pieces;
  while (pieces.size() + 1 < count) {
    const size_t end = input.find('\n');
    if (end == std::string_view::npos) break;
    pieces.push_back(input.substr(0, end));
    input.remove_prefix(end + 1);
  }
  pieces.push_back(input);
  pieces.resize(count);
  return pieces;
}

// A piece as UTF-16 text. One that starts with the byte 0x01 is taken as raw little-endian
// code units (lone surrogates, NULs and any other unit reach the parser that way); anything
// else is decoded as UTF-8.
inline std::u16string Utf16(std::string_view piece) {
  if (piece.empty() || piece[0] != '\x01') return FromUtf8(piece);
  piece.remove_prefix(1);
  std::u16string text;
  for (size_t i = 0; i + 1 < piece.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(piece[i]) |
                                         (static_cast<uint8_t>(piece[i + 1]) << 8)));
  }
  return text;
}

}  // namespace qs::fuzz
