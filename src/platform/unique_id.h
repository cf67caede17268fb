// Fresh identifiers that no other party can predict or has used before.
#pragma once

#include <string>

namespace qs::platform {

// A newly generated UUID as text: 36 characters, lower-case hexadecimal digits in groups of 8,
// 4, 4, 4 and 12 joined by "-", no braces. Never fails: should the system generator give no
// usable text, a random version-4 UUID of the same form is made from the C++ library's
// generator.
std::u16string NewUuidText();

}  // namespace qs::platform
