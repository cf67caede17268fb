// Requests with a streamed body: one easy handle per connection, restarted for every request,
// so that the kept-alive connection and what curl learned about authentication carry over.
//
// The body flows caller -> stage -> curl. Write copies into the stage, a bounded buffer, and
// hands it to curl only when it is full or the body is complete, because curl fed small
// pieces spends several times the CPU per byte. curl's read callback takes from the stage and
// pauses the send when the stage is empty.
//
// A rewind (curl's seek callback to offset 0) after curl has taken body bytes means curl wants
// the body again: it answers an authentication challenge itself, with the credentials it was
// given. Those bytes are gone, so End reports kInternetForceRetry and the caller writes the
// body once more; curl has meanwhile sent the new request head and waits, paused, for it. A
// final 401 or 407 while credentials are available is reported the same way, and the next Send
// then restarts the request on the same easy handle. Any other rewind (curl retrying on a
// reused connection that died) is refused: the request fails as a lost connection.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/http_curl.h"
#include "platform/last_error.h"

namespace qs::platform::curl {

namespace {

// The largest body piece held between the caller and curl.
constexpr size_t kStageBytes = 256 * 1024;
constexpr uint32_t kStatusUnauthorized = 401;
constexpr uint32_t kStatusProxyAuthRequired = 407;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The realm="..." parameter of a challenge header; empty when there is none.
std::string RealmOf(std::string_view challenge) {
  const std::string lower = LowerAscii(std::string(challenge));
  const size_t at = lower.find("realm=");
  if (at == std::string::npos) return {};
  std::string_view rest = challenge.substr(at + 6);
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    return std::string(rest.substr(0, rest.find('"')));
  }
  return std::string(rest.substr(0, rest.find_first_of(", \t")));
}

bool IsAuthStatus(uint32_t status) {
  return status == kStatusUnauthorized || status == kStatusProxyAuthRequired;
}

struct Login {
  std::string user;
  std::string password;
  bool known() const { return !user.empty() || !password.empty(); }
};

// The connection's easy handle with the state of its current request. Shared by the
// connection and its request objects; a request object acts only while it is the current one.
class PostChannel {
 public:
  PostChannel(std::shared_ptr<SessionCore> core, std::string origin_url, std::string server,
              Login login, std::shared_ptr<CancelSignal> cancel)
      : core_(std::move(core)),
        cancel_(std::move(cancel)),
        origin_url_(std::move(origin_url)),
        server_(std::move(server)),
        login_(std::move(login)) {
    challenge_.server = server_;
  }
  PostChannel(const PostChannel&) = delete;
  PostChannel& operator=(const PostChannel&) = delete;

  uint64_t Open(std::string_view target) {
    Abandon(current_);
    ++current_;
    url_ = origin_url_ + std::string(target);
    ResetRequest(0);
    sent_ = false;
    return current_;
  }

  // Drops the request `id` if it is current and unanswered: its connection is closed.
  void Abandon(uint64_t id) {
    if (id != current_ || !transfer_) return;
    if (sent_ && !transfer_->done()) transfer_.reset();
  }

  ErrorOr<void> Send(uint64_t id, uint64_t length);
  ErrorOr<void> Write(uint64_t id, std::span<const std::byte> data);
  ErrorOr<void> End(uint64_t id);
  uint32_t Status(uint64_t id) const;
  ErrorOr<size_t> Read(uint64_t id, std::span<std::byte> buffer);

  HttpChallenge LastChallenge() const { return challenge_; }
  void SetCredentials(bool proxy, std::string user, std::string password) {
    (proxy ? proxy_login_ : login_) = Login{std::move(user), std::move(password)};
    credentials_changed_ = true;
  }

 private:
  ErrorOr<void> CheckCurrent(uint64_t id) const {
    if (id != current_ || !sent_ || !transfer_) {
      return Fail(ErrorCode::kInternetIncorrectHandleState);
    }
    return {};
  }
  void ResetRequest(uint64_t length) {
    length_ = length;
    accepted_ = 0;
    delivered_ = 0;
    stage_begin_ = stage_end_ = 0;
    dropping_ = false;
    resend_pending_ = false;
    restart_needed_ = false;
    rewind_refused_ = false;
    retry_status_ = 0;
  }
  ErrorOr<void> StartTransfer();
  // Why the transfer ended without an answer. A refused rewind was a connection that died
  // under a request whose body was already (partly) sent.
  Error TransportFailure() const {
    if (rewind_refused_) return Fail(ErrorCode::kInternetConnectionAborted);
    const ErrorCode result = transfer_->result();
    return Fail(result == ErrorCode::kSuccess ? ErrorCode::kInternetInternalError : result);
  }
  ErrorOr<void> Flush();
  void ResumeSending();
  void NoteChallenge(uint32_t status, bool final_head);
  // Whether a 401 or 407 goes the way of "send again" (and so, in the end, to the person's
  // prompt) rather than being the answer. A proxy's credentials can only come from the proxy
  // setting or from the person; a server's also from the user's ticket when it offers
  // Negotiate (single sign-on), even when there was none at hand.
  bool CredentialsFor(uint32_t status) const {
    if (status == kStatusProxyAuthRequired) return true;
    if (login_.known()) return true;
    long offered = 0;
    curl_easy_getinfo(transfer_->easy(), CURLINFO_HTTPAUTH_AVAIL, &offered);
    return (static_cast<unsigned long>(offered) & CURLAUTH_NEGOTIATE) != 0;
  }

  size_t OnRead(char* buffer, size_t size);
  int OnSeek(curl_off_t offset, int origin);
  static size_t ReadThunk(char* buffer, size_t size, size_t count, void* self);
  static int SeekThunk(void* self, curl_off_t offset, int origin);

  const std::shared_ptr<SessionCore> core_;
  const std::shared_ptr<CancelSignal> cancel_;
  const std::string origin_url_;  // scheme://host:port
  const std::string server_;      // host:port
  Login login_;
  Login proxy_login_;
  unsigned long proxy_offered_ = 0;  // the schemes of the proxy's last challenge
  bool credentials_changed_ = false;
  HttpChallenge challenge_;

  uint64_t current_ = 0;  // id of the current request
  std::string url_;
  bool sent_ = false;  // Send started the current request at least once

  // The current attempt of the current request.
  uint64_t length_ = 0;          // announced body length
  uint64_t accepted_ = 0;        // body bytes the caller handed over in this attempt
  uint64_t delivered_ = 0;       // body bytes curl took in this attempt
  bool read_paused_ = false;     // curl waits in the read callback for more body
  bool dropping_ = false;        // curl takes no more body: the caller's bytes are dropped
  bool resend_pending_ = false;  // curl rewound after taking bytes; it waits for the body anew
  bool restart_needed_ = false;  // a final 401 or 407 that the next Send answers
  uint32_t retry_status_ = 0;    // the status that asked for the body again
  uint32_t connect_status_ = 0;  // a proxy's refusal of the tunnel (407), when that ended it
  bool rewind_refused_ = false;  // curl wanted to repeat the body on another connection

  std::vector<std::byte> stage_;
  size_t stage_begin_ = 0;
  size_t stage_end_ = 0;

  std::unique_ptr<curl_slist, SlistDeleter> headers_;
  // Last: destroyed first, while everything its callbacks touch still exists.
  std::unique_ptr<Transfer> transfer_;
};

ErrorOr<void> PostChannel::StartTransfer() {
  if (!transfer_) {
    auto created = Transfer::Create(core_, url_, cancel_);
    if (!created) return created.error();
    transfer_ = std::move(created).value();
    if (!headers_) {
      // Empty values remove curl's defaults: a form content type on every POST, "Expect:
      // 100-continue" above 1 MiB, and "Accept: */*".
      curl_slist* list = nullptr;
      for (const char* header : {"Content-Type:", "Expect:", "Accept:"}) {
        curl_slist* grown = curl_slist_append(list, header);
        if (!grown) {
          curl_slist_free_all(list);
          return Fail(ErrorCode::kNotEnoughMemory);
        }
        list = grown;
      }
      headers_.reset(list);
    }
    CURL* e = transfer_->easy();
    // The proxy setting's credentials, unless the person has given others.
    const ProxyChoice& proxy = transfer_->proxy();
    if (!proxy_login_.known() && proxy.has_credentials()) {
      proxy_login_ = Login{proxy.user, proxy.password};
    }
    // A proxy that forwards plain HTTP may close the connection after each answer without
    // saying so; a body sent on it again would be lost, so each request takes a fresh one.
    const bool forwarded = proxy.kind == ProxyChoice::Kind::kProxy &&
                           origin_url_.starts_with("http://") && proxy.url.starts_with("http");
    bool ok = curl_easy_setopt(e, CURLOPT_FORBID_REUSE, forwarded ? 1L : 0L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_POST, 1L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK &&
              // A redirect of an upload is an answer: following it could carry the body to
              // another host than the page's.
              curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_READFUNCTION, &PostChannel::ReadThunk) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_READDATA, this) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &PostChannel::SeekThunk) == CURLE_OK &&
              curl_easy_setopt(e, CURLOPT_SEEKDATA, this) == CURLE_OK;
    if (!ok) return Fail(ErrorCode::kInternetInternalError);
  } else {
    QS_TRY_VOID(transfer_->Restart(url_));
  }

  CURL* e = transfer_->easy();
  bool ok = curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length_)) ==
            CURLE_OK;
  // Without credentials the user's ticket is offered (http_curl_route.cpp).
  SetServerAuth(e, login_.known());
  if (ok && login_.known()) {
    ok = curl_easy_setopt(e, CURLOPT_USERNAME, login_.user.c_str()) == CURLE_OK &&
         curl_easy_setopt(e, CURLOPT_PASSWORD, login_.password.c_str()) == CURLE_OK;
  }
  if (proxy_login_.known()) {
    // The schemes the proxy offered last, when known: with one, curl answers at once instead
    // of asking first (which would cost the body once more).
    constexpr unsigned long kWithPassword = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;
    const unsigned long offered = proxy_offered_ & kWithPassword;
    ok = ok &&
         curl_easy_setopt(e, CURLOPT_PROXYAUTH,
                          static_cast<long>(offered != 0 ? offered : kWithPassword)) == CURLE_OK &&
         curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxy_login_.user.c_str()) == CURLE_OK &&
         curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxy_login_.password.c_str()) == CURLE_OK;
  } else {
    SetProxyAuth(e, transfer_->proxy(), false);
  }
  if (!ok) return Fail(ErrorCode::kInternetInternalError);
  credentials_changed_ = false;
  read_paused_ = false;
  connect_status_ = 0;
  return transfer_->Begin();
}

ErrorOr<void> PostChannel::Send(uint64_t id, uint64_t length) {
  if (id != current_) return Fail(ErrorCode::kInternetIncorrectHandleState);
  // curl answered the challenge itself and waits for the body of the request it re-sent; with
  // new credentials that request is already wrong, and a fresh one goes out instead.
  const bool follow_curl = sent_ && transfer_ && resend_pending_ && !credentials_changed_ &&
                           length == length_ && !transfer_->done();
  ResetRequest(length);
  if (follow_curl) {
    ResumeSending();
    return {};
  }
  if (length > 0 && stage_.empty()) stage_.resize(kStageBytes);
  sent_ = true;
  auto started = StartTransfer();
  if (!started.ok()) transfer_.reset();
  return started;
}

ErrorOr<void> PostChannel::Write(uint64_t id, std::span<const std::byte> data) {
  QS_TRY_VOID(CheckCurrent(id));
  if (data.size() > length_ - accepted_) return Fail(ErrorCode::kInvalidParameter);
  accepted_ += data.size();
  size_t at = 0;
  while (at < data.size() && !dropping_ && !resend_pending_) {
    if (stage_end_ == stage_.size()) QS_TRY_VOID(Flush());
    if (dropping_ || resend_pending_) break;
    const size_t n = std::min(data.size() - at, stage_.size() - stage_end_);
    std::memcpy(stage_.data() + stage_end_, data.data() + at, n);
    stage_end_ += n;
    at += n;
  }
  return {};
}

void PostChannel::ResumeSending() {
  transfer_->NoteCallerActivity();
  if (read_paused_) {
    read_paused_ = false;
    curl_easy_pause(transfer_->easy(), CURLPAUSE_CONT);
  }
}

ErrorOr<void> PostChannel::Flush() {
  if (stage_begin_ == stage_end_) return {};
  ResumeSending();
  transfer_->DriveUntil(
      [this] { return stage_begin_ == stage_end_ || resend_pending_ || transfer_->Status() != 0; });
  if (stage_begin_ == stage_end_ || resend_pending_) {
    stage_begin_ = stage_end_ = 0;
    return {};
  }
  // curl takes no more: the server answered before the body was complete, or the transfer
  // ended. The answer, or the failure, is End's to report.
  dropping_ = true;
  stage_begin_ = stage_end_ = 0;
  if (transfer_->Status() == 0 && transfer_->done()) return TransportFailure();
  return {};
}

ErrorOr<void> PostChannel::End(uint64_t id) {
  QS_TRY_VOID(CheckCurrent(id));
  if (!dropping_ && !resend_pending_) {
    if (accepted_ < length_) return Fail(ErrorCode::kInternetIncorrectHandleState);
    QS_TRY_VOID(Flush());
  }
  if (!resend_pending_) {
    transfer_->NoteCallerActivity();
    transfer_->DriveUntil([this] { return resend_pending_ || transfer_->Status() != 0; });
  }
  if (resend_pending_) return Fail(ErrorCode::kInternetForceRetry);

  if (transfer_->Status() == 0) {
    // A proxy that wants credentials before it opens the tunnel ends the transfer itself.
    long connect_code = 0;
    curl_easy_getinfo(transfer_->easy(), CURLINFO_HTTP_CONNECTCODE, &connect_code);
    if (connect_code == kStatusProxyAuthRequired) {
      connect_status_ = kStatusProxyAuthRequired;
      NoteChallenge(connect_status_, true);
      if (length_ > 0 && CredentialsFor(connect_status_)) {
        restart_needed_ = true;
        retry_status_ = connect_status_;
        return Fail(ErrorCode::kInternetForceRetry);
      }
    }
    return TransportFailure();
  }

  // A short answer is read to its end here, so that a break after the status shows as a
  // failure of the request rather than of the reading.
  transfer_->DriveUntil([this] { return transfer_->receive_paused(); });
  const uint32_t status = transfer_->Status();
  if (IsAuthStatus(status)) {
    NoteChallenge(status, true);
    if (length_ > 0 && CredentialsFor(status)) {
      restart_needed_ = true;
      retry_status_ = status;
      return Fail(ErrorCode::kInternetForceRetry);
    }
  }
  if (transfer_->done() && transfer_->result() != ErrorCode::kSuccess) {
    return Fail(transfer_->result());
  }
  return {};
}

uint32_t PostChannel::Status(uint64_t id) const {
  if (id != current_ || !transfer_) return 0;
  if (resend_pending_ || restart_needed_) return retry_status_;
  if (connect_status_ != 0) return connect_status_;
  return transfer_->Status();
}

ErrorOr<size_t> PostChannel::Read(uint64_t id, std::span<std::byte> buffer) {
  QS_TRY_VOID(CheckCurrent(id));
  // curl dropped the challenge's body and waits for the request's body: nothing to read.
  if (resend_pending_) return size_t{0};
  if (connect_status_ != 0) return size_t{0};
  return transfer_->Read(buffer);
}

void PostChannel::NoteChallenge(uint32_t status, bool final_head) {
  const bool proxy = status == kStatusProxyAuthRequired;
  const char* name = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
  auto header = final_head ? transfer_->Header(name) : transfer_->LatestHeader(name);
  challenge_.proxy = proxy;
  challenge_.realm = header ? RealmOf(*header) : std::string();
  if (proxy) {
    long offered = 0;
    curl_easy_getinfo(transfer_->easy(), CURLINFO_PROXYAUTH_AVAIL, &offered);
    if (offered != 0) proxy_offered_ = static_cast<unsigned long>(offered);
  }
  challenge_.user = proxy ? proxy_login_.user : login_.user;
}

size_t PostChannel::OnRead(char* buffer, size_t size) {
  if (resend_pending_ || stage_begin_ == stage_end_) {
    read_paused_ = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t n = std::min(size, stage_end_ - stage_begin_);
  std::memcpy(buffer, stage_.data() + stage_begin_, n);
  stage_begin_ += n;
  delivered_ += n;
  return n;
}

int PostChannel::OnSeek(curl_off_t offset, int origin) {
  if (origin != SEEK_SET || offset != 0) return CURL_SEEKFUNC_CANTSEEK;
  if (delivered_ == 0) return CURL_SEEKFUNC_OK;  // nothing taken yet: nothing to repeat
  const uint32_t status = transfer_->LatestStatus();
  if (!IsAuthStatus(status)) {
    rewind_refused_ = true;
    return CURL_SEEKFUNC_CANTSEEK;
  }
  // The bytes curl took are gone; the caller writes the body again after End.
  NoteChallenge(status, false);
  resend_pending_ = true;
  retry_status_ = status;
  delivered_ = 0;
  stage_begin_ = stage_end_ = 0;
  return CURL_SEEKFUNC_OK;
}

size_t PostChannel::ReadThunk(char* buffer, size_t size, size_t count, void* self) {
  return static_cast<PostChannel*>(self)->OnRead(buffer, size * count);
}

int PostChannel::SeekThunk(void* self, curl_off_t offset, int origin) {
  return static_cast<PostChannel*>(self)->OnSeek(offset, origin);
}

class CurlPostRequest final : public HttpPostRequest {
 public:
  CurlPostRequest(std::shared_ptr<PostChannel> channel, uint64_t id)
      : channel_(std::move(channel)), id_(id) {}
  ~CurlPostRequest() override { channel_->Abandon(id_); }

  ErrorOr<void> Send(uint64_t length) override { return channel_->Send(id_, length); }
  ErrorOr<void> Write(std::span<const std::byte> data) override {
    return channel_->Write(id_, data);
  }
  ErrorOr<void> End() override { return channel_->End(id_); }
  uint32_t Status() const override { return channel_->Status(id_); }
  ErrorOr<size_t> Read(std::span<std::byte> buffer) override { return channel_->Read(id_, buffer); }

 private:
  std::shared_ptr<PostChannel> channel_;
  uint64_t id_;
};

class CurlConnection final : public HttpConnection {
 public:
  explicit CurlConnection(std::shared_ptr<PostChannel> channel) : channel_(std::move(channel)) {}

  ErrorOr<std::unique_ptr<HttpPostRequest>> OpenPost(std::string_view target) override {
    // Only a path keeps the request on this origin: anything else would be read as part of
    // the authority.
    if (target.empty() || target.front() != '/' || target.find('\0') != std::string_view::npos) {
      return Fail(ErrorCode::kInternetInvalidUrl);
    }
    const uint64_t id = channel_->Open(target);
    return std::unique_ptr<HttpPostRequest>(std::make_unique<CurlPostRequest>(channel_, id));
  }
  HttpChallenge LastChallenge() const override { return channel_->LastChallenge(); }
  void SetCredentials(bool proxy, std::string user, std::string password) override {
    channel_->SetCredentials(proxy, std::move(user), std::move(password));
  }

 private:
  std::shared_ptr<PostChannel> channel_;
};

}  // namespace

ErrorOr<std::unique_ptr<HttpConnection>> ConnectForBody(std::shared_ptr<SessionCore> core,
                                                        std::string_view url,
                                                        std::shared_ptr<CancelSignal> cancel) {
  if (url.find('\0') != std::string_view::npos) return Fail(ErrorCode::kInternetInvalidUrl);
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return Fail(ErrorCode::kNotEnoughMemory);
  const std::string text(url);
  if (curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return Fail(ErrorCode::kInternetInvalidUrl);
  }
  CurlText scheme, host, port, user, password;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host.text, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_PORT, &port.text, CURLU_DEFAULT_PORT) != CURLUE_OK) {
    return Fail(ErrorCode::kInternetInvalidUrl);
  }
  const std::string lower_scheme = LowerAscii(scheme.text);
  if (lower_scheme != "http" && lower_scheme != "https") {
    return Fail(ErrorCode::kInternetUnrecognizedScheme);
  }
  Login login;
  if (curl_url_get(parsed.get(), CURLUPART_USER, &user.text, CURLU_URLDECODE) == CURLUE_OK) {
    login.user = user.text;
  }
  if (curl_url_get(parsed.get(), CURLUPART_PASSWORD, &password.text, CURLU_URLDECODE) ==
      CURLUE_OK) {
    login.password = password.text;
  }
  std::string server = std::string(host.text) + ":" + port.text;
  std::string origin = lower_scheme + "://" + server;
  auto channel = std::make_shared<PostChannel>(
      std::move(core), std::move(origin), std::move(server), std::move(login), std::move(cancel));
  return std::unique_ptr<HttpConnection>(std::make_unique<CurlConnection>(std::move(channel)));
}

ErrorOr<void> Transfer::Restart(std::string_view url) {
  if (attached_) {
    curl_multi_remove_handle(multi_.get(), easy_.get());
    attached_ = false;
  }
  if (registered_) {
    core_->Unregister(multi_.get());
    registered_ = false;
  }
  status_ = 0;
  headers_.clear();
  block_ended_ = false;
  head_final_ = false;
  head_bytes_ = 0;
  body_begin_ = body_end_ = 0;
  paused_ = false;
  seen_dl_ = seen_ul_ = 0;
  sending_ = false;
  connected_ = false;
  done_ = false;
  abort_ = HttpAbort::kNone;
  result_ = ErrorCode::kSuccess;
  error_text_.fill('\0');
  const std::string text(url);
  if (curl_easy_setopt(easy_.get(), CURLOPT_URL, text.c_str()) != CURLE_OK) {
    return Fail(ErrorCode::kInternetInternalError);
  }
  return {};
}

std::optional<std::string> Transfer::LatestHeader(std::string_view name) const {
  for (const auto& [key, value] : headers_) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace qs::platform::curl
