#include "transfer/error_text.h"

#include "base/error.h"
#include "platform/last_error.h"

namespace qs {

std::u16string FormatErrorText(uint32_t code) {
  if (code == kLastErrorCode) code = platform::LastError();
  if (auto text = SystemErrorMessage(code)) return std::move(*text);
  return u"Error";
}

Variant MakeErrorResult(uint32_t code) { return Variant::String(FormatErrorText(code)); }

}  // namespace qs
