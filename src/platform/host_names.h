// Internationalised host names to their ASCII form.
//
// Host names are compared with the administrator's site list and handed to the HTTP client in
// ASCII form only. The conversion follows the STD3 rules: the result is a sequence of labels of
// 1 to 63 characters from a-z, 0-9 and "-", no label beginning or ending with "-". A host that
// has no such form is refused; nothing is ever dropped from it silently.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// True when every character of `host` is below 0x80.
bool IsAsciiHost(std::u16string_view host);

// The ASCII form of `host`. An all-ASCII host comes back unchanged (letter case kept, nothing
// checked, the conversion library never called). Otherwise the host is converted (case mapped,
// non-ASCII labels as "xn--" labels) and the result checked against the rules above.
// Failures, also left as the last error: 123 kInvalidName when the host has no valid ASCII
// form, 8 kNotEnoughMemory.
ErrorOr<std::u16string> HostNameToAscii(std::u16string_view host);

}  // namespace qs::platform
