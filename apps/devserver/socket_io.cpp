#include "devserver/socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qs::devserver {

void Fd::Reset() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Fd ListenLoopback(uint16_t port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return {};
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return {};
  if (::listen(fd.get(), 64) != 0) return {};
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool SocketReader::Fill() {
  char chunk[16384];
  for (;;) {
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

SocketReader::HeadResult SocketReader::ReadHead(std::string* head, size_t max_bytes) {
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
    if (!Fill()) return HeadResult::kClosed;
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
