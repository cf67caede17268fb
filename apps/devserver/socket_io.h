// Thin wrappers over POSIX sockets for the development server: an owning descriptor, a
// loopback listener, whole-buffer sends and a buffered reader for request heads and bodies.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs::devserver {

// Owns one file descriptor; closes it on destruction.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// A listening TCP socket on 127.0.0.1:port (0: ephemeral). Returns an invalid Fd on failure,
// with the errno value in *error when given.
Fd ListenLoopback(uint16_t port, int* error = nullptr);
uint16_t LocalPort(int fd);

// Sends every byte (retrying short writes and EINTR, never raising SIGPIPE). False when the
// peer is gone or the socket was shut down. With `more`, the bytes may wait for the next send
// to share its segment (the head of an answer whose body follows at once).
bool SendAll(int fd, std::string_view bytes, bool more = false);

// Reads from a socket through one buffer. The head of a request is read up to its blank line;
// what came after it stays buffered for the body.
class SocketReader {
 public:
  explicit SocketReader(int fd) : fd_(fd) {}

  enum class HeadResult { kOk, kClosed, kTooLarge, kTimedOut };
  // Fills *head with everything up to and including "\r\n\r\n" (at most max_bytes). The
  // whole head must arrive within `time_limit` (a client that sends nothing, or a byte now and
  // then, must not hold the connection for ever); kTimedOut when it does not.
  HeadResult ReadHead(std::string* head, size_t max_bytes, std::chrono::milliseconds time_limit);
  // Bytes that arrived and are not yet taken.
  bool has_buffered() const { return !buffer_.empty(); }

  // Reads up to max bytes of body into *out (buffered bytes first). 0 bytes: peer closed.
  size_t ReadSome(char* out, size_t max);

 private:
  // One receive into the buffer; false when the peer closed or `deadline` passed first.
  bool Fill(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

  int fd_;
  std::string buffer_;
};

}  // namespace qs::devserver
