#include "platform/host_names.h"

#include <idn2.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/text.h"

namespace qs::platform {

namespace {

constexpr size_t kMaxLabelLength = 63;

struct IdnFree {
  void operator()(char* p) const { idn2_free(p); }
};

bool IsLdhCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsValidLabel(std::string_view label) {
  if (label.empty() || label.size() > kMaxLabelLength) return false;
  if (label.front() == '-' || label.back() == '-') return false;
  for (char c : label) {
    if (!IsLdhCharacter(c)) return false;
  }
  return true;
}

// The library's STD3 mode drops disallowed characters instead of failing ("a_b" gives "ab"), so
// its output is held to the rules here; a host that loses characters is refused.
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

  const std::string utf8 = ToUtf8(host);
  char* raw = nullptr;
  const int rc = idn2_to_ascii_8z(utf8.c_str(), &raw, IDN2_NONTRANSITIONAL | IDN2_USE_STD3_ASCII_RULES);
  const std::unique_ptr<char, IdnFree> output(raw);
  if (rc == IDN2_MALLOC) return Fail(ErrorCode::kNotEnoughMemory);
  if (rc != IDN2_OK || output == nullptr) return Fail(ErrorCode::kInvalidName);
  if (!IsValidAsciiHost(output.get())) return Fail(ErrorCode::kInvalidName);
  return FromAscii(output.get());
}

}  // namespace qs::platform
