// UTF-8 from the wire and the system to the control's UTF-16 and back: malformed input turns
// into U+FFFD and never into a lone surrogate, well-formed input comes back byte for byte, and
// UTF-16 with unpaired surrogates still gives well-formed UTF-8. Input: bytes.
#include "fuzz_input.h"

namespace {

// Strict UTF-8: shortest forms only, no encoded surrogates, nothing above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t length = 0;
    uint32_t code = 0;
    uint32_t lowest = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1Fu, lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0Fu, lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07u, lowest = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// No high surrogate without a low one after it, no low one without a high one before it.
bool HasNoLoneSurrogate(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  const std::string_view bytes = fuzz::Bytes(data, size);

  const std::u16string decoded = FromUtf8(bytes);
  QSFT_FUZZ_CHECK(HasNoLoneSurrogate(decoded));
  QSFT_FUZZ_CHECK(decoded.size() <= bytes.size());
  const std::string encoded = ToUtf8(decoded);
  QSFT_FUZZ_CHECK(IsWellFormedUtf8(encoded));
  if (IsWellFormedUtf8(bytes)) {
    QSFT_FUZZ_CHECK(encoded == bytes);
  } else {
    QSFT_FUZZ_CHECK(decoded.find(u'\uFFFD') != std::u16string::npos);
  }
  QSFT_FUZZ_CHECK(FromUtf8(encoded) == decoded);

  // The same bytes as UTF-16 code units, as the control holds text.
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::string from_units = ToUtf8(units);
  QSFT_FUZZ_CHECK(IsWellFormedUtf8(from_units));
  if (HasNoLoneSurrogate(units)) QSFT_FUZZ_CHECK(FromUtf8(from_units) == units);

  // Case folding never changes a text's length.
  QSFT_FUZZ_CHECK(ToLowerAscii(units).size() == units.size());
  QSFT_FUZZ_CHECK(EqualsIgnoreCase(units, ToLowerAscii(units)));
  return 0;
}
