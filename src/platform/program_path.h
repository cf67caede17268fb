// Where the running program lives, for registering it with hosts.
#pragma once

#include <string>

namespace qs::platform {

// The absolute path of the running executable; empty when it cannot be told.
std::string ProgramPath();

}  // namespace qs::platform
