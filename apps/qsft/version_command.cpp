// `qsft version`: the program's version.
#include <cstdio>
#include <string_view>

#include "qsft/cli_options.h"
#include "qsft/commands.h"

namespace qs::app {

int VersionMain(std::span<char*> args) {
  if (args.size() == 2 && IsHelpOption(args[1])) {
    std::puts(
        "usage: qsft version\n\nPrints the version of qsft.\n\nexit status: 0 printed, 2 wrong "
        "arguments");
    return 0;
  }
  if (args.size() > 1) {
    std::fprintf(stderr, "qsft version: unexpected argument '%s'\n\nusage: qsft version\n",
                 args[1]);
    return 2;
  }
  std::puts("qsft 2.2 (QSWebFileTransfer for Linux)");
  return 0;
}

}  // namespace qs::app
