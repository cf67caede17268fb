// Component-model identifiers (classes, interfaces, libraries): 128 bits written as
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs {

struct Guid {
  std::array<uint8_t, 16> bytes{};  // in the order the text form writes them

  friend bool operator==(const Guid&, const Guid&) = default;

  // Parses the 36-character form, with or without braces, hex digits in either case. Nothing
  // for anything else.
  static constexpr std::optional<Guid> Parse(std::u16string_view text) {
    if (text.size() == 38) {
      if (text.front() != u'{' || text.back() != u'}') return std::nullopt;
      text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    Guid g;
    size_t out = 0;
    for (size_t i = 0; i < 36;) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        if (text[i] != u'-') return std::nullopt;
        ++i;
        continue;
      }
      const int hi = HexValue(text[i]);
      const int lo = HexValue(text[i + 1]);
      if (hi < 0 || lo < 0) return std::nullopt;
      g.bytes[out++] = static_cast<uint8_t>(hi * 16 + lo);
      i += 2;
    }
    return g;
  }

  // Upper case, with braces.
  std::u16string ToString() const {
    constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string s = u"{";
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i == 4 || i == 6 || i == 8 || i == 10) s += u'-';
      s += kDigits[bytes[i] >> 4];
      s += kDigits[bytes[i] & 15];
    }
    s += u'}';
    return s;
  }

 private:
  static constexpr int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  }
};

// For identifiers written in the source: a malformed literal does not compile in a constant
// expression.
consteval Guid MakeGuid(std::u16string_view text) { return *Guid::Parse(text); }

}  // namespace qs
