#include "trust/site_lock.h"

#include "base/error_codes.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "trust/trusted_sites.h"
#include "url/host_rule.h"
#include "url/scheme_and_host.h"

namespace qs {

std::vector<SiteRule> RulesOfSiteEntry(std::u16string_view entry) {
  std::vector<SiteRule> rules;
  const auto split = SplitSchemeAndHost(entry);
  if (split && !split->scheme.empty() && !split->host.empty()) {
    if (split->scheme.size() > kMaxSiteSchemeLength || split->host.size() > kMaxSiteHostLength) {
      return rules;
    }
    const auto domain = RuleHostToAscii(split->host);
    rules.push_back(domain ? SiteRule{0, split->scheme, *domain} : SiteRule{1, split->scheme, {}});
    return rules;
  }
  // A bare host or host pattern stands for both web schemes.
  constexpr std::u16string_view kHttpPrefix = u"http://";
  if (kHttpPrefix.size() + entry.size() > kMaxSiteEntryLength) return rules;
  const auto bare = SplitSchemeAndHost(std::u16string(kHttpPrefix) + std::u16string(entry));
  std::optional<std::u16string> domain;
  if (bare && !bare->host.empty() && bare->host.size() <= kMaxSiteHostLength) {
    domain = RuleHostToAscii(bare->host);
  }
  for (std::u16string_view scheme : {u"http", u"https"}) {
    rules.push_back(domain ? SiteRule{0, std::u16string(scheme), *domain}
                           : SiteRule{1, std::u16string(scheme), {}});
  }
  return rules;
}

std::vector<SiteRule> ReadSiteRules() {
  const int32_t zone_kind = ReadTrustedZoneDisabled() == 1u ? 1 : 0;
  std::vector<SiteRule> rules{
      {zone_kind, u"http", std::u16string(kTrustedZoneMarker)},
      {zone_kind, u"https", std::u16string(kTrustedZoneMarker)},
  };
  for (const std::u16string& entry : ReadNumberedList(PolicyKeyPath(kSiteLock))) {
    for (SiteRule& rule : RulesOfSiteEntry(entry)) rules.push_back(std::move(rule));
  }
  return rules;
}

bool CheckSiteLock(const std::optional<HostingPage>& page) {
  if (!page) return false;
  const std::vector<SiteRule> rules = ReadSiteRules();

  // The page must be http or https without a user name or password; its host in ASCII form.
  std::u16string scheme;
  std::u16string host;
  if (GetUrlSchemeAndHost(page->url, &scheme, kUrlSchemeCapacity, &host, kHostNameCapacity) !=
      hresult::kOk) {
    return false;
  }

  for (const SiteRule& rule : rules) {
    if (rule.kind != 0 || rule.scheme != scheme) continue;
    if (rule.domain == kTrustedZoneMarker) {
      if (page->zone == kTrustedSitesZone) return true;
    } else if (HostMatchesRule(rule.domain, host)) {
      return true;
    }
  }
  return false;
}

}  // namespace qs
