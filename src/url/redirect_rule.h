// Which redirects a download follows.
//
// A download's first request goes to the page's own host and port (ResolveRequestUrl). An
// answer that redirects must not take it anywhere else: an open redirect on the page's server
// would otherwise let a page fetch another internal service into the working directory, with
// the page's cookies going along. So a redirect is followed only
// - to the first request's scheme, host (letter case aside) and port, or
// - to a host the administrator listed (a document store that hands out links to another
//   host), matched by the site lock's host rules without regard to letter case, on any port;
// never from https to http, never to another scheme, never to a URL carrying a user name or
// password. How many hops are followed is the HTTP client's limit (platform/http.h).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The administrator's list entries as host rules: each entry a host, a host pattern
// "*.suffix", or a URL whose host counts; converted to ASCII form and lower case. Entries that
// give no usable host are dropped.
std::vector<std::u16string> RedirectHostRules(std::span<const std::u16string> entries);

// Whether a download whose first request went to `first_url` may follow the redirect that the
// answer from `from_url` gives to `to_url` (all absolute URLs). `host_rules` as
// RedirectHostRules gives them.
bool MayFollowRedirect(std::u16string_view first_url, std::u16string_view from_url,
                       std::u16string_view to_url, std::span<const std::u16string> host_rules);

}  // namespace qs
