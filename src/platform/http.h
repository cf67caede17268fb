// The HTTP client the transfers run on.
//
// One HttpSession per control, used by every worker thread at once. Requests are blocking and
// pull-style: a worker opens a URL, reads the status and headers, then pulls the body in pieces
// it chooses, so that the body is never gathered in memory.
//
// Lifetime: the control owns its session and closes it when it goes away. Closing makes every
// later open on it fail (kInternetOperationCancelled) and wakes requests blocked in it, but the
// objects a worker holds (the session through shared ownership, its requests) stay valid until
// that worker lets go of them.
//
// Every failure returns its platform code and also leaves it as the thread's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/error.h"
#include "platform/cancel_signal.h"

namespace qs::platform {

struct HttpSessionOptions {
  std::string agent;  // User-Agent text
  uint32_t connect_timeout_ms = 100000;
  uint32_t send_timeout_ms = 100000;
  uint32_t receive_timeout_ms = 100000;  // no byte moved for this long: the request fails
};

// A cookie the embedding browser holds for the page, to go with the session's requests by the
// usual rules (domain, path, secure, expiry). Host-only cookies go to exactly `domain`; others
// also to the hosts below it.
struct HttpCookie {
  std::string name;
  std::string value;
  std::string domain;  // without a leading "."
  std::string path = "/";
  bool host_only = true;
  bool secure = false;
  bool http_only = false;
  int64_t expires = 0;  // seconds since 1970; 0: until the session ends
};

// A change that the server's answers made to the session's cookie store: a cookie set (new or
// with another value or attribute), or one removed (set with an expiry in the past, or lapsed).
struct HttpCookieChange {
  HttpCookie cookie;
  bool removed = false;
};

// A GET request whose response head has arrived (the redirects allowed already followed).
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // The final response's numeric status (0 when none could be read).
  virtual uint32_t Status() const = 0;
  // The value of a response header of the final response, without surrounding white space;
  // nothing when absent. Names compare without regard to case.
  virtual std::optional<std::string> Header(std::string_view name) const = 0;
  // Reads up to buffer.size() bytes of the body: n > 0, 0 at the end, or the code of the
  // failure when the connection breaks or stalls past the receive time-out. A failure is
  // final: later reads report it again. A body whose length the server did not announce
  // cannot be told apart from one cut short; it ends with 0 either way.
  virtual ErrorOr<size_t> Read(std::span<std::byte> buffer) = 0;
};

// A POST whose body the caller writes piece by piece, on an HttpConnection.
//
// The body is never gathered: Write hands its bytes on through one bounded buffer, so the
// request holds at most that buffer whatever the announced length. The request carries no
// content type, no "Expect: 100-continue" and no accepted types; redirects are not followed
// (a redirect is an answer like any other).
//
// Authentication: with credentials available (the URL's, or those given through
// HttpConnection::SetCredentials), a 401 or 407 answer to a request with a body ends End with
// kInternetForceRetry (12032). The caller then calls Send again with the same length and writes
// the whole body once more, from its first byte. Without credentials the 401 or 407 is an
// answer like any other.
//
// Destroying a request that has not reached its answer abandons it; the connection it used is
// then closed rather than reused.
class HttpPostRequest {
 public:
  virtual ~HttpPostRequest() = default;
  // Sends the request head announcing `length` body bytes; the body follows through Write.
  // With length 0 the request is complete and End only awaits the answer. Called again after
  // End reported kInternetForceRetry (or after any answer), it sends the same request once more.
  virtual ErrorOr<void> Send(uint64_t length) = 0;
  // Hands the next body bytes to the request; never more in total than Send announced. Once
  // the server has answered early, or asked for the body again, further bytes are taken and
  // dropped: End then reports the answer.
  virtual ErrorOr<void> Write(std::span<const std::byte> data) = 0;
  // Waits for the answer's head (and for a short answer's body). kInternetForceRetry as above;
  // any other failure is the transport's, and Status() still reports a status that was read.
  virtual ErrorOr<void> End() = 0;
  // The answer's numeric status; 0 when none was read.
  virtual uint32_t Status() const = 0;
  // Reads the answer's body like HttpRequest::Read; 0 at its end, and at once when End asked
  // for the body again.
  virtual ErrorOr<size_t> Read(std::span<std::byte> buffer) = 0;
};

// Who asked for credentials most recently on a connection, as shown to the user.
struct HttpChallenge {
  std::string server;  // host:port
  std::string realm;   // as the challenge named it; may be empty
  std::string user;    // the user name tried last; may be empty
  bool proxy = false;  // a proxy asked (407), not the server
};

// Requests with a body to one origin (scheme, host, port), one at a time, over one connection
// that is kept alive from one request to the next. What the server taught about
// authentication carries over from one request to the next as well.
class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  // A POST to `target` (path and query, starting with "/") on this origin; nothing is sent
  // before its Send. Opening the next request abandons this one if it is still unanswered.
  virtual ErrorOr<std::unique_ptr<HttpPostRequest>> OpenPost(std::string_view target) = 0;
  virtual HttpChallenge LastChallenge() const = 0;
  // Credentials for the server, or for the proxy; in force from the next Send on.
  virtual void SetCredentials(bool proxy, std::string user, std::string password) = 0;
};

// Most redirects one GET follows.
inline constexpr uint32_t kMaxRedirects = 10;

// Whether a GET may follow a redirect from `from` to `to` (see HttpSession::OpenUrl). Called on
// the thread that opens the request.
using RedirectCheck = std::function<bool(std::string_view from, std::string_view to)>;

class HttpSession {
 public:
  virtual ~HttpSession() = default;

  static ErrorOr<std::shared_ptr<HttpSession>> Open(const HttpSessionOptions& options);

  // Sends a GET for an absolute http or https URL (UTF-8, host already ASCII) and returns once
  // the final response head has arrived. Connections are kept alive and reused.
  //
  // Redirects (301, 302, 303, 307 and 308 with a Location) are followed only as far as
  // `may_follow` allows, at most kMaxRedirects times: before anything is sent to a redirect's
  // target, `may_follow` is asked with the URL that answered and the absolute target (UTF-8,
  // host in ASCII form, no fragment). A redirect it refuses, or one past the limit, is the final
  // answer (Status() gives its 3xx), and its target is never contacted. Without `may_follow`
  // no redirect is followed.
  //
  // `cancel`, when given, ends the request wherever it waits (connecting, awaiting the head, a
  // read during a stall) as soon as it is signalled: the call then fails with
  // kInternetOperationCancelled, like a request on a closed session.
  virtual ErrorOr<std::unique_ptr<HttpRequest>> OpenUrl(
      std::string_view url, const RedirectCheck& may_follow,
      std::shared_ptr<CancelSignal> cancel = nullptr) = 0;
  ErrorOr<std::unique_ptr<HttpRequest>> OpenUrl(std::string_view url) {
    return OpenUrl(url, RedirectCheck());
  }

  // Prepares requests with a body to the origin of the absolute http or https `url` (its path
  // and query are ignored), with the user name and password the URL carries, if any. Nothing is
  // sent yet.
  // `cancel` ends every request of the connection as OpenUrl's does.
  virtual ErrorOr<std::unique_ptr<HttpConnection>> Connect(
      std::string_view url, std::shared_ptr<CancelSignal> cancel = nullptr) = 0;

  // Adds cookies to the session's cookie store (a cookie of the same name, domain and path
  // replaces the one there). A cookie with a control character or tab in any field, a ";" in
  // its name, value or path, or no name or domain is skipped: it could not be sent faithfully.
  virtual void AddCookies(std::span<const HttpCookie> cookies) = 0;
  // The changes to the cookie store since the last call (or since the session opened): the
  // cookies that answers set or removed. Cookies given with AddCookies are not reported back
  // unless an answer changed them. The store lives in memory only.
  virtual std::vector<HttpCookieChange> TakeCookieChanges() = 0;

  // Makes every later request fail and aborts the ones in progress. Idempotent.
  virtual void Close() = 0;
  virtual bool IsClosed() const = 0;

  // Test-only: shortens the time-outs of requests opened from now on.
  virtual void SetTimeoutsForTesting(uint32_t connect_ms, uint32_t send_ms,
                                     uint32_t receive_ms) = 0;

  // Number of sessions opened in this process so far (for tests that a control opens once).
  static uint64_t OpenCountForTesting();
};

}  // namespace qs::platform
