// `qsft upload FILE URL`: one upload through the control, in chunks, with progress.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "base/text.h"
#include "qsft/cli_control.h"
#include "qsft/cli_options.h"
#include "qsft/commands.h"
#include "qsft/network_trace.h"
#include "qsft/progress.h"
#include "qsft/transfer_watch.h"

namespace qs::app {

namespace {

constexpr uint32_t kDefaultChunkSize = 1024 * 1024;

constexpr const char kUploadHelp[] =
    "usage: qsft upload [--chunk-size N] [--first] [--page PAGE] [--quiet] [-v] [--] FILE URL\n"
    "\n"
    "Uploads FILE to URL through the file-transfer control, exactly as a page of the web\n"
    "client would: one POST request per chunk, each acknowledged by the server; the last one\n"
    "checks the document in. The server's last answer is printed.\n"
    "\n"
    "  FILE            the file to send; it counts as chosen by you in a file picker\n"
    "  URL             where to send it, e.g. http://127.0.0.1:8080/upload\n"
    "  --chunk-size N  bytes per request, with an optional K or M (default 1M)\n"
    "  --first         mark FILE as the first file of a batch (the server starts afresh)\n"
    "  --page PAGE     the address of the page the control acts for (default: the origin\n"
    "                  of URL); URL must be on the page's host and port\n"
    "  --quiet         no progress display\n"
    "  --              the arguments after it are FILE and URL, even when one starts with -\n"
    "  -v              show the proxy each request went through and the authentication\n"
    "                  scheme it used (never a password or a token)\n"
    "\n"
    "Progress: a bar on a terminal, a plain line every few seconds otherwise. Ctrl-C cancels\n"
    "the upload.\n"
    "\n"
    "exit status: 0 uploaded, 1 failed (the reason on standard error), 2 wrong arguments,\n"
    "130 cancelled\n";

int Usage(const std::string& error) {
  std::cerr << "qsft upload: " << error << "\n\n" << kUploadHelp;
  return kExitUsage;
}

}  // namespace

int UploadMain(std::span<char*> args) {
  std::string page;
  bool quiet = false;
  bool verbose = false;
  bool first = false;
  uint32_t chunk_size = kDefaultChunkSize;
  std::vector<std::string> operands;
  bool options_ended = false;
  for (size_t i = 1; i < args.size();) {
    const std::string_view arg = args[i];
    std::string error;
    if (options_ended) {
      operands.emplace_back(arg);
      ++i;
      continue;
    }
    if (IsHelpOption(arg)) {
      std::cout << kUploadHelp;
      return kExitOk;
    }
    if (auto value = TakeOptionValue(args, i, "--page", error)) {
      page = *value;
      continue;
    }
    if (!error.empty()) return Usage(error);
    if (auto value = TakeOptionValue(args, i, "--chunk-size", error)) {
      const auto parsed = ParseChunkSize(*value);
      if (!parsed) return Usage("--chunk-size takes 1 to 4294967295 bytes, e.g. 65536 or 4M");
      chunk_size = *parsed;
      continue;
    }
    if (!error.empty()) return Usage(error);
    if (arg == "--quiet" || arg == "-q") {
      quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      verbose = true;
    } else if (arg == "--first") {
      first = true;
    } else if (IsEndOfOptions(arg)) {
      options_ended = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + std::string(arg));
    } else {
      operands.emplace_back(arg);
    }
    ++i;
  }
  if (operands.size() != 2) return Usage("needs FILE and URL");
  const std::string& url = operands[1];
  if (url.empty()) return Usage("URL is empty");
  if (page.empty()) {
    const auto origin = OriginOf(url);
    if (!origin) return Usage("URL is not absolute; give --page for a relative one");
    page = *origin;
  } else if (auto wrong = CheckPageUrl("--page", page)) {
    return Usage(*wrong);
  }
  const FileOperand operand = ParseFileOperand("FILE", operands[0]);
  if (!operand.error.empty()) return Usage(operand.error);
  const std::filesystem::path& file = operand.path;
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(file, ec);
  const std::optional<uint64_t> total = ec ? std::nullopt : std::optional<uint64_t>(size);

  const NetworkTrace trace(std::cerr, verbose);
  CliControl control(FromUtf8(page));
  control.dialogs().Queue(platform::scripted::Files{{FromUtf8(file.string())}});
  const InvokeResult picked = control.Call(u"SelectFile");
  if (!picked.ok() || picked.value.as_string().empty()) {
    std::cerr << "qsft upload: the control did not take " << file.string() << " as picked\n";
    return kExitFailed;
  }

  InterruptCatcher interrupts;
  const InvokeResult started =
      control.Call(u"StartFileUpload", {Variant::String(FromUtf8(url)), Variant::Bool(first),
                                        Variant::String(FromUtf8(file.string())),
                                        Variant::String(FromUtf8(std::to_string(chunk_size)))});
  ProgressDisplay display(
      std::cout, ProgressStyleFor(quiet), file.filename().string(), total,
      [] { return std::chrono::steady_clock::now(); }, TerminalWidth());
  const TransferOutcome outcome = WatchTransfer(
      control, started, display, WatchOptions{.cancel = &interrupts.flag(), .notices = &std::cerr});
  const int code = ExitCodeFor(outcome, "upload", std::cerr);
  // The server's answer to the last chunk is what the command produced, quiet or not.
  if (code == kExitOk) std::cout << "server answered: " << ToUtf8(outcome.last.text) << '\n';
  return code;
}

}  // namespace qs::app
