#include <system_error>

#include "platform/file_descriptor.h"
#include "transfer/internet_handle.h"

namespace qs {

void CFileHandle::Close() {
  if (fd_ >= 0) platform::CloseFileDescriptor(std::exchange(fd_, -1));
}

AutoDeleteFile::~AutoDeleteFile() {
  if (armed_) {
    // A file only: a directory that has taken the name meanwhile is not ours to remove.
    std::error_code ignored;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path_, ignored))) {
      std::filesystem::remove(path_, ignored);
    }
    armed_ = false;
  }
}

}  // namespace qs
