// The site lock: whether the page that hosts a control may script it.
//
// A page passes when it is served over http or https, carries no user name or password in its
// address, and either lies in the trusted-sites zone (unless the administrator switched that
// rule off with "TrustedZoneDisabled") or is on a host that the administrator's numbered
// "SiteLock" list allows. The policy is read afresh at every check; nothing is cached.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The domain of a rule that stands for the trusted-sites zone rather than a host.
inline constexpr std::u16string_view kTrustedZoneMarker = u"SITELOCK_TRUSTED_ZONE";

// Longest parts of a site-list entry that are taken in, in characters: the scheme, the host,
// and the whole entry once "http://" is put in front of a bare host. Longer entries are skipped.
inline constexpr size_t kMaxSiteSchemeLength = 32;
inline constexpr size_t kMaxSiteHostLength = 256;
inline constexpr size_t kMaxSiteEntryLength = 2084;

struct SiteRule {
  int32_t kind = 0;  // 0 allows; anything else is switched off
  std::u16string scheme;
  std::u16string domain;
};

// The address and zone of the hosting page.
struct HostingPage {
  std::u16string url;
  uint32_t zone = 0;
};

// The rules in force: the two trusted-zone rules, then those of each site-list entry in order.
// Read from the store at every call.
std::vector<SiteRule> ReadSiteRules();

// The rules that one site-list entry gives (none for an entry beyond the length limits).
std::vector<SiteRule> RulesOfSiteEntry(std::u16string_view entry);

// The whole check; nothing (the page identity could not be obtained) fails it.
bool CheckSiteLock(const std::optional<HostingPage>& page);

}  // namespace qs
