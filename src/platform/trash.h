// Moving files and folders to the user's trash, from where the user can restore them.
#pragma once

#include <string_view>

#include "base/error.h"

namespace qs::platform {

// Moves the file, link or whole folder at `path` (an absolute path) to the trash of its file
// system (the freedesktop trash: the home trash for files on the home's file system, the
// mount's own trash folder elsewhere), recording where it came from. Never deletes: where the
// file system keeps no trash (tmpfs, read-only and internal mounts) it fails with 50 (not
// supported) and the item stays where it is. Sets the thread's last error on failure.
ErrorOr<void> MoveToTrash(std::u16string_view path);

}  // namespace qs::platform
