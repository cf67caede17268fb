// qsft register / qsft unregister without --browser: the control's class entries in the settings
// store, so that installers and administrators see what is installed and where.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/error_codes.h"
#include "platform/program_path.h"
#include "qsft/commands.h"
#include "qsft/control_classes.h"

namespace qs::app {

namespace {

constexpr const char kRegisterHelp[] =
    "usage: qsft register [--user|--system]\n"
    "       qsft unregister [--user|--system]\n"
    "       (with --browser: the browsers' host manifests, see qsft register --browser --help)\n"
    "\n"
    "Writes (or removes) the control's class entries under Software\\Classes in the settings\n"
    "store: its class identifiers with this program's path, its programmatic names and its\n"
    "interface description, installed beside the program. --user (the default) uses the\n"
    "current user's store; --system the store in the first folder of XDG_CONFIG_DIRS\n"
    "(/etc/xdg when unset).\n";

const char* Meaning(uint32_t status) {
  switch (status) {
    case kTypeLibRegistrationFailed: return "the interface description cannot be registered";
    case kClassRegistrationFailed: return "a class cannot be registered";
    default: return "failed";
  }
}

// Points the settings store at the system-wide folder for the rest of this (single-threaded)
// command.
void UseSystemStore() {
  std::string dirs;
  if (const char* value = std::getenv("XDG_CONFIG_DIRS"); value && value[0] == '/') dirs = value;
  const std::string first = dirs.empty() ? std::string("/etc/xdg") : dirs.substr(0, dirs.find(':'));
  setenv("XDG_CONFIG_HOME", first.c_str(), 1);
}

int Run(std::span<char*> args, bool add) {
  const char* name = add ? "register" : "unregister";
  for (size_t i = 1; i < args.size(); ++i) {
    if (std::strcmp(args[i], "--help") == 0 || std::strcmp(args[i], "-h") == 0) {
      std::fputs(kRegisterHelp, stdout);
      return 0;
    }
    if (std::strcmp(args[i], "--system") == 0) {
      UseSystemStore();
    } else if (std::strcmp(args[i], "--user") != 0) {
      std::fprintf(stderr, "qsft %s: unexpected argument '%s'\n\n%s", name, args[i], kRegisterHelp);
      return 2;
    }
  }
  const std::string program = platform::ProgramPath();
  uint32_t status = 0;
  if (add) {
    const std::string description =
        program.empty()
            ? std::string()
            : (std::filesystem::path(program).parent_path() / kInterfaceDescriptionFile).string();
    status = RegisterControl(program, description);
    if (status == hresult::kOk) {
      std::printf("registered %s\n  interface description %s\n", program.c_str(),
                  description.c_str());
    }
  } else {
    status = UnregisterControl();
    if (status == hresult::kOk) std::puts("unregistered");
  }
  if (status != hresult::kOk) {
    std::fprintf(stderr, "qsft %s: 0x%08X: %s\n", name, static_cast<unsigned>(status),
                 Meaning(status));
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RegisterClassesMain(std::span<char*> args) { return Run(args, true); }
int UnregisterClassesMain(std::span<char*> args) { return Run(args, false); }

}  // namespace qs::app
