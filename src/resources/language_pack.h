// The content of a language pack: its 64-bit file version and its texts by 16-bit id.
//
// The content is what the pack's signature covers (platform/signed_content.h), so the version
// cannot be changed without breaking it. Layout, all numbers little-endian:
//   "QSLP"                 4 bytes
//   layout                 u32, 1
//   file version           u64, the most significant 32-bit word in the upper half
//   count                  u32, at most 65536
//   count entries          u16 id, u16 length in UTF-16 units (at most kMaxPackTextLength),
//                          then the text's units as u16; ids strictly ascending
// and nothing after the last entry. A text of length 0 counts as missing.
//
// Reading treats every byte as data: anything out of bounds, out of order or left over makes the
// whole content unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qs {

inline constexpr uint32_t kPackLayout = 1;
// The longest text a pack may carry, in UTF-16 units.
inline constexpr size_t kMaxPackTextLength = 4096;
// The largest pack file that is read at all.
inline constexpr size_t kMaxPackFileBytes = 8u << 20;

struct LanguagePack {
  uint64_t version = 0;
  std::map<uint16_t, std::u16string> texts;
};

std::string EncodeLanguagePack(const LanguagePack& pack);
std::optional<LanguagePack> DecodeLanguagePack(std::string_view content);

// Four 16-bit parts as one 64-bit version: 2.1.5.300 is 0x000200010005012C.
constexpr uint64_t PackVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  return uint64_t{a} << 48 | uint64_t{b} << 32 | uint64_t{c} << 16 | d;
}

// A page's `resourceVersion` read as an unsigned 64-bit hexadecimal number: leading blanks
// skipped, an optional sign and "0x" accepted, reading stops at the first character that is not a
// hexadecimal digit; no digits read as 0, a value too large as the largest one, and a minus sign
// negates modulo 2^64.
uint64_t ParseResourceVersion(std::u16string_view text);

// A plain language tag: 1 to 35 ASCII letters, digits, "-" and "_".
bool IsPlainLanguageTag(std::u16string_view language);
// The module name of a resolved module URL: everything after its last "/", query included.
std::u16string_view ModuleNameOf(std::u16string_view url);
// A plain file name: not empty, not "." or "..", no "/", "\" or NUL.
bool IsPlainFileName(std::u16string_view name);

}  // namespace qs
