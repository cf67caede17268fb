#include "platform/host_names.h"

#include <idn2.h>

#include <memory>
#include <string>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

constexpr size_t kMaxLabelLength = 63;

struct IdnFree {
  void operator()(char* p) const { idn2_free(p); }
};

bool IsLdhCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

bool IsValidLabel(std::string_view label) {
  if (label.empty() || label.size() > kMaxLabelLength) return false;
  if (label.front() == '-' || label.back() == '-') return false;
  for (char c : label) {
    if (!IsLdhCharacter(c)) return false;
  }
  return true;
}

// The STD3 rules as the result must show them. Every ASCII character of the mapped host appears
// literally in the result (a punycode label keeps them before its last "-"), so a host that
// passes here holds no character outside a-z, 0-9, "-" and the dots.
bool IsValidAsciiHost(std::string_view host) {
  size_t start = 0;
  while (true) {
    const size_t dot = host.find('.', start);
    const std::string_view label =
        host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (!IsValidLabel(label)) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

ErrorOr<std::string> Convert(const std::string& utf8, int flags) {
  char* raw = nullptr;
  const int rc = idn2_to_ascii_8z(utf8.c_str(), &raw, flags);
  const std::unique_ptr<char, IdnFree> output(raw);
  if (rc == IDN2_MALLOC) return Fail(ErrorCode::kNotEnoughMemory);
  if (rc != IDN2_OK || output == nullptr) return Fail(ErrorCode::kInvalidName);
  return std::string(output.get());
}

}  // namespace

bool IsAsciiHost(std::u16string_view host) {
  for (char16_t c : host) {
    if (c >= 0x80) return false;
  }
  return true;
}

ErrorOr<std::u16string> HostNameToAscii(std::u16string_view host) {
  if (IsAsciiHost(host)) return std::u16string(host);
  // Before the conversion: an embedded NUL would end the library's input early.
  if (host.find(u'\0') != std::u16string_view::npos) return Fail(ErrorCode::kInvalidName);

  // The library's STD3 mode drops disallowed characters instead of failing ("a_b\u00fc" gives
  // the form of "ab\u00fc"), which would let a different host pass for this one. The conversion
  // without the STD3 rules keeps them (or fails), so the two forms must agree.
  const std::string utf8 = ToUtf8(host);
  const ErrorOr<std::string> std3 = Convert(utf8, IDN2_NONTRANSITIONAL | IDN2_USE_STD3_ASCII_RULES);
  if (!std3) return std3.error();
  const ErrorOr<std::string> plain = Convert(utf8, IDN2_NONTRANSITIONAL);
  if (!plain) return plain.error();
  if (std3.value() != plain.value() || !IsValidAsciiHost(std3.value())) {
    return Fail(ErrorCode::kInvalidName);
  }
  return FromAscii(std3.value());
}

}  // namespace qs::platform
