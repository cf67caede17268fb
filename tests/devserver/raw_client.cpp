#include "devserver/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace qs::testing {

std::optional<std::string> RawReply::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0)
      return value;
  }
  return std::nullopt;
}

RawClient::RawClient(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  // A safety net against a hung server; no test relies on it firing.
  timeval tv{30, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool RawClient::Get(const std::string& target, const std::vector<std::string>& extra) {
  std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (const auto& line : extra) req += line + "\r\n";
  return Send(req + "\r\n");
}

bool RawClient::Post(const std::string& target, const std::string& body,
                     const std::vector<std::string>& extra) {
  std::string req = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n";
  for (const auto& line : extra) req += line + "\r\n";
  return Send(req + "\r\n" + body);
}

bool RawClient::Fill() {
  char chunk[65536];
  for (;;) {
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) eof_ = true;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

RawReply RawClient::ReadHead() {
  RawReply reply;
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return reply;
  }
  std::string head = buffer_.substr(0, end + 2);
  buffer_.erase(0, end + 4);
  size_t line_end = head.find("\r\n");
  std::string status_line = head.substr(0, line_end);
  if (status_line.size() >= 12) reply.status = std::stoi(status_line.substr(9, 3));
  for (size_t pos = line_end + 2; pos < head.size();) {
    size_t next = head.find("\r\n", pos);
    std::string line = head.substr(pos, next - pos);
    pos = next + 2;
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      reply.headers.emplace_back(line, "");
      continue;
    }
    size_t v = line.find_first_not_of(' ', colon + 1);
    reply.headers.emplace_back(line.substr(0, colon), v == std::string::npos ? "" : line.substr(v));
  }
  return reply;
}

std::string RawClient::ReadBytes(size_t n) {
  while (buffer_.size() < n) {
    if (!Fill()) break;
  }
  std::string out = buffer_.substr(0, std::min(n, buffer_.size()));
  buffer_.erase(0, out.size());
  return out;
}

RawReply RawClient::Read() {
  RawReply reply = ReadHead();
  if (reply.status == 0) return reply;
  auto length = reply.Header("Content-Length");
  if (!length) {
    if (reply.status == 204 || reply.status / 100 == 1) {
      reply.complete = true;
      return reply;
    }
    reply.body = ReadToClose();
    reply.complete = true;
    return reply;
  }
  size_t want = std::stoull(*length);
  reply.body = ReadBytes(want);
  reply.complete = reply.body.size() == want;
  return reply;
}

std::string RawClient::ReadToClose() {
  while (Fill()) {
  }
  std::string all;
  all.swap(buffer_);
  return all;
}

bool RawClient::ClosedByServer() {
  if (!buffer_.empty()) return false;
  return !Fill() && eof_;
}

}  // namespace qs::testing
