// Taking URLs apart and combining them, the way the HTTP client will later read them.
//
// The host checks of the control are only as good as their agreement with the client that
// connects: a URL judged to name the page's host must make the client connect to that host. So
// the parsing here is the HTTP client's own parser, not a second one of our making.
//
// Text is UTF-16 on both sides. Hosts come back as written (letter case kept, percent escapes
// decoded); callers compare them without regard to case. Every failure returns its platform code
// and also leaves it as the thread's last error:
//   12006 kInternetUnrecognizedScheme  no scheme, or one that cannot be a scheme
//   12005 kInternetInvalidUrl          anything else that does not parse (bad host, bad port,
//                                      control characters, an embedded NUL)
//   122   kInsufficientBuffer          the result is longer than the caller's limit
//   8     kNotEnoughMemory             the parser ran out of memory
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

struct UrlParts {
  std::u16string scheme;  // lower case
  std::u16string host;    // empty for a URL without one (file:///x)
  uint16_t port = 0;      // as written, else the scheme's default; 0 when neither is known
  bool has_explicit_port = false;
  std::u16string user;      // percent-decoded; empty when absent
  std::u16string password;  // percent-decoded; empty when absent
  std::u16string path;      // as the client will send it, starting with "/"
  std::u16string query;     // without the "?"; empty when absent

  // The path followed by "?query" when there is a query: what a request line carries.
  std::u16string PathAndQuery() const;
};

// True when `text` is an absolute URL that the client can parse: a scheme followed by "//"
// (schemes it does not support included), or a file URL.
bool IsUrl(std::u16string_view text);

// Splits an absolute URL into its parts.
ErrorOr<UrlParts> SplitUrl(std::u16string_view url);

// Resolves `reference` against the absolute URL `base` the way a browser resolves a link: an
// absolute reference replaces the base, "//host/x" keeps only the base's scheme, "/x" keeps its
// authority, "x" and "../x" resolve against the base's directory, "?q" keeps its path. Leading
// and trailing spaces and control characters and any tab or line break are removed from the
// reference first, and in http, https, ftp, file, ws and wss URLs a "\" before the query counts
// as "/", as browsers do; an empty reference gives the base itself. Path, query and fragment
// are percent-encoded as browsers send them: a space is %20 (never "+"), a non-ASCII character
// its UTF-8 bytes, existing escapes stay. The fragment is kept.
// A result longer than `max_length` characters fails with 122.
ErrorOr<std::u16string> CombineUrl(std::u16string_view base, std::u16string_view reference,
                                   size_t max_length);

// The URL without its fragment, with its host in ASCII form (HostNameToAscii), as the HTTP
// client needs it: a fragment is never sent to a server, and the client accepts only ASCII
// host names. Fails like SplitUrl, or with the conversion's code when the host has no valid
// ASCII form.
ErrorOr<std::u16string> UrlForRequest(std::u16string_view url);

}  // namespace qs::platform
