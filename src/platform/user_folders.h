// The per-user folders the client keeps its files in, following the XDG base directories.
#pragma once

#include <string>

namespace qs::platform {

// The user's local application-data folder: $XDG_DATA_HOME when it is set to an absolute path
// (read at every call, so that a process that changes it sees the change), otherwise GLib's
// user data directory (~/.local/share). Empty when none can be determined.
std::u16string LocalAppDataFolder();

}  // namespace qs::platform
