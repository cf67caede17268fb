// One request driven on its borrowed multi handle: setup, the drive loop, time-outs, reads.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/http_curl.h"
#include "platform/last_error.h"

namespace qs::platform::curl {

namespace {

// Curl's receive buffer, and the most the body buffer holds before curl is paused.
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr size_t kBodyBufferBytes = 256 * 1024;
// A response head (all blocks of one request) larger than this is refused; lower than curl's
// own 300 KB limit so that the refusal is always ours and reads as a header fault.
constexpr size_t kMaxHeadBytes = 256 * 1024;
// Longest wait in curl_multi_poll, so that the stall check runs even when curl has no timer.
constexpr long kMaxPollMs = 1000;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  const char* ws = " \t\r\n";
  size_t first = text.find_first_not_of(ws);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(ws);
  return text.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "scheme://host:port" of an absolute http or https URL.
ErrorOr<std::string> OriginOf(std::string_view url) {
  if (url.find('\0') != std::string_view::npos) return Fail(ErrorCode::kInternetInvalidUrl);
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return Fail(ErrorCode::kNotEnoughMemory);
  std::string text(url);
  if (curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return Fail(ErrorCode::kInternetInvalidUrl);
  }
  CurlText scheme, host, port;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host.text, 0) != CURLUE_OK) {
    return Fail(ErrorCode::kInternetInvalidUrl);
  }
  std::string lower_scheme = Lower(scheme.text);
  if (lower_scheme != "http" && lower_scheme != "https") {
    return Fail(ErrorCode::kInternetUnrecognizedScheme);
  }
  if (curl_url_get(parsed.get(), CURLUPART_PORT, &port.text, CURLU_DEFAULT_PORT) != CURLUE_OK) {
    return Fail(ErrorCode::kInternetInvalidUrl);
  }
  return lower_scheme + "://" + Lower(host.text) + ":" + port.text;
}

// A head whose blank line does not make it final: curl goes on past it (an interim answer,
// a redirect it follows, an authentication it may answer), so the final head comes later,
// or this one becomes final at its first body byte or at the end of the transfer.
bool IsProvisional(uint32_t status) {
  return (status >= 100 && status < 200) || (status >= 300 && status < 400) || status == 401 ||
         status == 407;
}

// The number in "HTTP/1.1 200 OK"; 0 when there is none.
uint32_t ParseStatusLine(std::string_view line) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  uint32_t status = 0;
  size_t digits = 0;
  for (size_t i = space + 1; i < line.size() && digits < 3; ++i, ++digits) {
    char c = line[i];
    if (c < '0' || c > '9') return 0;
    status = status * 10 + static_cast<uint32_t>(c - '0');
  }
  return digits == 3 ? status : 0;
}

}  // namespace

Transfer::Transfer(Key, std::shared_ptr<SessionCore> core, std::string origin, MultiPtr multi,
                   EasyPtr easy)
    : core_(std::move(core)),
      origin_(std::move(origin)),
      multi_(std::move(multi)),
      easy_(std::move(easy)) {}

Transfer::~Transfer() {
  if (attached_) {
    // A body read to its very end may still wait for curl to notice the end; one more
    // non-blocking step lets curl keep the connection instead of closing it.
    if (!done_ && !paused_ && body_begin_ == body_end_) {
      int running = 0;
      curl_multi_perform(multi_.get(), &running);
      CollectDone();
    }
    if (!done_) NoteClosedRefusal();
    if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
  }
  if (registered_) core_->Unregister(multi_.get());
  if (cancel_) cancel_->RemoveWaker(this);
  easy_.reset();
  if (multi_) core_->pool().Return(origin_, std::move(multi_));
}

ErrorOr<std::unique_ptr<Transfer>> Transfer::Create(std::shared_ptr<SessionCore> core,
                                                    std::string_view url,
                                                    std::shared_ptr<CancelSignal> cancel) {
  auto origin = OriginOf(url);
  if (!origin) return origin.error();
  if (core->closed()) return Fail(ErrorCode::kInternetOperationCancelled);
  EasyPtr easy(curl_easy_init());
  if (!easy) return Fail(ErrorCode::kNotEnoughMemory);
  auto multi = core->pool().Borrow(*origin);
  if (!multi) return multi.error();
  auto transfer = std::make_unique<Transfer>(Key(), std::move(core), std::move(origin).value(),
                                             std::move(multi).value(), std::move(easy));
  transfer->cancel_ = std::move(cancel);
  QS_TRY_VOID(transfer->Configure(url));
  return transfer;
}

ErrorOr<void> Transfer::Configure(std::string_view url) {
  CURL* e = easy_.get();
  std::string text(url);
  bool ok = curl_easy_setopt(e, CURLOPT_URL, text.c_str()) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_SHARE, core_->share()) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_text_.data()) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) ==
                CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            // Redirects are followed by the session, one request per hop, each target judged first.
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            // An empty file name switches the cookie engine on; the cookies live in the share.
            curl_easy_setopt(e, CURLOPT_COOKIEFILE, "") == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                             static_cast<long>(core_->connect_timeout_ms())) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferBytes) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::HeaderThunk) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_HEADERDATA, this) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::WriteThunk) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_WRITEDATA, this) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::ProgressThunk) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_XFERINFODATA, this) == CURLE_OK &&
            TrustEnvironmentCertificates(e);
  // No overall time-out: a long download is not a stalled one.
  if (ok && !core_->agent().empty()) {
    ok = curl_easy_setopt(e, CURLOPT_USERAGENT, core_->agent().c_str()) == CURLE_OK;
  }
  if (!ok) return Fail(ErrorCode::kInternetInternalError);
  // Hook: the desktop's proxy for this origin, and the authentication schemes.
  return ConfigureRoute(url);
}

ErrorOr<void> Transfer::Begin() {
  core_->Register(multi_.get());
  registered_ = true;
  if (cancel_ && !cancel_registered_) {
    CURLM* multi = multi_.get();
    cancel_->AddWaker(this, [multi] { curl_multi_wakeup(multi); });
    cancel_registered_ = true;
  }
  if (Stopped()) return Fail(ErrorCode::kInternetOperationCancelled);
  if (!body_) {
    // Not cleared: curl fills it before anything is read, and clearing would touch every page.
    body_ = std::make_unique_for_overwrite<std::byte[]>(kBodyBufferBytes);
    body_capacity_ = kBodyBufferBytes;
  }
  Touch();
  if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) {
    return Fail(ErrorCode::kInternetInternalError);
  }
  attached_ = true;
  return {};
}

ErrorOr<void> Transfer::AwaitHead() {
  awaiting_head_ = true;
  DriveUntil([this] { return head_final_; });
  awaiting_head_ = false;
  if (head_final_ && abort_ != HttpAbort::kClosed) return {};
  return Failure();
}

std::optional<std::string> Transfer::Header(std::string_view name) const {
  if (!head_final_) return std::nullopt;
  for (const auto& [key, value] : headers_) {
    if (EqualsNoCase(key, name)) return value;
  }
  return std::nullopt;
}

ErrorOr<size_t> Transfer::Read(std::span<std::byte> buffer) {
  if (buffer.empty()) return Fail(ErrorCode::kInvalidParameter);
  if (Stopped() && !done_) Abort(HttpAbort::kClosed);
  if (abort_ == HttpAbort::kClosed) return Failure();

  if (body_begin_ == body_end_ && !done_) {
    // The time spent by the caller between reads is not a stall of the server's.
    Touch();
    if (paused_) {
      paused_ = false;
      if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) {
        Abort(HttpAbort::kNone);
        result_ = ErrorCode::kInternetInternalError;
      }
    }
    // At least one step even when resuming filled the buffer: it lets curl see the end.
    bool stepped = false;
    DriveUntil([&] {
      bool ready = stepped && body_begin_ != body_end_;
      stepped = true;
      return ready;
    });
  }

  if (body_begin_ != body_end_) {
    size_t n = std::min(buffer.size(), body_end_ - body_begin_);
    std::memcpy(buffer.data(), body_.get() + body_begin_, n);
    body_begin_ += n;
    if (body_begin_ == body_end_) body_begin_ = body_end_ = 0;
    return n;
  }
  if (result_ != ErrorCode::kSuccess) return Failure();
  return size_t{0};
}

void Transfer::DriveUntil(const std::function<bool()>& ready) {
  while (!done_ && !ready()) {
    if (Stopped()) {
      Abort(HttpAbort::kClosed);
      return;
    }
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
      Abort(HttpAbort::kNone);
      result_ = ErrorCode::kInternetInternalError;
      return;
    }
    CollectDone();
    if (done_ || ready()) return;
    // Backstop for states in which curl calls no progress callback.
    if (Stalled(Clock::now())) {
      Abort(HttpAbort::kTimedOut);
      return;
    }
    long wait_ms = kMaxPollMs;
    long curl_ms = -1;
    if (curl_multi_timeout(multi_.get(), &curl_ms) == CURLM_OK && curl_ms >= 0) {
      wait_ms = std::min(wait_ms, curl_ms);
    }
    wait_ms = std::min(wait_ms, static_cast<long>(StallLimitMs()) + 1);
    if (wait_ms > 0) curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(wait_ms), nullptr);
  }
}

void Transfer::CollectDone() {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &left)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_.get()) {
      Finish(static_cast<int>(msg->data.result));
    }
  }
}

void Transfer::Finish(int curl_code) {
  done_ = true;
  long os_errno = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_OS_ERRNO, &os_errno);
  CurlOutcome outcome;
  outcome.curl_code = curl_code;
  outcome.os_errno = static_cast<int>(os_errno);
  outcome.head_final = head_final_;
  outcome.after_redirect = !head_final_ && block_ended_ && status_ >= 300 && status_ < 400;
  outcome.abort = abort_;
  outcome.error_text = std::string_view(error_text_.data());
  result_ = MapCurlOutcome(outcome);
  // curl ends an exchange whose head was cut off by the connection's close (no blank line, no
  // body byte) as a success. Such an answer is broken, never one to act on: read as a 200 with
  // an empty body it would replace a download's target with an empty file.
  if (result_ == ErrorCode::kSuccess && !head_final_ && !block_ended_) {
    result_ = ErrorCode::kInternetConnectionAborted;
  }
  // Hook: a proxy's refusal of a tunnel, a proxy out of reach, traces.
  NoteRouteOutcome(curl_code);
  // A transfer that ended cleanly makes its last head the final one, whatever its status.
  if (result_ == ErrorCode::kSuccess) head_final_ = true;
}

void Transfer::Abort(HttpAbort reason) {
  if (done_) return;
  abort_ = reason;
  done_ = true;
  CurlOutcome outcome;
  outcome.abort = reason;
  result_ = MapCurlOutcome(outcome);
  if (attached_) {
    // Taken out before its end, the transfer's connection is closed, never reused.
    curl_multi_remove_handle(multi_.get(), easy_.get());
    attached_ = false;
  }
}

Error Transfer::Failure() const {
  return Fail(result_ == ErrorCode::kSuccess ? ErrorCode::kInternetInternalError : result_);
}

uint32_t Transfer::StallLimitMs() const {
  return sending_ ? core_->send_timeout_ms() : core_->receive_timeout_ms();
}

bool Transfer::Stalled(Clock::time_point now) {
  // Connecting has its own time-out; the stall clock starts once the request can be sent.
  if (!connected_) {
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer <= 0) return false;
    connected_ = true;
    last_activity_ = now;
    return false;
  }
  return now - last_activity_ > std::chrono::milliseconds(StallLimitMs());
}

size_t Transfer::OnHeader(std::string_view line) {
  Touch();
  head_bytes_ += line.size();
  if (head_bytes_ > kMaxHeadBytes) {
    abort_ = HttpAbort::kHeadTooLarge;
    return 0;  // curl ends the transfer with a write error
  }
  if (head_final_) return line.size();  // trailers of a chunked body are not headers

  std::string_view text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.starts_with("HTTP/")) {
    status_ = ParseStatusLine(text);
    headers_.clear();
    block_ended_ = false;
  } else if (text.empty()) {
    block_ended_ = true;
    if (!IsProvisional(status_)) head_final_ = true;
  } else if (text.front() == ' ' || text.front() == '\t') {
    if (!headers_.empty()) {  // a folded continuation of the previous value
      std::string& value = headers_.back().second;
      value += ' ';
      value += Trim(text);
    }
  } else if (size_t colon = text.find(':'); colon != std::string_view::npos) {
    headers_.emplace_back(std::string(Trim(text.substr(0, colon))),
                          std::string(Trim(text.substr(colon + 1))));
  }
  return line.size();
}

size_t Transfer::OnBody(const char* data, size_t size) {
  Touch();
  head_final_ = true;  // the first body byte makes the head it follows final
  // While the caller waits for the head, curl stops after the first piece of body: the head
  // and the first bytes are handed over at once instead of after a whole buffer.
  if (awaiting_head_ && body_end_ > 0) {
    paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (size > body_capacity_ - body_end_) {
    if (body_begin_ > 0) {  // move the undelivered rest to the front
      std::memmove(body_.get(), body_.get() + body_begin_, body_end_ - body_begin_);
      body_end_ -= body_begin_;
      body_begin_ = 0;
    }
    if (size > body_capacity_ - body_end_) {
      if (body_end_ > 0) {
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
      }
      // Never happens with curl's piece size; stay correct if it does.
      body_ = std::make_unique_for_overwrite<std::byte[]>(size);
      body_capacity_ = size;
    }
  }
  std::memcpy(body_.get() + body_end_, data, size);
  body_end_ += size;
  return size;
}

int Transfer::OnProgress(curl_off_t dlnow, curl_off_t ulnow, curl_off_t ultotal) {
  if (Stopped()) {
    abort_ = HttpAbort::kClosed;
    return 1;
  }
  sending_ = ultotal > 0 && ulnow < ultotal;
  Clock::time_point now = Clock::now();
  if (dlnow != seen_dl_ || ulnow != seen_ul_) {
    seen_dl_ = dlnow;
    seen_ul_ = ulnow;
    last_activity_ = now;
    return 0;
  }
  if (Stalled(now)) {
    abort_ = HttpAbort::kTimedOut;
    return 1;
  }
  return 0;
}

size_t Transfer::HeaderThunk(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->OnHeader(std::string_view(data, size * count));
}

size_t Transfer::WriteThunk(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->OnBody(data, size * count);
}

int Transfer::ProgressThunk(void* self, curl_off_t, curl_off_t dlnow, curl_off_t ultotal,
                            curl_off_t ulnow) {
  return static_cast<Transfer*>(self)->OnProgress(dlnow, ulnow, ultotal);
}

}  // namespace qs::platform::curl
