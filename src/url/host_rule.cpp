#include "url/host_rule.h"

#include "url/scheme_and_host.h"

namespace qs {

namespace {

constexpr std::u16string_view kPatternPrefix = u"*.";

bool IsPattern(std::u16string_view rule) {
  return rule.size() > kPatternPrefix.size() && rule.starts_with(kPatternPrefix);
}

}  // namespace

bool HostMatchesRule(std::u16string_view domain, std::u16string_view host) {
  if (IsPattern(domain)) {
    const std::u16string_view suffix = domain.substr(kPatternPrefix.size());
    if (host == suffix) return true;
    return host.size() > suffix.size() && host.ends_with(suffix) &&
           host[host.size() - suffix.size() - 1] == u'.';
  }
  return host == domain;
}

std::optional<std::u16string> RuleHostToAscii(std::u16string_view rule) {
  std::u16string prefix;
  if (IsPattern(rule)) {
    prefix = kPatternPrefix;
    rule.remove_prefix(kPatternPrefix.size());
  }
  std::u16string ascii(rule);
  if (HostToAscii(&ascii, kHostNameCapacity) != 0) return std::nullopt;
  return prefix + ascii;
}

}  // namespace qs
