// The length headers of a download answer ("QS-Content-Length", "Resumed-from"), which come
// from the network: the reader agrees with an independent reading of the same rules on every
// input. Input: the header's value.
#include <limits>

#include "fuzz_input.h"
#include "transfer/downloaded_file.h"

namespace {

// White space, one sign, then decimal digits up to the first other character; no digits read
// as 0; beyond the range of int64_t the nearest end.
int64_t ReferenceReading(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr uint64_t kLimit = uint64_t{1} << 63;  // the magnitude of the lowest int64_t
  uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
  }
  if (negative) {
    return magnitude == kLimit ? std::numeric_limits<int64_t>::min()
                               : -static_cast<int64_t>(magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<int64_t>::max()
                             : static_cast<int64_t>(magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = qs::fuzz::Bytes(data, size);
  QSFT_FUZZ_CHECK(qs::ParseLengthHeader(text) == ReferenceReading(text));
  return 0;
}
