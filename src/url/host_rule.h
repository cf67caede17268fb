// Host rules of the site lists and the redirect list: a host name, or a pattern "*." followed by
// a suffix.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qs {

// Whether `host` matches the rule `domain`, compared character for character (callers bring
// both to the form they compare in: ASCII, and lower case where letter case must not count).
// A rule of at least 3 characters beginning with "*." matches its suffix itself and any host
// that ends with "." followed by the suffix; any other rule matches only the equal host (an
// empty rule only an empty host). The port takes no part.
bool HostMatchesRule(std::u16string_view domain, std::u16string_view host);

// The ASCII form of a rule's host (HostToAscii): a "*." pattern keeps its prefix and converts
// its suffix, so that a pattern of an international domain matches its pages in either spelling.
// Nothing when the host, or the pattern's suffix, has no ASCII form.
std::optional<std::u16string> RuleHostToAscii(std::u16string_view rule);

}  // namespace qs
