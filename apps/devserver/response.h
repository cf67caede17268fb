// An answer of the development server before it goes on the wire, and the bytes of its head.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qs::devserver {

// A byte range of a file to send as the body, opened only when it is sent.
struct FileRange {
  std::filesystem::path path;
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // besides the length and connection
  std::string body;                                          // used when `file` is empty
  std::optional<FileRange> file;
  bool close = false;      // close the connection after this answer
  bool head_only = false;  // an answer to HEAD: the head alone, its length that of the body

  static Response Text(int status, std::string text);
  uint64_t body_length() const { return file ? file->length : body.size(); }
  void SetHeader(std::string name, std::string value);
  void RemoveHeader(std::string_view name);
};

// What faults change in a head; see fault.h.
struct HeadChanges {
  std::optional<int64_t> resumed_from_delta;
  bool omit_resumed_from = false;
  bool omit_qs_content_length = false;
  std::optional<int64_t> qs_content_length_delta;
  bool malformed_header = false;
  uint64_t long_header_bytes = 0;
  std::vector<std::string> set_cookies;  // one Set-Cookie header each
};

std::string_view ReasonPhrase(int status);

// The status line and headers up to the blank line. Statuses 1xx, 204 and 304 carry no
// Content-Length; every other answer states the length of the body it carries.
std::string BuildHead(const Response& response, const HeadChanges& changes, bool keep_alive);

}  // namespace qs::devserver
