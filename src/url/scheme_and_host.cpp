#include "url/scheme_and_host.h"

#include "base/error.h"
#include "base/text.h"
#include "platform/host_names.h"
#include "platform/last_error.h"
#include "platform/url_parts.h"

namespace qs {

namespace {

// Longest ASCII form the conversion may give, in characters with room for a terminator.
constexpr size_t kAsciiFormCapacity = 257;
constexpr uint32_t kPointer = 0x80004003;

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool IsSchemeCharacter(char16_t c) {
  return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

// The host of an authority ("user:pw@host:port"), as written.
std::u16string_view HostOfAuthority(std::u16string_view authority) {
  const size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority.front() == u'[') {
    const size_t close = authority.find(u']');
    return close == std::u16string_view::npos ? authority : authority.substr(0, close + 1);
  }
  return authority.substr(0, authority.find(u':'));
}

}  // namespace

std::optional<SchemeAndHost> SplitSchemeAndHost(std::u16string_view entry) {
  const size_t colon = entry.find(u':');
  if (colon == 0 || colon == std::u16string_view::npos || !IsAsciiLetter(entry[0])) {
    return std::nullopt;
  }
  for (size_t i = 1; i < colon; ++i) {
    if (!IsSchemeCharacter(entry[i])) return std::nullopt;
  }
  SchemeAndHost result;
  result.scheme = entry.substr(0, colon);
  std::u16string_view rest = entry.substr(colon + 1);
  if (rest.substr(0, 2) == u"//") {
    rest.remove_prefix(2);
    const std::u16string_view authority = rest.substr(0, rest.find_first_of(u"/?#"));
    result.host = HostOfAuthority(authority);
  }
  return result;
}

uint32_t GetUrlSchemeAndHost(std::u16string_view url, std::u16string* scheme,
                             size_t scheme_capacity, std::u16string* host, size_t host_capacity) {
  if (scheme == nullptr || host == nullptr) return kPointer;

  const auto parts = platform::SplitUrl(url);
  if (!parts || parts->scheme.size() >= scheme_capacity) return hresult::kFail;
  *scheme = parts->scheme;
  // A host that does not fit is left empty, and the checks go on.
  if (parts->host.size() < host_capacity) {
    *host = parts->host;
  } else {
    host->clear();
  }

  if (!EqualsIgnoreCase(*scheme, u"http") && !EqualsIgnoreCase(*scheme, u"https")) {
    return hresult::kFail;
  }
  if (!parts->user.empty() || !parts->password.empty()) return hresult::kFail;
  return HostToAscii(host, host_capacity);
}

uint32_t HostToAscii(std::u16string* host, size_t host_capacity) {
  if (host == nullptr) return kPointer;
  if (platform::IsAsciiHost(*host)) return hresult::kOk;

  auto ascii = platform::HostNameToAscii(*host);
  if (!ascii) return hresult::FromWin32(ascii.error().code);
  const size_t n = ascii->size();
  if (n == 0 || n >= kAsciiFormCapacity) {
    return hresult::FromWin32(platform::Fail(ErrorCode::kInsufficientBuffer).code);
  }
  if (n >= host_capacity) return hresult::kOutOfMemory;
  *host = std::move(ascii).value();
  return hresult::kOk;
}

}  // namespace qs
