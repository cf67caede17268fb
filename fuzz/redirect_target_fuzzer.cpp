// Redirect targets of a download: whatever Location a server answers with, a redirect is
// followed only when the page's own host and port would be accepted for it (and never from
// https to http), and a listed host never lets a look-alike through. Input: the first request's
// URL, a line feed, the Location, a line feed, one administrator's list entry.
#include "fuzz_input.h"
#include "platform/host_names.h"
#include "platform/url_parts.h"
#include "url/host_rule.h"
#include "url/redirect_rule.h"
#include "url/request_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  const auto pieces = fuzz::Pieces(fuzz::Bytes(data, size), 3);
  const std::u16string first = fuzz::Utf16(pieces[0]);
  const std::u16string location = fuzz::Utf16(pieces[1]);
  const std::u16string entry = fuzz::Utf16(pieces[2]);

  // The target as the HTTP client would follow it.
  auto combined = platform::CombineUrl(first, location, kResolvedUrlCapacity - 1);
  if (!combined.ok()) return 0;
  auto target = platform::UrlForRequest(*combined);
  // Longer targets are the client's limit to refuse, not a question of hosts.
  if (!target.ok() || target->size() >= kResolvedUrlCapacity) return 0;
  auto to = platform::SplitUrl(*target);

  if (MayFollowRedirect(first, first, *target, {})) {
    // Followed on its own: the page's own scheme, host (compared in its ASCII form, so an
    // internationalised name and its xn-- spelling are one host) and port.
    auto from = platform::SplitUrl(first);
    QSFT_FUZZ_CHECK(from.ok() && to.ok());
    QSFT_FUZZ_CHECK(to->scheme == from->scheme);
    QSFT_FUZZ_CHECK(to->port == from->port);
    QSFT_FUZZ_CHECK(to->user.empty() && to->password.empty());
    auto from_host = platform::HostNameToAscii(from->host);
    auto to_host = platform::HostNameToAscii(to->host);
    QSFT_FUZZ_CHECK(from_host.ok() && to_host.ok());
    QSFT_FUZZ_CHECK(ToLowerAscii(*from_host) == ToLowerAscii(*to_host));
  }

  // With a listed host: anything more that is followed is on a host the rule names.
  const std::u16string entries[] = {entry};
  const auto rules = RedirectHostRules(entries);
  if (MayFollowRedirect(first, first, *target, rules) &&
      !MayFollowRedirect(first, first, *target, {})) {
    QSFT_FUZZ_CHECK(to.ok() && rules.size() == 1);
    auto host = platform::HostNameToAscii(to->host);
    QSFT_FUZZ_CHECK(host.ok() && HostMatchesRule(rules[0], ToLowerAscii(*host)));
    QSFT_FUZZ_CHECK(to->scheme == u"https" || to->scheme == u"http");
    auto from = platform::SplitUrl(first);
    QSFT_FUZZ_CHECK(from.ok() && !(from->scheme == u"https" && to->scheme == u"http"));
  }
  return 0;
}
