// Host rules of the site lists and the redirect list: a host name, or a pattern "*." followed by
// a suffix.
#pragma once

#include <string_view>

namespace qs {

// Whether `host` matches the rule `domain`, compared character for character (callers bring
// both to the form they compare in: ASCII, and lower case where letter case must not count).
// A rule of at least 3 characters beginning with "*." matches its suffix itself and any host
// that ends with "." followed by the suffix; any other rule matches only the equal host (an
// empty rule only an empty host). The port takes no part.
bool HostMatchesRule(std::u16string_view domain, std::u16string_view host);

}  // namespace qs
