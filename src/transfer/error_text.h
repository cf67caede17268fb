// Platform error codes as text for the page.
#pragma once

#include <cstdint>
#include <string>

#include "base/variant.h"

namespace qs {

// Code meaning "the calling thread's last error, read at the moment of the call".
inline constexpr uint32_t kLastErrorCode = 0xFFFFFFFF;

// The message text of `code` as the platform's table gives it (ending in a line break), or
// "Error" when the code has no text.
std::u16string FormatErrorText(uint32_t code);

// FormatErrorText(code) as a string result, for script methods that fail before a transfer
// exists.
Variant MakeErrorResult(uint32_t code);

}  // namespace qs
