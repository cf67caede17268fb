// Share modes for open files, emulated with open-file-description locks.
//
// A lock taken here belongs to the open file description behind the descriptor, not to the
// process: two opens of one file in the same process conflict just as two processes do, and the
// lock lasts until the last descriptor of that description is closed. Other programs that do not
// take such locks are not kept out; the locks keep this program's own users of a file apart.
#pragma once

#include "base/error.h"

namespace qs::platform {

enum class FileLockKind {
  kShared,     // others may read and hold shared locks too; needs a descriptor open for reading
  kExclusive,  // no other lock at all; needs a descriptor open for writing
};

// Locks the whole of the open file `fd` without waiting. kSharingViolation (32) when another open
// description holds a conflicting lock; the mapped errno otherwise. Sets the thread's last error
// on failure.
ErrorOr<void> TryLockWholeFile(int fd, FileLockKind kind);

}  // namespace qs::platform
