// `qsft host`: the script host on standard input and output.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dialogs.h"
#include "platform/program_path.h"
#include "qsft/cli_options.h"
#include "qsft/commands.h"
#include "qsft/control_classes.h"
#include "qsft/host.h"
#include "qsft/host_dialogs.h"
#include "qsft/native_host.h"

namespace qs::app {

namespace {

constexpr const char kHostHelp[] =
    "usage: qsft host [--dialogs=auto|gtk|script|none] [--native-messaging]\n"
    "       qsft host --version\n"
    "\n"
    "Creates controls and drives them through their method table. Reads one JSON request\n"
    "object per line on standard input and writes one JSON answer per line, in order, on\n"
    "standard output; diagnostics go to standard error. Ends at {\"op\":\"quit\"} or at the\n"
    "end of the input.\n"
    "\n"
    "requests:\n"
    "  "
    "{\"id\":1,\"op\":\"create\",\"control\":\"a\",\"page\":URL,\"zone\":2,\"props\":{\"Url\":"
    "\"x\"}}\n"
    "  {\"id\":2,\"op\":\"call\",\"control\":\"a\",\"name\":\"GetTransferStatus\",\"args\":[7]}\n"
    "  {\"id\":3,\"op\":\"get\",\"control\":\"a\",\"name\":\"User\"}\n"
    "  {\"id\":4,\"op\":\"put\",\"control\":\"a\",\"name\":\"User\",\"value\":\"u\"}\n"
    "  {\"id\":5,\"op\":\"save\",\"control\":\"a\"}\n"
    "  {\"id\":6,\"op\":\"destroy\",\"control\":\"a\"}\n"
    "  {\"id\":7,\"op\":\"quit\"}\n"
    "  {\"id\":11,\"op\":\"safety\",\"control\":\"a\",\"iid\":\"IDispatch\"}\n"
    "  "
    "{\"id\":12,\"op\":\"safety\",\"control\":\"a\",\"iid\":\"IDispatch\",\"set\":{\"mask\":3,"
    "\"options\":3}}\n"
    "\n"
    "create: \"class\" (optional) is the control's class identifier or programmatic name, any\n"
    "  letter case; \"safe\":true negotiates object safety as a browser does and refuses the\n"
    "  control when the site lock refuses the page. At quit or the end of the input the host\n"
    "  destroys its controls and waits until every transfer has been cancelled and has ended.\n"
    "  {\"id\":8,\"op\":\"dialogs\",\"answers\":[{\"folder\":\"/p\"},{\"button\":\"yes\"}]}\n"
    "  {\"id\":9,\"op\":\"dialogs\",\"clear\":true}\n"
    "  {\"id\":10,\"op\":\"shown\"}\n"
    "\n"
    "dialogs:\n"
    "  --dialogs=auto    (default) the desktop's dialogs (GTK) when a display can be opened,\n"
    "                    else scripted answers; the display is opened at the first dialog\n"
    "  --dialogs=gtk     the desktop's dialogs; fails to start without a display\n"
    "  --dialogs=script  scripted answers from the start\n"
    "  --dialogs=none    no dialogs: every dialog is cancelled (No for a question)\n"
    "  Any \"dialogs\" op switches the session to scripted answers for good. Answers are used\n"
    "  one per dialog, in order: {\"folder\":\"/p\"}, {\"files\":[\"/a\",\"/b\"]},\n"
    "  {\"cancel\":true}, {\"error\":12290} (a file dialog failure with that code),\n"
    "  {\"button\":\"yes\"|\"no\"|\"ok\"}, {\"credentials\":{\"user\":\"u\",\"password\":\"p\"}},\n"
    "  {\"app\":\"id.desktop\"}. A dialog with no answer left, or an answer that does not fit it,\n"
    "  is cancelled. \"shown\" returns and forgets the scripted dialogs shown since the last\n"
    "  \"shown\": [{\"kind\":\"folder\"|\"file\"|\"files\"|\"message\"|\"credentials\"|\"app\",\n"
    "  \"title\",\"start\",\"text\",\"icon\",\"buttons\" where they apply}].\n"
    "\n"
    "--native-messaging\n"
    "  The browsers' framing instead of lines: each message is a 4-byte length in native byte\n"
    "  order and UTF-8 JSON. Requests come from the browser extension, which adds the calling\n"
    "  frame as \"sender\" ({\"url\",\"tab\",\"frame\",\"document\",\"port\"}); the page address\n"
    "  and zone of a control come from it alone, every create passes the site lock, control\n"
    "  names are per document, and only create, call, get, put, destroy and\n"
    "  {\"op\":\"release\"} (destroy the document's controls) are accepted.\n"
    "  qsft-browser-host, which the browsers' host manifests name, is this mode.\n"
    "\n"
    "answers:\n"
    "  {\"id\":2,\"result\":VALUE}\n"
    "  {\"id\":2,\"error\":{\"code\":-2147352570,\"message\":\"...\"}}\n"
    "\n"
    "exit status: 0 ended by quit or the end of the input, 1 the answers could not be\n"
    "written, 2 wrong arguments\n";

int Usage(const std::string& error) {
  std::fprintf(stderr, "qsft host: %s\n\n", error.c_str());
  std::fputs(kHostHelp, stderr);
  return 2;
}

}  // namespace

int HostMain(std::span<char*> args) {
  if (args.size() == 2 && std::strcmp(args[1], "--version") == 0) {
    std::puts("qsft host 2.2 (QSWebFileTransfer for Linux)");
    for (const std::string& line : DescribeRegistration()) std::printf("%s\n", line.c_str());
    const std::string program = platform::ProgramPath();
    if (!program.empty()) {
      const auto beside = std::filesystem::path(program).parent_path() / kInterfaceDescriptionFile;
      std::error_code error;
      std::printf("interface description beside the program: %s (%s)\n", beside.c_str(),
                  std::filesystem::is_regular_file(beside, error) ? "present" : "missing");
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  HostOptions options;
  bool native_messaging = false;
  options.dialogs = DialogsMode::kAuto;
  options.desktop_dialogs = &platform::GtkDialogs;
  for (size_t i = 1; i < args.size();) {
    const std::string_view arg = args[i];
    if (IsHelpOption(arg)) {
      std::fputs(kHostHelp, stdout);
      return 0;
    }
    if (arg == "--native-messaging") {
      native_messaging = true;
      ++i;
      continue;
    }
    std::string error;
    const auto value = TakeOptionValue(args, i, "--dialogs", error);
    if (!error.empty()) return Usage(error);
    if (!value) return Usage("unexpected argument '" + std::string(arg) + "'");
    const std::optional<DialogsMode> mode = ParseDialogsMode(*value);
    if (!mode) return Usage("--dialogs takes auto, gtk, script or none");
    options.dialogs = *mode;
  }
  if (options.dialogs == DialogsMode::kGtk && platform::GtkDialogs() == nullptr) {
    std::fputs("qsft host: --dialogs=gtk: no display can be opened\n", stderr);
    return 2;
  }
  std::ios::sync_with_stdio(false);
  if (native_messaging) return RunNativeMessagingHost(std::cin, std::cout, std::cerr, options);
  return RunHost(std::cin, std::cout, std::cerr, options);
}

int BrowserHostMain() {
  HostOptions options;
  options.dialogs = DialogsMode::kAuto;
  options.desktop_dialogs = &platform::GtkDialogs;
  std::ios::sync_with_stdio(false);
  return RunNativeMessagingHost(std::cin, std::cout, std::cerr, options);
}

}  // namespace qs::app
