// Giving an open file back to the system, for owners of file descriptors outside this folder,
// and a scoped owner for the descriptors this folder opens.
#pragma once

#include <utility>

namespace qs::platform {

// Closes `fd` (a descriptor that was opened successfully). A failure is ignored: there is nothing
// an owner could do about it, and the descriptor is gone either way.
void CloseFileDescriptor(int fd);

// Owns a descriptor (or -1) and closes it on every way out, unless released first.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) CloseFileDescriptor(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) CloseFileDescriptor(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  // Hands the descriptor to the caller, who closes it from now on.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace qs::platform
