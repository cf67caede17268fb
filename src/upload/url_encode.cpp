#include "upload/url_encode.h"

#include "base/text.h"

namespace qs {

namespace {

bool IsAsciiAlphanumeric(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::u16string UrlEncode(std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const std::string bytes = ToUtf8(text);
  std::u16string out;
  out.reserve(bytes.size() * 3);
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (IsAsciiAlphanumeric(c)) {
      out += static_cast<char16_t>(c);
    } else {
      out += u'%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

}  // namespace qs
