// Scripted misbehaviour of the development server.
//
// A Fault says which requests it matches and what goes wrong with their answers. Every fault
// counts the requests that match it (method, path prefix, query substring); it applies to the
// matching requests number skip+1 to skip+times, so "202 three times, then the real answer" is
// one fault with times=3, and "fail only the second chunk" is one with skip=1 (or a query
// substring such as "chunkIdx=2&").
//
// Effects come in two kinds. A replacing effect (a status, raw bytes, a challenge that is not
// satisfied) stands in for the real answer; when several replacing faults apply to one request
// the one added first wins. Modifying effects (break, stall, wrong or missing headers, a broken
// header line, a rate) change the real answer and combine with each other; of several rates
// the lowest holds.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qs::devserver {

enum class AuthScheme { kBasic, kDigest };
// A challenge from the server itself answers 401 with WWW-Authenticate; one from a proxy 407
// with Proxy-Authenticate.
enum class AuthRealm { kServer, kProxy };
enum class StallPoint { kNone, kBeforeHead, kAfterBodyBytes };

struct Fault {
  static constexpr uint32_t kUnlimited = std::numeric_limits<uint32_t>::max();

  // What it matches. Empty strings match everything.
  std::string method;          // "GET", "POST"
  std::string path_prefix;     // compared with the path part of the request target
  std::string query_contains;  // substring of the query part (without the "?")
  std::string without_cookie;  // "NAME=VALUE": only requests whose Cookie header lacks it
  uint32_t skip = 0;           // matching requests let through untouched first
  uint32_t times = 1;          // matching requests it applies to after those; kUnlimited: all

  // Replacing effects.
  int status = 0;                  // answer with this status and `body` (0: none)
  std::string body;                // body of that answer
  bool ask_again = false;          // 202 naming `body` (empty: the request's own target)
  std::optional<std::string> raw;  // send exactly these bytes, then close the connection
  std::optional<AuthScheme> auth;  // challenge unless the request carries these credentials
  AuthRealm auth_realm = AuthRealm::kServer;
  std::string user;
  std::string password;

  // Modifying effects.
  std::optional<uint64_t> break_after;  // close after this many body bytes (sent by a GET
                                        // answer, received of a POST body)
  StallPoint stall = StallPoint::kNone;
  uint64_t stall_after = 0;                   // body bytes before a kAfterBodyBytes stall
  std::chrono::milliseconds stall_for{0};     // 0: until the server stops
  std::optional<int64_t> resumed_from_delta;  // "Resumed-from" off by this much
  bool omit_resumed_from = false;             // answer a resumption without the header
  bool omit_qs_content_length = false;
  std::optional<int64_t> qs_content_length_delta;  // "QS-Content-Length" off by this much
  bool malformed_header = false;                   // a header line without a colon
  uint64_t long_header_bytes = 0;                  // one header line of this many bytes
  std::string set_cookie;                          // a Set-Cookie header with this value
  uint64_t rate = 0;  // body bytes per second of an answer, as a slower link would carry
                      // them (0: as fast as the connection takes them)

  // Builders for the common cases; chain the matchers below.
  static Fault Status(int status, std::string body = {});
  // 202 whose body names the URI to ask again (empty: the request's own target). An upload
  // chunk is stored first; its real answer waits for the follow-up request to that URI.
  static Fault AskAgain(std::string uri = {});
  static Fault BreakAfter(uint64_t bytes);
  static Fault StallBeforeHead(std::chrono::milliseconds for_how_long = {});
  static Fault StallAfter(uint64_t body_bytes, std::chrono::milliseconds for_how_long = {});
  static Fault WrongResumedFrom(int64_t delta);
  static Fault OmitResumedFrom();
  static Fault OmitQsContentLength();
  static Fault WrongQsContentLength(int64_t delta);
  static Fault MalformedHeader();
  static Fault LongHeader(uint64_t bytes);
  static Fault Rate(uint64_t bytes_per_second);
  static Fault Raw(std::string bytes);
  static Fault Challenge(AuthScheme scheme, std::string user, std::string password,
                         AuthRealm realm = AuthRealm::kServer);

  Fault& Method(std::string m) & {
    method = std::move(m);
    return *this;
  }
  Fault& Path(std::string prefix) & {
    path_prefix = std::move(prefix);
    return *this;
  }
  Fault& Query(std::string part) & {
    query_contains = std::move(part);
    return *this;
  }
  Fault& Skip(uint32_t n) & {
    skip = n;
    return *this;
  }
  Fault& Times(uint32_t n) & {
    times = n;
    return *this;
  }
  Fault&& Method(std::string m) && { return std::move(Method(std::move(m))); }
  Fault&& Path(std::string prefix) && { return std::move(Path(std::move(prefix))); }
  Fault&& Query(std::string part) && { return std::move(Query(std::move(part))); }
  Fault&& Skip(uint32_t n) && { return std::move(Skip(n)); }
  Fault&& Times(uint32_t n) && { return std::move(Times(n)); }

  bool Matches(const std::string& req_method, const std::string& path,
               const std::string& query) const;
  bool Replaces() const { return status != 0 || ask_again || raw.has_value() || auth.has_value(); }
};

// Parses the compact command-line form: comma-separated items, each "key=value" or a flag.
//   match:   method=POST path=/download query=resumeAt= skip=N times=N|always
//            without-cookie=NAME=VALUE (a login the request does not carry)
//   replace: status=N body=TEXT ask-again[=URI] raw=TEXT (\r \n \\ escapes)
//            auth=basic|digest user=U password=P proxy
//   modify:  break-after=N stall=before-head|N stall-ms=N resumed-from-delta=N
//            omit-resumed-from omit-qs-length qs-length-delta=N malformed-header
//            long-header=N set-cookie=NAME=VALUE[; attributes] rate=BYTES_PER_SECOND
// Example: "break-after=1048576,times=1,path=/download". Values cannot contain commas.
// Returns nothing and sets *error on a malformed text.
std::optional<Fault> ParseFaultDescription(const std::string& text, std::string* error);

}  // namespace qs::devserver
