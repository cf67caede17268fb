#include "qsft/transfer_watch.h"

#include <charconv>
#include <ostream>
#include <thread>

#include "base/text.h"

namespace qs::app {

namespace {

template <typename Number>
std::optional<Number> ParseDecimal(std::u16string_view text) {
  const std::string ascii = ToUtf8(text);
  Number value{};
  const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ascii.empty() || ec != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  return value;
}

// A failure text in one line: platform texts end with a line break.
std::string OneLine(std::u16string_view text) {
  std::string line = ToUtf8(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

TransferOutcome Failed(std::string message, TransferStatus last = {}) {
  TransferOutcome outcome;
  outcome.end = TransferEnd::kFailed;
  outcome.last = std::move(last);
  outcome.message = std::move(message);
  return outcome;
}

}  // namespace

std::optional<TransferStatus> ParseTransferStatus(std::u16string_view status) {
  const size_t first = status.find(u'|');
  if (first == std::u16string_view::npos) return std::nullopt;
  const size_t second = status.find(u'|', first + 1);
  if (second == std::u16string_view::npos) return std::nullopt;
  const auto state = ParseDecimal<int32_t>(status.substr(0, first));
  const auto bytes = ParseDecimal<uint64_t>(status.substr(first + 1, second - first - 1));
  if (!state || !bytes) return std::nullopt;
  return TransferStatus{*state, *bytes, std::u16string(status.substr(second + 1))};
}

TransferOutcome WatchTransfer(CliControl& control, const InvokeResult& start_result,
                              ProgressDisplay& display, const WatchOptions& options) {
  if (!start_result.ok()) return Failed(DescribeFailure(start_result));
  const Variant& started = start_result.value;
  if (started.is_string()) return Failed(OneLine(started.as_string()));
  if (started.type() != Variant::Type::kInt32) return Failed("the transfer could not be started");
  const Variant ticket = Variant::Int(started.as_int());

  bool cancel_sent = false;
  for (;;) {
    if (!cancel_sent && options.cancel != nullptr && options.cancel->load()) {
      // The control stops at its next check point and removes what it had written; until
      // then the status goes on being read.
      control.Call(u"CancelTransfer", {ticket});
      cancel_sent = true;
      display.SetNote("cancelling");
      if (options.notices != nullptr) {
        display.BreakLine();
        *options.notices << "qsft: cancelling; waiting for the transfer to stop" << std::endl;
      }
    }
    const InvokeResult polled = control.Call(u"GetTransferStatus", {ticket});
    if (!polled.ok()) return Failed(DescribeFailure(polled));
    const auto status = ParseTransferStatus(polled.value.as_string());
    if (!status) {
      return Failed("unreadable transfer status \"" + ToUtf8(polled.value.as_string()) + "\"");
    }
    display.Update(status->bytes);
    if (status->state == kStateFailed) {
      display.Finish("failed");
      return Failed(status->text.empty() ? "failed" : OneLine(status->text), *status);
    }
    if (status->state == kStateDone) {
      TransferOutcome outcome;
      outcome.end = cancel_sent ? TransferEnd::kCancelled : TransferEnd::kDone;
      outcome.last = *status;
      display.Finish(cancel_sent ? "cancelled" : "done");
      return outcome;
    }
    std::this_thread::sleep_for(options.poll_interval);
  }
}

int ExitCodeFor(const TransferOutcome& outcome, std::string_view command, std::ostream& err) {
  switch (outcome.end) {
    case TransferEnd::kDone:
      return kExitOk;
    case TransferEnd::kCancelled:
      err << "qsft " << command << ": cancelled\n";
      return kExitCancelled;
    case TransferEnd::kFailed:
      err << "qsft " << command << ": " << outcome.message << '\n';
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace qs::app
