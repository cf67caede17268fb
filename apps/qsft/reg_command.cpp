// qsft reg: the settings store for administrators (import, export, query, set, delete).
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "qsft/commands.h"
#include "qsft/reg_store_command.h"

namespace qs::app {

int RegMain(std::span<char*> args) {
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) words.emplace_back(args[i]);
  std::string err;
  // An export goes out as it is read, never whole in memory.
  const int status = RunRegCommand(
      words,
      [](std::string_view text) {
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
      },
      err);
  std::fwrite(err.data(), 1, err.size(), stderr);
  // A full disk or closed pipe must not pass as success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return 1;
  return status;
}

}  // namespace qs::app
