// qsft: the command-line front of the file-transfer control.
#include <cstdio>
#include <cstring>
#include <exception>
#include <span>

#include "qsft/commands.h"

namespace {

using qs::app::Command;

constexpr Command kCommands[] = {
    {"version", "print the version", qs::app::VersionMain},
    {"host", "drive controls through their method table, JSON Lines on stdin/stdout",
     qs::app::HostMain},
    {"reg", "read and change the settings store: import, export, query, set, delete",
     qs::app::RegMain},
    {"download", "download a document from the server into a file, with progress",
     qs::app::DownloadMain},
    {"upload", "upload a file to the server in chunks, with progress", qs::app::UploadMain},
    {"register",
     "make the control known: its class entries, or (--browser) a browser's host manifest",
     qs::app::RegisterMain},
    {"unregister", "remove what register wrote", qs::app::UnregisterMain},
    {"trust", "add, remove or list the sites whose pages count as trusted in a browser",
     qs::app::TrustMain},
    {"workdir", "print (choose, change or check) the working directory of a datasource and user",
     qs::app::WorkdirMain},
    {"langpack", "build a signed language pack from a .po file, or show what a pack holds",
     qs::app::LangpackMain},
};

void PrintUsage(std::FILE* out) {
  std::fputs("usage: qsft COMMAND [ARGS...]\n\ncommands:\n", out);
  for (const auto& c : kCommands) {
    std::fprintf(out, "  %-10.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                 static_cast<int>(c.summary.size()), c.summary.data());
  }
  std::fputs("\nqsft COMMAND --help describes a command.\n", out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto& c : kCommands) {
    if (c.name != argv[1]) continue;
    // A failure nobody foresaw still ends with a message and status 1, never with an abort:
    // unwinding lets the control remove what it had started.
    try {
      return c.run(std::span<char*>(argv + 1, static_cast<size_t>(argc - 1)));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qsft %s: %s\n", argv[1], e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "qsft: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
