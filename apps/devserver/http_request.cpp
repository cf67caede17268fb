#include "devserver/http_request.h"

#include <cctype>
#include <charconv>

namespace qs::devserver {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c <= 32 || c >= 127 || c == ':') return false;
  }
  return true;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::optional<std::string> RequestHead::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

bool RequestHead::KeepAlive() const {
  auto connection = Header("Connection");
  if (version == "HTTP/1.0") return connection && EqualsIgnoreCase(*connection, "keep-alive");
  return !(connection && EqualsIgnoreCase(*connection, "close"));
}

std::optional<RequestHead> ParseRequestHead(std::string_view head) {
  while (head.substr(0, 2) == "\r\n") head.remove_prefix(2);
  RequestHead req;
  size_t line_end = head.find("\r\n");
  if (line_end == std::string_view::npos) return std::nullopt;
  std::string_view line = head.substr(0, line_end);
  size_t sp1 = line.find(' ');
  size_t sp2 = line.rfind(' ');
  if (sp1 == std::string_view::npos || sp2 == sp1) return std::nullopt;
  req.method = std::string(line.substr(0, sp1));
  req.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  req.version = std::string(line.substr(sp2 + 1));
  if (!IsToken(req.method) || req.target.empty() || req.target.find(' ') != std::string::npos ||
      req.version.rfind("HTTP/1.", 0) != 0)
    return std::nullopt;
  size_t q = req.target.find('?');
  req.path = req.target.substr(0, q);
  req.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);

  std::string_view rest = head.substr(line_end + 2);
  for (;;) {
    size_t end = rest.find("\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view header = rest.substr(0, end);
    rest.remove_prefix(end + 2);
    if (header.empty()) break;
    size_t colon = header.find(':');
    if (colon == std::string_view::npos || !IsToken(header.substr(0, colon))) return std::nullopt;
    req.headers.emplace_back(std::string(header.substr(0, colon)),
                             std::string(Trim(header.substr(colon + 1))));
  }
  return req;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = HexValue(text[i + 1]);
    int lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return out;
}

std::optional<std::string> QueryParam(std::string_view query, std::string_view name) {
  std::optional<std::string> found;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    size_t eq = pair.find('=');
    std::string_view key = pair.substr(0, eq);
    if (key != name) continue;
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    auto decoded = PercentDecode(value);
    found = decoded ? std::move(*decoded) : std::string(value);
  }
  return found;
}

std::optional<uint64_t> AnnouncedBodyLength(const RequestHead& head) {
  std::optional<uint64_t> length;
  for (const auto& [name, value] : head.headers) {
    if (!EqualsIgnoreCase(name, "Content-Length")) continue;
    const std::optional<uint64_t> n = ParseDecimal(value);
    if (!n || (length && *length != *n)) return std::nullopt;
    length = n;
  }
  return length.value_or(0);
}

std::optional<uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace qs::devserver
