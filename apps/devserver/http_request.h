// Parsing of HTTP/1.1 request heads and of query strings, as the development server reads
// them. Pure functions, so that the protocol decisions can be tested without a socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qs::devserver {

struct RequestHead {
  std::string method;
  std::string target;   // as sent
  std::string path;     // target before "?"
  std::string query;    // target after "?" ("" when none)
  std::string version;  // "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;

  // Value of the first header of that name (case-insensitive), if any.
  std::optional<std::string> Header(std::string_view name) const;
  // Whether the connection stays open after this request's answer.
  bool KeepAlive() const;
};

// Parses a head ending in "\r\n\r\n" (leading empty lines are skipped). Nothing on a malformed
// request line or header line.
std::optional<RequestHead> ParseRequestHead(std::string_view head);

// Decodes %XX escapes; "+" stays "+". Nothing on a broken escape.
std::optional<std::string> PercentDecode(std::string_view text);

// The decoded value of the last parameter called `name` in a query, if present.
std::optional<std::string> QueryParam(std::string_view query, std::string_view name);

// The body length a request head announces: 0 without Content-Length; nothing when a value is
// not a decimal or two Content-Length headers disagree (two readers of the request could then
// see two different bodies, the way requests are smuggled past a proxy).
std::optional<uint64_t> AnnouncedBodyLength(const RequestHead& head);

// A decimal without sign or spaces that fits 64 bits.
std::optional<uint64_t> ParseDecimal(std::string_view text);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace qs::devserver
