#include "devserver/socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qs::devserver {

void Fd::Reset() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Fd ListenLoopback(uint16_t port, int* error) {
  auto failed = [error] {
    if (error != nullptr) *error = errno;
    return Fd();
  };
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return failed();
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    return failed();
  }
  if (::listen(fd.get(), 64) != 0) return failed();
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool SendAll(int fd, std::string_view bytes, bool more) {
  const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), flags);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool SocketReader::Fill(std::optional<std::chrono::steady_clock::time_point> deadline) {
  char chunk[16384];
  for (;;) {
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd wait{fd_, POLLIN, 0};
      const int ready = ::poll(&wait, 1, static_cast<int>(std::min<int64_t>(left.count(), 60000)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return false;
      if (ready == 0) continue;  // the deadline is checked again above
    }
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

SocketReader::HeadResult SocketReader::ReadHead(std::string* head, size_t max_bytes,
                                                std::chrono::milliseconds time_limit) {
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  size_t searched = 0;
  for (;;) {
    size_t end = buffer_.find("\r\n\r\n", searched);
    if (end != std::string::npos) {
      if (end + 4 > max_bytes) return HeadResult::kTooLarge;
      head->assign(buffer_, 0, end + 4);
      buffer_.erase(0, end + 4);
      return HeadResult::kOk;
    }
    if (buffer_.size() > max_bytes) return HeadResult::kTooLarge;
    searched = buffer_.size() >= 3 ? buffer_.size() - 3 : 0;
    if (!Fill(deadline)) {
      return std::chrono::steady_clock::now() >= deadline ? HeadResult::kTimedOut
                                                          : HeadResult::kClosed;
    }
  }
}

size_t SocketReader::ReadSome(char* out, size_t max) {
  if (max == 0) return 0;
  if (buffer_.empty() && !Fill()) return 0;
  size_t n = std::min(max, buffer_.size());
  std::memcpy(out, buffer_.data(), n);
  buffer_.erase(0, n);
  return n;
}

}  // namespace qs::devserver
