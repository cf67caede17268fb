// How a transfer's run ended, before it becomes the numbers and texts the page reads.
//
// The worker keeps the whole story (which call failed, with which code, or which answer the
// server gave) until the one place where the status text is built (PageState, PageText). The
// page sees what it has always seen: a cancel and a 204 end in kDone like a success, every
// protocol failure reads "TransferError", a platform failure reads the platform's message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "base/error.h"
#include "transfer/transfer_state.h"

namespace qs {

struct TransferEnd {
  enum class Kind { kDone, kNoContent, kCancelled, kFailed };

  Kind kind = Kind::kDone;
  // kFailed: what failed. Code 0 is a protocol failure: the server's answer was not one the
  // transfer can act on; `status` then holds its status (0 when it had none).
  Error error;
  uint32_t status = 0;
  // kFailed: the page's text as it stands (the server's own answer to an upload chunk), instead
  // of the one made from `error`.
  std::optional<std::u16string> text;

  static TransferEnd Done() { return {}; }
  static TransferEnd NoContent() { return TransferEnd{Kind::kNoContent, {}, 0, {}}; }
  static TransferEnd Cancelled() { return TransferEnd{Kind::kCancelled, {}, 0, {}}; }
  static TransferEnd Failed(Error error) { return TransferEnd{Kind::kFailed, error, 0, {}}; }
  // The server answered, but not as the protocol allows (`status`: its status, 0 when none).
  static TransferEnd Refused(uint32_t status, const char* operation) {
    return TransferEnd{Kind::kFailed, Error{0, operation}, status, {}};
  }
  static TransferEnd FailedWithText(std::u16string text, Error error = {}) {
    return TransferEnd{Kind::kFailed, error, 0, std::move(text)};
  }

  bool failed() const { return kind == Kind::kFailed; }
  bool protocol_failure() const { return failed() && !text && error.code == 0; }
};

// The state the page reads for `end`: kFailed for a failure, kDone for every other end.
TransferState PageState(const TransferEnd& end);
// The text the page reads after a failure: "TransferError" for a protocol failure, the given
// text, or the platform's message for the code. Only for kFailed.
std::u16string PageText(const TransferEnd& end);

}  // namespace qs
