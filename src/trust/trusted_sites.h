// The trusted-sites zone of pages shown in a browser.
//
// A browser gives the control no security zone, so the host decides it from the page address:
// zone 2 (trusted sites) when the page's host matches an entry of the trusted-sites list, 3
// (internet) otherwise. The list is the administrator's policy entries followed by the user's
// own; entries follow the site lock's pattern rules: "https://host" binds the scheme, a bare
// "host" or "*.suffix" allows http and https on any port, "*.suffix" also covers the suffix
// itself, hosts compare in ASCII form and letter case counts. Nothing is cached.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace qs {

inline constexpr uint32_t kTrustedSitesZone = 2;
inline constexpr uint32_t kInternetZone = 3;

// Whether the page at `url` (http or https, no user name or password) matches `pattern`.
// An entry that cannot be understood, or that exceeds the site lock's length limits, matches
// nothing.
bool SitePatternMatches(std::u16string_view pattern, std::u16string_view url);
// Whether `pattern` can match any page at all (for refusing useless entries when added).
bool IsUsableSitePattern(std::u16string_view pattern);

// The administrator's entries, then the user's.
std::vector<std::u16string> ReadPolicyTrustedSites();
std::vector<std::u16string> ReadUserTrustedSites();

// kTrustedSitesZone or kInternetZone for the page at `url`.
uint32_t ZoneOfPage(std::u16string_view url);

// Appends to the user's list; 87 for a pattern that can match nothing, success without a
// second copy when the list holds it already (compared without regard to case).
ErrorOr<void> AddUserTrustedSite(std::u16string_view pattern);
// Removes every user entry equal to `pattern` without regard to case, keeping the list's
// numbering without gaps; 2 when there was none.
ErrorOr<void> RemoveUserTrustedSite(std::u16string_view pattern);

}  // namespace qs
