// `qsft download URL PATH`: one download through the control, with progress.
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

constexpr const char kDownloadHelp[] =
    "usage: qsft download [--page PAGE] [--quiet] [-v] [--] URL PATH\n"
    "\n"
    "Downloads URL into the file PATH through the file-transfer control, exactly as a page\n"
    "of the web client would: the data arrives in PATH.!incomplete, a broken connection is\n"
    "resumed, and PATH is replaced only by the complete file.\n"
    "\n"
    "  URL          the document's address, e.g. http://127.0.0.1:8080/download?file=report.pdf\n"
    "  PATH         the file to write; its directory counts as chosen by you in a folder\n"
    "               picker, and is created when missing\n"
    "  --page PAGE  the address of the page the control acts for (default: the origin of\n"
    "               URL, e.g. http://127.0.0.1:8080/); URL must be on the page's host and port\n"
    "  --quiet      no progress display\n"
    "  --           the arguments after it are URL and PATH, even when one starts with -\n"
    "  -v           show the proxy each request went through and the authentication\n"
    "               scheme it used (never a password or a token)\n"
    "\n"
    "Progress: a bar on a terminal, a plain line every few seconds otherwise. Ctrl-C cancels\n"
    "the download and removes what was written.\n"
    "\n"
    "exit status: 0 downloaded, 1 failed (the reason on standard error), 2 wrong arguments,\n"
    "130 cancelled\n";

int Usage(const std::string& error) {
  std::cerr << "qsft download: " << error << "\n\n" << kDownloadHelp;
  return kExitUsage;
}

}  // namespace

int DownloadMain(std::span<char*> args) {
  std::string page;
  bool quiet = false;
  bool verbose = false;
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
      std::cout << kDownloadHelp;
      return kExitOk;
    }
    if (auto value = TakeOptionValue(args, i, "--page", error)) {
      page = *value;
      continue;
    }
    if (!error.empty()) return Usage(error);
    if (arg == "--quiet" || arg == "-q") {
      quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      verbose = true;
    } else if (IsEndOfOptions(arg)) {
      options_ended = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + std::string(arg));
    } else {
      operands.emplace_back(arg);
    }
    ++i;
  }
  if (operands.size() != 2) return Usage("needs URL and PATH");
  const std::string& url = operands[0];
  if (url.empty()) return Usage("URL is empty");
  if (page.empty()) {
    const auto origin = OriginOf(url);
    if (!origin) return Usage("URL is not absolute; give --page for a relative one");
    page = *origin;
  } else if (auto wrong = CheckPageUrl("--page", page)) {
    return Usage(*wrong);
  }
  const FileOperand operand = ParseFileOperand("PATH", operands[1]);
  if (!operand.error.empty()) return Usage(operand.error);
  const std::filesystem::path& target = operand.path;
  const std::filesystem::path directory = target.parent_path();

  const NetworkTrace trace(std::cerr, verbose);
  CliControl control(FromUtf8(page));
  control.dialogs().Queue(platform::scripted::Folder{FromUtf8(directory.string())});
  const InvokeResult picked = control.Call(u"SelectDownloadDir");
  if (!picked.ok() || picked.value.as_string().empty()) {
    std::cerr << "qsft download: the control did not take " << directory.string()
              << " as download directory\n";
    return kExitFailed;
  }

  InterruptCatcher interrupts;
  interrupts.RemoveOnSecondInterrupt(target.string() + ".!incomplete");
  const InvokeResult started =
      control.Call(u"StartFileDownload",
                   {Variant::String(FromUtf8(url)), Variant::String(FromUtf8(target.string()))});
  ProgressDisplay display(
      std::cout, ProgressStyleFor(quiet), target.filename().string(), std::nullopt,
      [] { return std::chrono::steady_clock::now(); }, TerminalWidth());
  const TransferOutcome outcome = WatchTransfer(
      control, started, display, WatchOptions{.cancel = &interrupts.flag(), .notices = &std::cerr});
  const int code = ExitCodeFor(outcome, "download", std::cerr);
  if (code == kExitOk && !quiet) {
    if (outcome.end == WatchEnd::kNoContent) {
      std::cout << "nothing to download (204); " << target.string() << " not written\n";
    } else {
      std::cout << "saved " << target.string() << " (" << outcome.last.bytes << " bytes)\n";
    }
  }
  return code;
}

}  // namespace qs::app
