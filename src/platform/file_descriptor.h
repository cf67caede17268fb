// Giving an open file back to the system, for owners of file descriptors outside this folder.
#pragma once

namespace qs::platform {

// Closes `fd` (a descriptor that was opened successfully). A failure is ignored: there is nothing
// an owner could do about it, and the descriptor is gone either way.
void CloseFileDescriptor(int fd);

}  // namespace qs::platform
