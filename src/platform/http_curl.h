// The libcurl side of the HTTP session. Private to src/platform/http_curl*.cpp: nothing
// outside this folder includes it, so curl's types stay behind platform/http.h.
//
// Shape:
// - SessionCore is what a session and every request opened on it share (by shared_ptr): the
//   options, the closed flag, the curl share object (cookies, DNS, TLS sessions) and the pool
//   of kept-alive connections. It dies with its last holder, so a worker's request stays valid
//   after the control closed and dropped the session.
// - Connections are not shared through the share object (curl does not support that across
//   threads). Each request instead borrows a multi handle from the pool, keyed by
//   scheme://host:port, whose connection cache still holds the connection the previous request
//   to that origin left open, and gives it back when it ends.
// - Transfer drives one easy handle on its borrowed multi from the calling thread only
//   (curl_multi_perform + curl_multi_poll). Session::Close wakes a blocked poll with
//   curl_multi_wakeup, the one call made on a multi from another thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "base/error.h"
#include "platform/http.h"
#include "platform/http_curl_errors.h"
#include "platform/proxy_resolver.h"

namespace qs::platform::curl {

// Owners of what curl's URL interface hands out, shared by the files that take URLs apart.
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlText {
  char* text = nullptr;
  ~CurlText() { curl_free(text); }
};

// ASCII letters in lower case; other bytes as they are (schemes, header tokens).
inline std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SharePtr = std::unique_ptr<CURLSH, ShareDeleter>;

// Cookies, resolved names and TLS sessions, shared by every request of one session. Must
// outlive every easy handle that names it; not movable (curl keeps a pointer to the locks).
class Share {
 public:
  Share() = default;
  Share(const Share&) = delete;
  Share& operator=(const Share&) = delete;

  ErrorOr<void> Init();
  CURLSH* get() const { return handle_.get(); }

 private:
  static void Lock(CURL* easy, curl_lock_data data, curl_lock_access access, void* self);
  static void Unlock(CURL* easy, curl_lock_data data, void* self);

  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
  SharePtr handle_;
};

// Idle multi handles with the connections they keep alive, by origin (scheme://host:port).
class MultiPool {
 public:
  // An idle multi of `origin`, most recently used first, or a new one.
  ErrorOr<MultiPtr> Borrow(const std::string& origin);
  // Keeps `multi` for the next request to `origin`; after Clear, or beyond the limit on idle
  // handles, the oldest is closed instead.
  void Return(const std::string& origin, MultiPtr multi);
  // Closes every idle connection and keeps none from now on.
  void Clear();

 private:
  static constexpr size_t kMaxIdle = 8;

  std::mutex mutex_;
  bool cleared_ = false;
  std::vector<std::pair<std::string, MultiPtr>> idle_;  // oldest first
};

class SessionCore {
 public:
  explicit SessionCore(const HttpSessionOptions& options);
  ErrorOr<void> Init() { return share_.Init(); }

  const std::string& agent() const { return agent_; }
  uint32_t connect_timeout_ms() const { return connect_ms_.load(); }
  uint32_t send_timeout_ms() const { return send_ms_.load(); }
  uint32_t receive_timeout_ms() const { return receive_ms_.load(); }
  void SetTimeouts(uint32_t connect_ms, uint32_t send_ms, uint32_t receive_ms);

  CURLSH* share() const { return share_.get(); }
  MultiPool& pool() { return pool_; }
  // The desktop's proxy answers for this session, by origin.
  ProxyCache& proxies() { return proxies_; }

  bool closed() const { return closed_.load(std::memory_order_acquire); }
  // Marks the session closed, closes the idle connections and wakes every registered multi.
  void Close();
  // A multi that a thread may block on; Close wakes it. Unregister before it is freed.
  void Register(CURLM* multi);
  void Unregister(CURLM* multi);

 private:
  const std::string agent_;
  std::atomic<uint32_t> connect_ms_;
  std::atomic<uint32_t> send_ms_;
  std::atomic<uint32_t> receive_ms_;
  std::atomic<bool> closed_{false};
  ProxyCache proxies_{DesktopProxyLookup()};

  // Declared before the pool: connections must go before the share object they used.
  Share share_;
  MultiPool pool_;

  std::mutex active_mutex_;
  std::vector<CURLM*> active_;
};

// One request: an easy handle on a borrowed multi, driven from the thread that owns it.
//
// Pull model: the body goes through one bounded buffer. curl's write callback appends to it
// while there is room and pauses the transfer otherwise; Read hands the buffer out in the
// caller's piece size and lets curl go on once it is empty.
class Transfer {
 public:
  using Clock = std::chrono::steady_clock;

  // Checks the URL (absolute http or https) and prepares the request; method-specific
  // options can then be set on easy() before Begin.
  // A signalled `cancel` ends the transfer like a closed session.
  static ErrorOr<std::unique_ptr<Transfer>> Create(std::shared_ptr<SessionCore> core,
                                                   std::string_view url,
                                                   std::shared_ptr<CancelSignal> cancel = nullptr);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  CURL* easy() const { return easy_.get(); }

  // Hands the request to curl.
  ErrorOr<void> Begin();
  // Runs the request until its final response head is known. Fails when the transfer ended
  // without one (connection, time-out, malformed head, close).
  ErrorOr<void> AwaitHead();

  uint32_t Status() const { return head_final_ ? status_ : 0; }
  std::optional<std::string> Header(std::string_view name) const;
  ErrorOr<size_t> Read(std::span<std::byte> buffer);

  // Runs curl until `ready()` holds or the transfer has ended (see done()). For request kinds
  // with a body of their own: a streamed POST pumps with it until its piece has been taken.
  // Close, a stall past the time-out and curl's own failures end the transfer.
  void DriveUntil(const std::function<bool()>& ready);
  bool done() const { return done_; }

  // For request kinds that run a series of requests on one easy handle (http_curl_post.cpp).
  // Restart takes the easy handle out of its multi if it is in (an unfinished request is
  // abandoned, its connection closed), forgets everything about the previous request's answer,
  // points the easy handle at `url` (same origin) and hands it to curl again. What curl learned
  // on the easy handle (the authentication method, a Digest nonce) and the multi's kept-alive
  // connection carry over. Keep it in step with the per-request fields below.
  ErrorOr<void> Restart(std::string_view url);
  // The status and a header of the head being read, final or not (an authentication
  // challenge that curl answers itself is never final).
  uint32_t LatestStatus() const { return status_; }
  std::optional<std::string> LatestHeader(std::string_view name) const;
  // The caller, not the server, held the transfer up: the stall clock starts afresh.
  void NoteCallerActivity() { Touch(); }
  // Body bytes of the answer are waiting in the buffer (curl may be paused behind them).
  bool body_buffered() const { return body_begin_ != body_end_; }
  // curl is paused because the body buffer is full.
  bool receive_paused() const { return paused_; }
  // How the transfer ended; kSuccess while it runs.
  ErrorCode result() const { return result_; }
  const std::string& origin() const { return origin_; }
  // The proxy the request goes through (http_curl_route.cpp).
  const ProxyChoice& proxy() const { return proxy_; }

 private:
  struct Key {
    explicit Key() = default;
  };

 public:
  Transfer(Key, std::shared_ptr<SessionCore> core, std::string origin, MultiPtr multi,
           EasyPtr easy);

 private:
  ErrorOr<void> Configure(std::string_view url);
  // The proxy and the authentication schemes (http_curl_route.cpp).
  ErrorOr<void> ConfigureRoute(std::string_view url);
  // After the end: a proxy's refusal of a tunnel as its answer, a proxy that could not be
  // reached forgotten, and what a trace shows.
  void NoteRouteOutcome(int curl_code);
  // The same for a refusal (401, 407) whose answer the caller closes before its end.
  void NoteClosedRefusal();
  void CollectDone();
  void Abort(HttpAbort reason);
  void Finish(int curl_code);
  Error Failure() const;
  bool Stalled(Clock::time_point now);
  uint32_t StallLimitMs() const;
  void Touch() { last_activity_ = Clock::now(); }

  size_t OnHeader(std::string_view line);
  size_t OnBody(const char* data, size_t size);
  int OnProgress(curl_off_t dlnow, curl_off_t ulnow, curl_off_t ultotal);

  static size_t HeaderThunk(char* data, size_t size, size_t count, void* self);
  static size_t WriteThunk(char* data, size_t size, size_t count, void* self);
  static int ProgressThunk(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                           curl_off_t ulnow);
  static int DebugThunk(CURL* easy, curl_infotype type, char* data, size_t size, void* self);

  // Closed session or cancelled request: either ends the transfer.
  bool Stopped() const { return core_->closed() || (cancel_ && cancel_->cancelled()); }

  std::shared_ptr<SessionCore> core_;
  std::shared_ptr<CancelSignal> cancel_;
  std::string origin_;
  MultiPtr multi_;
  EasyPtr easy_;
  bool attached_ = false;           // easy_ is in multi_
  bool registered_ = false;         // multi_ is known to the core for wake-ups
  bool cancel_registered_ = false;  // cancel_ wakes multi_

  // The response head: the block being read and, once final, the one reported.
  uint32_t status_ = 0;
  std::vector<std::pair<std::string, std::string>> headers_;
  bool block_ended_ = false;  // the current block's blank line has arrived
  bool head_final_ = false;
  size_t head_bytes_ = 0;

  // The body not yet handed out: bytes [body_begin_, body_end_) of body_.
  std::unique_ptr<std::byte[]> body_;
  size_t body_capacity_ = 0;
  size_t body_begin_ = 0;
  size_t body_end_ = 0;
  bool paused_ = false;
  bool awaiting_head_ = false;  // AwaitHead runs: curl is held after the first piece of body

  // Stall detection: the last time a byte moved, and the counts seen then.
  Clock::time_point last_activity_;
  curl_off_t seen_dl_ = 0;
  curl_off_t seen_ul_ = 0;
  bool sending_ = false;
  bool connected_ = false;  // the request could be sent: the stall clock runs

  bool done_ = false;
  HttpAbort abort_ = HttpAbort::kNone;
  ErrorCode result_ = ErrorCode::kSuccess;
  std::array<char, CURL_ERROR_SIZE> error_text_{};

  // Route (http_curl_route.cpp): the proxy, and for traces the URL as shown and the schemes
  // the request answered with.
  ProxyChoice proxy_;
  std::string shown_url_;
  std::string sent_auth_;
  std::string sent_proxy_auth_;
};

// The schemes offered to the server, and to a proxy the request goes through: Negotiate with
// the user's ticket when `has_login` is false, Basic, Digest and NTLM with credentials.
void SetServerAuth(CURL* easy, bool has_login);
void SetProxyAuth(CURL* easy, const ProxyChoice& proxy, bool has_login);

// Makes the handle's TLS connections trust the certificates named by SSL_CERT_FILE and
// SSL_CERT_DIR in addition to the system's store (http_curl_trust.cpp).
bool TrustEnvironmentCertificates(CURL* easy);

// A connection for requests with a body to the origin of `url` (http_curl_post.cpp).
ErrorOr<std::unique_ptr<HttpConnection>> ConnectForBody(std::shared_ptr<SessionCore> core,
                                                        std::string_view url,
                                                        std::shared_ptr<CancelSignal> cancel);

}  // namespace qs::platform::curl
