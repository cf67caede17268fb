#include "qsft/cli_options.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <system_error>

#include "qsft/cli_control.h"

namespace qs::app {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Written before the handler can read it, and read only by the handler.
char g_remove_path[4096] = {};

// Only async-signal-safe calls: the first interrupt sets the flag, the second removes the file
// and ends the process.
extern "C" void OnInterrupt(int) {
  if (g_interrupted.exchange(true)) {
    if (g_remove_path[0] != '\0') ::unlink(g_remove_path);
    ::_exit(130);
  }
}

struct sigaction g_old_int;
struct sigaction g_old_term;

}  // namespace

bool IsHelpOption(std::string_view arg) { return arg == "--help" || arg == "-h"; }

std::optional<std::string> TakeOptionValue(std::span<char*> args, size_t& i, std::string_view name,
                                           std::string& error) {
  const std::string_view arg = args[i];
  std::string_view value;
  size_t used = 0;
  if (arg == name) {
    if (i + 1 < args.size()) value = args[i + 1];
    used = 2;
  } else if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
             arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    used = 1;
  } else {
    return std::nullopt;
  }
  if (value.empty()) {
    error = std::string(name) + " needs a value";
    return std::nullopt;
  }
  i += used;
  return std::string(value);
}

FileOperand ParseFileOperand(std::string_view role, const std::string& text) {
  FileOperand operand;
  if (text.empty()) {
    operand.error = std::string(role) + " is empty; name a file";
    return operand;
  }
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(text, ec);
  if (ec) {
    operand.error = "cannot make " + text + " absolute: " + ec.message();
    return operand;
  }
  operand.path = absolute.lexically_normal();
  const std::filesystem::path name = operand.path.filename();
  if (name.empty() || name == "." || name == ".." || text.back() == '/' ||
      std::filesystem::is_directory(operand.path, ec)) {
    operand.error = text + " is a directory; name a file";
  }
  return operand;
}

std::optional<std::string> CheckPageUrl(std::string_view option, std::string_view url) {
  if (OriginOf(url)) return std::nullopt;
  return std::string(option) +
         " takes an absolute URL with a host, e.g. http://127.0.0.1:8080/app/";
}

std::optional<uint32_t> ParseChunkSize(std::string_view text) {
  uint64_t factor = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) factor = 1024;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) factor = 1024 * 1024;
  if (factor != 1) text.remove_suffix(1);
  uint64_t number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (number == 0 || number > UINT32_MAX / factor) return std::nullopt;
  return static_cast<uint32_t>(number * factor);
}

ProgressStyle ProgressStyleFor(bool quiet) {
  if (quiet) return ProgressStyle::kQuiet;
  return ::isatty(STDOUT_FILENO) ? ProgressStyle::kBar : ProgressStyle::kLines;
}

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

InterruptCatcher::InterruptCatcher() {
  g_interrupted.store(false);
  g_remove_path[0] = '\0';
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &g_old_int);
  ::sigaction(SIGTERM, &action, &g_old_term);
}

InterruptCatcher::~InterruptCatcher() {
  ::sigaction(SIGINT, &g_old_int, nullptr);
  ::sigaction(SIGTERM, &g_old_term, nullptr);
}

const std::atomic<bool>& InterruptCatcher::flag() const { return g_interrupted; }

void InterruptCatcher::RemoveOnSecondInterrupt(const std::string& path) {
  g_remove_path[0] = '\0';
  if (path.size() >= sizeof g_remove_path) return;
  std::memcpy(g_remove_path + 1, path.data() + 1, path.size() > 0 ? path.size() - 1 : 0);
  g_remove_path[path.size()] = '\0';
  // The first byte last: the handler sees either no path or the whole one.
  std::atomic_signal_fence(std::memory_order_release);
  if (!path.empty()) g_remove_path[0] = path[0];
}

}  // namespace qs::app
