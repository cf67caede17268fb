#include "url/scheme_and_host.h"

#include "platform/error.h"
#include "platform/host_names.h"
#include "platform/text.h"
#include "platform/url_parts.h"

namespace qs {

namespace {

// Longest ASCII form the conversion may give, in characters with room for a terminator.
constexpr size_t kAsciiFormCapacity = 257;
constexpr uint32_t kPointer = 0x80004003;

}  // namespace

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
