// `qsft reg`: the administrator's view of the settings store.
//
//   qsft reg import FILE              apply a registry file, all or nothing
//   qsft reg export [KEY]             print a key and its subtree (the whole hive without KEY)
//   qsft reg query KEY [NAME]         print a key's values, or one value
//   qsft reg set KEY NAME TYPE DATA   create or replace one value
//   qsft reg delete KEY [NAME]        delete a key with its subtree, or one value
//
// Kept apart from the program so that its behaviour is tested with the store's tests.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace qs {

// Takes what goes to standard output as it is produced; false when it cannot be written.
using RegOutput = std::function<bool(std::string_view text)>;

// `args` are the words after "reg". Output for stdout goes to `out` (an export piece by piece),
// messages to `err`. Returns the exit status: 0 success, 1 failure, 2 wrong usage.
int RunRegCommand(std::span<const std::string> args, const RegOutput& out, std::string& err);

}  // namespace qs
