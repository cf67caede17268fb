// A byte-level HTTP client for testing the development server: it writes exactly what a test
// gives it and reads answers without interpreting more than the head and the length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qs::testing {

struct RawReply {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool complete = false;  // head and the announced body arrived

  std::optional<std::string> Header(std::string_view name) const;
};

class RawClient {
 public:
  explicit RawClient(uint16_t port);  // connects to 127.0.0.1:port
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool Send(std::string_view bytes);
  // "GET target HTTP/1.1" with a Host header and any extra header lines ("Name: value").
  bool Get(const std::string& target, const std::vector<std::string>& extra = {});
  bool Post(const std::string& target, const std::string& body,
            const std::vector<std::string>& extra = {});
  // One answer: the head, then Content-Length bytes (or everything up to the close).
  RawReply Read();
  // Only the head of an answer; its body stays to be read with ReadBytes.
  RawReply ReadHead();
  // Exactly n bytes, or fewer when the connection ends first.
  std::string ReadBytes(size_t n);
  // Everything until the server closes the connection.
  std::string ReadToClose();
  // Whether the server closed the connection (an orderly end, not a time-out).
  bool ClosedByServer();

 private:
  bool Fill();

  int fd_ = -1;
  bool eof_ = false;
  std::string buffer_;
};

}  // namespace qs::testing
