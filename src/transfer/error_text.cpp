#include "transfer/error_text.h"

#include "base/error.h"
#include "platform/last_error.h"
#include "transfer/transfer_end.h"
#include "transfer/transferred_file.h"

namespace qs {

std::u16string FormatErrorText(uint32_t code) {
  if (code == kLastErrorCode) code = platform::LastError();
  if (auto text = SystemErrorMessage(code)) return std::move(*text);
  return u"Error";
}

Variant MakeErrorResult(uint32_t code) { return Variant::String(FormatErrorText(code)); }

TransferState PageState(const TransferEnd& end) {
  return end.failed() ? TransferState::kFailed : TransferState::kDone;
}

std::u16string PageText(const TransferEnd& end) {
  if (end.text) return *end.text;
  if (end.error.code == 0) return std::u16string(kTransferErrorText);
  return FormatErrorText(end.error.code);
}

}  // namespace qs
