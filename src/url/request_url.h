// Resolution of the URLs a page hands to the control.
//
// The control talks only to the server that served its page. Every URL a page gives to a
// transfer (download, upload, language module) is resolved against the page's own address, and
// the result must name the same host (letter case aside; an international host and its "xn--"
// spelling are one host, the one the HTTP client connects to) and the same port (the scheme's
// default when none is written). The schemes are not compared: an http URL on the page's host with
// the explicit port 443 is accepted for an https page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qs {

// Longest resolved URL, in characters with room for a terminator.
inline constexpr size_t kResolvedUrlCapacity = 2084;

// Where the hosting page's address comes from: the control's page identity, address only.
// Returns a result code, 0 with the address stored in `url` on success, or a failure code (high
// bit set).
using PageUrlSource = std::function<uint32_t(std::u16string& url)>;

// The hosting page's address. Returns the source's result code; 0x80004005 when there is no
// source. `url` is written only on success.
uint32_t GetPageUrl(const PageUrlSource& source, std::u16string& url);

// Resolves `relative` against the page's address. Returns a platform error code:
//   0            success: `absolute` holds the resolved URL, ready for the HTTP client (no
//                fragment, host in ASCII form)
//   87           the page's address is not a URL, the result names another host or port, or
//                the page's address could not be had and its failure code has no low 16 bits
//   122          the result is longer than kResolvedUrlCapacity - 1 characters
//   12005, 12006 a URL that does not parse (see platform/url_parts.h)
//   123          the resolved host has no valid ASCII form
//   otherwise    the low 16 bits of GetPageUrl's failure code
// `absolute` is written only on success.
uint32_t ResolveRequestUrl(const PageUrlSource& page, std::u16string_view relative,
                           std::u16string& absolute);

}  // namespace qs
