// Following the control's current transfer from a command: poll GetTransferStatus, feed the
// display, cancel through CancelTransfer when asked, and turn the end into an exit code.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "base/variant.h"
#include "qsft/cli_control.h"
#include "qsft/progress.h"

namespace qs::app {

// The control's status text: state, bytes and text, split at the first two "|" only (the text
// may hold more of them, and line breaks).
struct TransferStatus {
  int32_t state = 0;
  uint64_t bytes = 0;
  std::u16string text;
};
std::optional<TransferStatus> ParseTransferStatus(std::u16string_view status);

// States of the status text that mean the transfer has ended.
inline constexpr int32_t kStateDone = 10;
inline constexpr int32_t kStateFailed = -1;

enum class WatchEnd { kDone, kNoContent, kFailed, kCancelled };

struct TransferOutcome {
  WatchEnd end = WatchEnd::kFailed;
  TransferStatus last;  // the last status read
  std::string message;  // for kFailed: why, in one line
};

struct WatchOptions {
  std::chrono::milliseconds poll_interval{100};
  // When it turns true the transfer is cancelled and followed to its end.
  const std::atomic<bool>* cancel = nullptr;
  // Where the command says that it is cancelling and waiting; null: nowhere.
  std::ostream* notices = nullptr;
};

// Follows the transfer that `start_result` (the value of StartFileDownload or StartFileUpload)
// announced until it has ended. A start that returned a message or false is a failure with no
// polling. The page's status says Done for a success, a 204 and a cancel alike; the control's
// transfer itself tells them apart, says why a refused transfer failed, and gives a download's
// announced length to the display.
TransferOutcome WatchTransfer(CliControl& control, const InvokeResult& start_result,
                              ProgressDisplay& display, const WatchOptions& options);

// What a refused transfer met, for a person: "the server answered 404 Not Found", "the proxy
// asks for credentials (407)".
std::string DescribeRefusal(uint32_t status);

// 0, 1 or 130; a failure's message goes to `err` behind "qsft COMMAND: ".
int ExitCodeFor(const TransferOutcome& outcome, std::string_view command, std::ostream& err);

}  // namespace qs::app
