// Small pieces the command-line transfers share: options, the terminal, interrupts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qsft/progress.h"

namespace qs::app {

bool IsHelpOption(std::string_view arg);

// Reads "--name VALUE" or "--name=VALUE" at args[i], moving i past what it used. Nothing when
// args[i] is another option; `error` says what is wrong when it is this one without a value
// (missing or empty).
std::optional<std::string> TakeOptionValue(std::span<char*> args, size_t& i, std::string_view name,
                                           std::string& error);

// "--" ends the options: every argument after it is an operand, even one starting with "-".
inline bool IsEndOfOptions(std::string_view arg) { return arg == "--"; }

// A file named on the command line, made absolute and normalised, or `error` saying why it
// cannot name a file: it is empty, or it names a directory (an existing one, or one by its
// form: a trailing "/", "." or ".."). `role` names the operand in the message ("PATH").
struct FileOperand {
  std::filesystem::path path;
  std::string error;
};
FileOperand ParseFileOperand(std::string_view role, const std::string& text);

// Nothing when `url` is an absolute URL with a host, else what is wrong with it as the value
// of `option`.
std::optional<std::string> CheckPageUrl(std::string_view option, std::string_view url);

// A chunk size: a decimal number of bytes, optionally followed by K or M (times 1024 or
// 1024 * 1024), from 1 to 4294967295 in all.
std::optional<uint32_t> ParseChunkSize(std::string_view text);

// The bar on a terminal, plain lines otherwise, nothing when quiet.
ProgressStyle ProgressStyleFor(bool quiet);
// Columns of the terminal on standard output, 80 when unknown.
int TerminalWidth();

// While alive, SIGINT and SIGTERM set the flag instead of ending the process, so that the
// command can cancel its transfer and wait for the control to clean up. A second one does not
// wait: it removes the file named by RemoveOnSecondInterrupt, if any, and exits at once with
// status 130. One at a time.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;
  const std::atomic<bool>& flag() const;
  // The file a second interrupt removes (a download's temporary file); a longer path than the
  // catcher keeps is not removed.
  void RemoveOnSecondInterrupt(const std::string& path);
};

}  // namespace qs::app
