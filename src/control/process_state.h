// Process-wide facts that the first control constructed in a process looks up and every later
// control reuses for the life of the process. (The registries of located directories and
// published scopes, which several controls share, live with the access decision.)
#pragma once

namespace qs {

struct ProcessState {
  // Whether the final path of an open file can be asked for (file sizes measure that path).
  bool final_path_lookup = false;
};

// Looks the facts up on the first call in the process, also when they turn out absent; later
// calls return what was found then. Thread-safe.
const ProcessState& EnsureProcessState();
// How many times the lookup ran in this process (at most once). Tests only.
int ProcessStateLookupsForTesting();

}  // namespace qs
