// The scheme and ASCII host of a page address, for comparing it with the administrator's site
// list.
//
// Both operations report in result codes (0 for success, failures with the high bit set), fill
// caller-provided outputs and honour the caller's capacities, counted in characters with room for
// a terminator: a text of n characters needs a capacity of at least n + 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs {

// Capacities the control's callers use.
inline constexpr size_t kUrlSchemeCapacity = 33;
inline constexpr size_t kHostNameCapacity = 257;

// Takes `url` apart into its scheme (lower case) and its host in ASCII form.
//   0          success; a host that does not fit `host_capacity` comes back empty
//   0x80004003 `scheme` or `host` is missing
//   0x80004005 the URL does not parse, its scheme does not fit `scheme_capacity`, the scheme is
//              not http or https, or the URL carries a user name or a password
//   otherwise  the result of HostToAscii
// The outputs may be written also when the URL is refused.
uint32_t GetUrlSchemeAndHost(std::u16string_view url, std::u16string* scheme,
                             size_t scheme_capacity, std::u16string* host, size_t host_capacity);

// The scheme and host of an administrator's site-list entry, read by the generic URL syntax
// only: "scheme:" then, after "//", the authority up to the first "/", "?" or "#", without any
// user information before its last "@" and without the port. Entries may hold host patterns such
// as "*.example.com" that no URL parser accepts, so the host's characters are not checked and
// nothing is decoded. Nothing when the text has no scheme; an empty host when it has no "//" (so
// "localhost:8080" gives the scheme "localhost" and no host). Never use it for an address the
// control connects to: GetUrlSchemeAndHost reads those as the HTTP client does.
struct SchemeAndHost {
  std::u16string scheme;  // as written
  std::u16string host;    // as written
};
std::optional<SchemeAndHost> SplitSchemeAndHost(std::u16string_view entry);

// Replaces `host` by its ASCII form under the STD3 rules (see platform/host_names.h).
//   0          success; an all-ASCII host is left exactly as it is
//   0x80004003 `host` is missing
//   0x8007000E the ASCII form does not fit `host_capacity`; `host` is unchanged
//   0x8007xxxx the conversion failed with platform code xxxx (0x8007007B: no valid ASCII form);
//              `host` is unchanged
uint32_t HostToAscii(std::u16string* host, size_t host_capacity);

}  // namespace qs
