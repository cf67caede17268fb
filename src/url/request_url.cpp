#include "url/request_url.h"

#include "base/error.h"
#include "base/text.h"
#include "platform/host_names.h"
#include "platform/last_error.h"
#include "platform/url_parts.h"

namespace qs {

namespace {

bool IsFailure(uint32_t result) { return (result & 0x80000000u) != 0; }

// The platform code a page sees when its address cannot be had: the low half of the failure,
// the way the control has always reported it. A failure without a low half must still read as
// a failure, never as 0.
uint32_t PageFailureCode(uint32_t result) {
  const uint32_t low = result & 0xFFFFu;
  return low != 0 ? low : ToUint(ErrorCode::kInvalidParameter);
}

// Whether two hosts name the same server: equal letter case aside, or of the same ASCII form,
// the form the HTTP client connects to (an international host and its "xn--" spelling). A host
// without an ASCII form equals only itself, letter case aside.
bool SameHost(std::u16string_view a, std::u16string_view b) {
  if (EqualsIgnoreCase(a, b)) return true;
  if (platform::IsAsciiHost(a) && platform::IsAsciiHost(b)) return false;
  const uint32_t saved = platform::LastError();  // a question, not a failure
  auto ascii_a = platform::HostNameToAscii(a);
  auto ascii_b = platform::HostNameToAscii(b);
  platform::SetLastError(saved);
  return ascii_a.ok() && ascii_b.ok() && EqualsIgnoreCase(*ascii_a, *ascii_b);
}

}  // namespace

uint32_t GetPageUrl(const PageUrlSource& source, std::u16string& url) {
  if (!source) return hresult::kFail;
  std::u16string address;
  const uint32_t result = source(address);
  if (IsFailure(result)) return result;
  url = std::move(address);
  return result;
}

uint32_t ResolveRequestUrl(const PageUrlSource& page, std::u16string_view relative,
                           std::u16string& absolute) {
  constexpr size_t kMaxLength = kResolvedUrlCapacity - 1;

  std::u16string page_url;
  const uint32_t page_result = GetPageUrl(page, page_url);
  if (IsFailure(page_result)) return PageFailureCode(page_result);
  if (!platform::IsUrl(page_url)) return ToUint(ErrorCode::kInvalidParameter);

  auto page_parts = platform::SplitUrl(page_url);
  if (!page_parts) return page_parts.code();
  auto combined = platform::CombineUrl(page_url, relative, kMaxLength);
  if (!combined) return combined.code();
  auto combined_parts = platform::SplitUrl(*combined);
  if (!combined_parts) return combined_parts.code();

  if (!SameHost(page_parts->host, combined_parts->host) ||
      page_parts->port != combined_parts->port) {
    return ToUint(ErrorCode::kInvalidParameter);
  }

  auto request_url = platform::UrlForRequest(*combined);
  if (!request_url) return request_url.code();
  if (request_url->size() > kMaxLength) {
    return platform::Fail(ErrorCode::kInsufficientBuffer).code;
  }
  absolute = std::move(request_url).value();
  return ToUint(ErrorCode::kSuccess);
}

}  // namespace qs
