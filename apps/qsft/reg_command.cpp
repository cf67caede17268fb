// qsft reg: the settings store for administrators (import, export, query, set, delete).
#include <cstdio>
#include <string>
#include <vector>

#include "qsft/commands.h"
#include "qsft/reg_store_command.h"

namespace qs::app {

int RegMain(std::span<char*> args) {
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) words.emplace_back(args[i]);
  std::string out;
  std::string err;
  const int status = RunRegCommand(words, out, err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  if (std::fflush(stdout) != 0) return 1;  // a full disk or closed pipe must not pass as success
  return status;
}

}  // namespace qs::app
