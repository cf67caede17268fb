#include "url/redirect_rule.h"

#include "base/text.h"
#include "platform/host_names.h"
#include "platform/url_parts.h"
#include "url/host_rule.h"
#include "url/scheme_and_host.h"

namespace qs {

namespace {

bool IsWebScheme(std::u16string_view scheme) { return scheme == u"http" || scheme == u"https"; }

bool IsHostCharacter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' ||
         c == u'_' || c == u'[' || c == u']' || c == u':';
}

// The host in the form rules are compared in: ASCII, lower case, nothing a host name (or an
// address literal) cannot hold. Empty when it has no such form.
std::u16string ComparableHost(std::u16string_view host) {
  auto ascii = platform::HostNameToAscii(host);
  if (!ascii.ok()) return {};
  std::u16string lower = ToLowerAscii(*ascii);
  for (const char16_t c : lower) {
    if (!IsHostCharacter(c)) return {};
  }
  return lower;
}

}  // namespace

std::vector<std::u16string> RedirectHostRules(std::span<const std::u16string> entries) {
  std::vector<std::u16string> rules;
  for (const auto& entry : entries) {
    std::u16string host = entry;
    if (entry.find(u"://") != std::u16string::npos) {
      auto split = SplitSchemeAndHost(entry);
      if (!split) continue;
      host = split->host;
    }
    // A pattern keeps its "*." in front of a converted suffix.
    const bool pattern = host.size() >= 3 && host.starts_with(u"*.");
    std::u16string rule = ComparableHost(pattern ? host.substr(2) : host);
    if (rule.empty()) continue;
    rules.push_back(pattern ? u"*." + rule : rule);
  }
  return rules;
}

bool MayFollowRedirect(std::u16string_view first_url, std::u16string_view from_url,
                       std::u16string_view to_url, std::span<const std::u16string> host_rules) {
  auto first = platform::SplitUrl(first_url);
  auto from = platform::SplitUrl(from_url);
  auto to = platform::SplitUrl(to_url);
  if (!first.ok() || !from.ok() || !to.ok()) return false;
  if (!IsWebScheme(to->scheme) || !to->user.empty() || !to->password.empty()) return false;
  if (from->scheme == u"https" && to->scheme != u"https") return false;
  const std::u16string host = ComparableHost(to->host);
  if (host.empty()) return false;

  if (to->scheme == first->scheme && to->port == first->port &&
      host == ComparableHost(first->host)) {
    return true;
  }
  for (const auto& rule : host_rules) {
    if (HostMatchesRule(rule, host)) return true;
  }
  return false;
}

}  // namespace qs
