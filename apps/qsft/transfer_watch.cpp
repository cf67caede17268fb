#include "qsft/transfer_watch.h"

#include <charconv>
#include <ostream>
#include <thread>

#include "base/text.h"
#include "transfer/downloaded_file.h"

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
  outcome.end = WatchEnd::kFailed;
  outcome.last = std::move(last);
  outcome.message = std::move(message);
  return outcome;
}

// The reason phrases a person expects after the status number.
const char* ReasonPhrase(uint32_t status) {
  switch (status) {
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "";
  }
}

// The failure as the page reads it, and what the core knows beyond that.
std::string FailureMessage(const TransferStatus& status,
                           const std::optional<qs::TransferEnd>& end) {
  std::string message = status.text.empty() ? "failed" : OneLine(status.text);
  if (end && end->protocol_failure()) {
    message += end->status != 0 ? ": " + DescribeRefusal(end->status)
                                : std::string(": the server's answer broke off or did not fit");
  }
  return message;
}

// The download's announced length, once the server has given one.
void ShowAnnouncedLength(const RefPtr<TransferredFile>& transfer, ProgressDisplay& display) {
  const auto* download = dynamic_cast<const DownloadedFile*>(transfer.get());
  if (download == nullptr) return;
  const int64_t length = download->announced_length();
  if (length >= 0) display.SetTotal(static_cast<uint64_t>(length));
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
  const RefPtr<TransferredFile> transfer = control.current_transfer();

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
    ShowAnnouncedLength(transfer, display);
    display.Update(status->bytes);
    const std::optional<qs::TransferEnd> end =
        transfer ? transfer->end() : std::optional<qs::TransferEnd>();
    if (status->state == kStateFailed) {
      display.Finish("failed");
      return Failed(FailureMessage(*status, end), *status);
    }
    if (status->state == kStateDone) {
      TransferOutcome outcome;
      outcome.end = cancel_sent ? WatchEnd::kCancelled : WatchEnd::kDone;
      if (end && end->kind == qs::TransferEnd::Kind::kCancelled) outcome.end = WatchEnd::kCancelled;
      if (end && end->kind == qs::TransferEnd::Kind::kNoContent) outcome.end = WatchEnd::kNoContent;
      outcome.last = *status;
      display.Finish(outcome.end == WatchEnd::kCancelled   ? "cancelled"
                     : outcome.end == WatchEnd::kNoContent ? "nothing to download (204)"
                                                           : "done");
      return outcome;
    }
    std::this_thread::sleep_for(options.poll_interval);
  }
}

std::string DescribeRefusal(uint32_t status) {
  if (status == 407) return "the proxy asks for credentials (407)";
  std::string text = "the server answered " + std::to_string(status);
  const std::string_view reason = ReasonPhrase(status);
  if (!reason.empty()) text += " " + std::string(reason);
  return text;
}

int ExitCodeFor(const TransferOutcome& outcome, std::string_view command, std::ostream& err) {
  switch (outcome.end) {
    case WatchEnd::kDone:
    case WatchEnd::kNoContent: return kExitOk;
    case WatchEnd::kCancelled: err << "qsft " << command << ": cancelled\n"; return kExitCancelled;
    case WatchEnd::kFailed:
      err << "qsft " << command << ": " << outcome.message << '\n';
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace qs::app
