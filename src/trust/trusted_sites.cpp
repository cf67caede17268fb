#include "trust/trusted_sites.h"

#include <optional>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "platform/settings_store.h"
#include "trust/site_lock.h"  // the site list's limits
#include "url/host_rule.h"
#include "url/scheme_and_host.h"

namespace qs {

namespace {

struct Rule {
  std::u16string scheme;  // empty: http and https
  std::u16string host;    // ASCII form
};

std::optional<Rule> ParsePattern(std::u16string_view pattern) {
  // The site lock's limits: scheme and host in characters, an entry with "http://" in front.
  constexpr std::u16string_view kHttpPrefix = u"http://";
  if (pattern.empty() || pattern.size() + kHttpPrefix.size() > kMaxSiteEntryLength) {
    return std::nullopt;
  }
  Rule rule;
  auto split = SplitSchemeAndHost(pattern);
  if (split && !split->scheme.empty() && !split->host.empty()) {
    rule.scheme = split->scheme;
    rule.host = split->host;
  } else {
    auto bare = SplitSchemeAndHost(std::u16string(kHttpPrefix) + std::u16string(pattern));
    if (!bare || bare->host.empty()) return std::nullopt;
    rule.host = bare->host;
  }
  if (rule.scheme.size() > kMaxSiteSchemeLength || rule.host.size() > kMaxSiteHostLength) {
    return std::nullopt;
  }
  auto ascii = RuleHostToAscii(rule.host);
  if (!ascii) return std::nullopt;
  rule.host = std::move(ascii).value();
  return rule;
}

std::u16string UserListPath() {
  return std::u16string(kClientKey) + u"\\" + std::u16string(kTrustedSites);
}

// Rewrites the user's list as `entries`, numbered from 1, in one transaction.
ErrorOr<void> WriteUserList(const std::vector<std::u16string>& entries) {
  std::vector<platform::SettingsOp> ops;
  const std::u16string path = UserListPath();
  ops.push_back({platform::SettingsOp::Kind::kDeleteKey, path, {}, {}});
  ops.push_back({platform::SettingsOp::Kind::kCreateKey, path, {}, {}});
  for (size_t i = 0; i < entries.size(); ++i) {
    ops.push_back({platform::SettingsOp::Kind::kSetValue, path, FromAscii(std::to_string(i + 1)),
                   platform::RegValue{platform::kRegSz, SzData(entries[i])}});
  }
  return platform::ApplySettingsBatch(ops);
}

}  // namespace

bool IsUsableSitePattern(std::u16string_view pattern) { return ParsePattern(pattern).has_value(); }

bool SitePatternMatches(std::u16string_view pattern, std::u16string_view url) {
  std::u16string scheme;
  std::u16string host;
  if (GetUrlSchemeAndHost(url, &scheme, kUrlSchemeCapacity, &host, kHostNameCapacity) != 0) {
    return false;
  }
  if (host.empty()) return false;
  auto rule = ParsePattern(pattern);
  if (!rule) return false;
  if (rule->scheme.empty() ? (scheme != u"http" && scheme != u"https") : rule->scheme != scheme) {
    return false;
  }
  return HostMatchesRule(rule->host, host);
}

std::vector<std::u16string> ReadPolicyTrustedSites() {
  return ReadNumberedList(PolicyKeyPath(kTrustedSites));
}

std::vector<std::u16string> ReadUserTrustedSites() { return ReadNumberedList(UserListPath()); }

uint32_t ZoneOfPage(std::u16string_view url) {
  for (const auto& list : {ReadPolicyTrustedSites(), ReadUserTrustedSites()}) {
    for (const auto& pattern : list) {
      if (SitePatternMatches(pattern, url)) return kTrustedSitesZone;
    }
  }
  return kInternetZone;
}

ErrorOr<void> AddUserTrustedSite(std::u16string_view pattern) {
  if (!IsUsableSitePattern(pattern)) return ErrorCode::kInvalidParameter;
  std::vector<std::u16string> entries = ReadUserTrustedSites();
  for (const auto& e : entries) {
    if (EqualsIgnoreCase(e, pattern)) return {};
  }
  entries.emplace_back(pattern);
  return WriteUserList(entries);
}

ErrorOr<void> RemoveUserTrustedSite(std::u16string_view pattern) {
  std::vector<std::u16string> entries = ReadUserTrustedSites();
  std::vector<std::u16string> kept;
  for (auto& e : entries) {
    if (!EqualsIgnoreCase(e, pattern)) kept.push_back(std::move(e));
  }
  if (kept.size() == entries.size()) return ErrorCode::kFileNotFound;
  return WriteUserList(kept);
}

}  // namespace qs
