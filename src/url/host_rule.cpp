#include "url/host_rule.h"

namespace qs {

bool HostMatchesRule(std::u16string_view domain, std::u16string_view host) {
  if (domain.size() >= 3 && domain.starts_with(u"*.")) {
    const std::u16string_view suffix = domain.substr(2);
    if (host == suffix) return true;
    return host.size() > suffix.size() && host.ends_with(suffix) &&
           host[host.size() - suffix.size() - 1] == u'.';
  }
  return host == domain;
}

}  // namespace qs
