// `qsft host`: the script host on standard input and output.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "qsft/commands.h"
#include "qsft/host.h"

namespace qs::app {

namespace {

constexpr const char kHostHelp[] =
    "usage: qsft host\n"
    "\n"
    "Creates controls and drives them through their method table. Reads one JSON request\n"
    "object per line on standard input and writes one JSON answer per line, in order, on\n"
    "standard output; diagnostics go to standard error. Ends at {\"op\":\"quit\"} or at the\n"
    "end of the input.\n"
    "\n"
    "requests:\n"
    "  {\"id\":1,\"op\":\"create\",\"control\":\"a\",\"page\":URL,\"zone\":2,\"props\":{\"Url\":\"x\"}}\n"
    "  {\"id\":2,\"op\":\"call\",\"control\":\"a\",\"name\":\"GetTransferStatus\",\"args\":[7]}\n"
    "  {\"id\":3,\"op\":\"get\",\"control\":\"a\",\"name\":\"User\"}\n"
    "  {\"id\":4,\"op\":\"put\",\"control\":\"a\",\"name\":\"User\",\"value\":\"u\"}\n"
    "  {\"id\":5,\"op\":\"save\",\"control\":\"a\"}\n"
    "  {\"id\":6,\"op\":\"destroy\",\"control\":\"a\"}\n"
    "  {\"id\":7,\"op\":\"quit\"}\n"
    "\n"
    "answers:\n"
    "  {\"id\":2,\"result\":VALUE}\n"
    "  {\"id\":2,\"error\":{\"code\":-2147352570,\"message\":\"...\"}}\n";

}  // namespace

int HostMain(std::span<char*> args) {
  if (args.size() == 2 && (std::strcmp(args[1], "--help") == 0 || std::strcmp(args[1], "-h") == 0)) {
    std::fputs(kHostHelp, stdout);
    return 0;
  }
  if (args.size() > 1) {
    std::fprintf(stderr, "qsft host: unexpected argument '%s'\n\n", args[1]);
    std::fputs(kHostHelp, stderr);
    return 2;
  }
  std::ios::sync_with_stdio(false);
  HostOptions options;
  return RunHost(std::cin, std::cout, std::cerr, options);
}

}  // namespace qs::app
