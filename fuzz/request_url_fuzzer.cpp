// URL resolution against the page's address: whatever a page hands in, an accepted URL makes
// the HTTP client connect to the page's own host and port, fits its buffer and carries no
// fragment. Input: the page's address, a line feed, the reference the page gives.
#include "fuzz_input.h"
#include "platform/host_names.h"
#include "platform/url_parts.h"
#include "url/request_url.h"
#include "url/scheme_and_host.h"

namespace {

// ASCII letters folded: the host the client connects to, written as DNS compares it.
std::u16string FoldAscii(std::u16string_view text) { return qs::ToLowerAscii(text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  const auto pieces = fuzz::Pieces(fuzz::Bytes(data, size), 2);
  const std::u16string page = fuzz::Utf16(pieces[0]);
  const std::u16string reference = fuzz::Utf16(pieces[1]);

  const PageUrlSource source = [&page](std::u16string& url) {
    url = page;
    return 0u;
  };
  std::u16string absolute = u"untouched";
  const uint32_t code = ResolveRequestUrl(source, reference, absolute);
  if (code != 0) {
    QSFT_FUZZ_CHECK(absolute == u"untouched");
  } else {
    QSFT_FUZZ_CHECK(absolute.size() < kResolvedUrlCapacity);
    QSFT_FUZZ_CHECK(absolute.find(u'#') == std::u16string::npos);
    auto page_parts = platform::SplitUrl(page);
    auto request_parts = platform::SplitUrl(absolute);
    QSFT_FUZZ_CHECK(page_parts.ok());
    QSFT_FUZZ_CHECK(request_parts.ok());
    QSFT_FUZZ_CHECK(platform::IsAsciiHost(request_parts->host));
    auto page_host = platform::HostNameToAscii(page_parts->host);
    QSFT_FUZZ_CHECK(page_host.ok());
    QSFT_FUZZ_CHECK(FoldAscii(*page_host) == FoldAscii(request_parts->host));
    QSFT_FUZZ_CHECK(page_parts->port == request_parts->port);
    // What the client is handed is already in its final form.
    auto again = platform::UrlForRequest(absolute);
    QSFT_FUZZ_CHECK(again.ok() && *again == absolute);
  }

  // The site-lock readers see the same texts.
  std::u16string scheme;
  std::u16string host;
  if (GetUrlSchemeAndHost(page, &scheme, kUrlSchemeCapacity, &host, kHostNameCapacity) == 0) {
    QSFT_FUZZ_CHECK(scheme == u"http" || scheme == u"https");
    QSFT_FUZZ_CHECK(host.size() < kHostNameCapacity && platform::IsAsciiHost(host));
  }
  if (auto split = SplitSchemeAndHost(reference)) {
    QSFT_FUZZ_CHECK(split->scheme.size() + split->host.size() <= reference.size());
  }
  return 0;
}
