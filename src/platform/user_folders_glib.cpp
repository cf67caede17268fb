#include <glib.h>

#include <cstdlib>

#include "base/text.h"
#include "platform/user_folders.h"

namespace qs::platform {

std::u16string LocalAppDataFolder() {
  // GLib reads the environment once per process; reading the variable first keeps a process
  // that points it elsewhere later (tests, `qsft host` sessions) on the folder it names now.
  if (const char* data_home = std::getenv("XDG_DATA_HOME");
      data_home != nullptr && data_home[0] == '/') {
    return FromUtf8(data_home);
  }
  const gchar* folder = g_get_user_data_dir();
  return folder != nullptr ? FromUtf8(folder) : std::u16string();
}

}  // namespace qs::platform
