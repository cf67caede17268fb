#include "platform/file_descriptor.h"

#include <unistd.h>

namespace qs::platform {

void CloseFileDescriptor(int fd) {
  // Not retried on EINTR: on Linux the descriptor is released even then, and a retry could
  // close a descriptor that another thread has just been given.
  (void)::close(fd);
}

}  // namespace qs::platform
