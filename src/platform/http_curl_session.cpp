// The session: share object, connection pool and the HttpSession facade.
#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include <openssl/crypto.h>

#include "base/text.h"
#include "platform/http_curl.h"
#include "platform/last_error.h"
#include "platform/url_parts.h"

namespace qs::platform {
namespace curl {

namespace {

std::atomic<uint64_t> g_open_count{0};

// curl_global_init is not thread-safe: do it once, before the first handle.
//
// OpenSSL is initialised first, without its exit handler. That handler frees OpenSSL's locks
// and tables while the process exits, but transfer workers are detached: one that is still
// closing its connection when the program ends (a page torn down mid-transfer, Ctrl-C on the
// command line) would then unlock freed memory. The process's end releases everything anyway.
ErrorOr<void> InitCurlOnce() {
  static const CURLcode result = [] {
    if (OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) != 1) return CURLE_FAILED_INIT;
    return curl_global_init(CURL_GLOBAL_DEFAULT);
  }();
  if (result != CURLE_OK) return Fail(ErrorCode::kInternetInternalError);
  return {};
}

}  // namespace

ErrorOr<void> Share::Init() {
  handle_.reset(curl_share_init());
  if (!handle_) return Fail(ErrorCode::kNotEnoughMemory);
  CURLSH* share = handle_.get();
  bool ok = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Share::Lock) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Share::Unlock) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
  if (!ok) {
    handle_.reset();
    return Fail(ErrorCode::kInternetInternalError);
  }
  return {};
}

void Share::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  // Shared and exclusive access both take the one mutex of that kind of data.
  static_cast<Share*>(self)->locks_.at(static_cast<size_t>(data)).lock();
}

void Share::Unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<Share*>(self)->locks_.at(static_cast<size_t>(data)).unlock();
}

ErrorOr<MultiPtr> MultiPool::Borrow(const std::string& origin) {
  {
    std::lock_guard lock(mutex_);
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
      if (it->first == origin) {
        MultiPtr multi = std::move(it->second);
        idle_.erase(std::next(it).base());
        return multi;
      }
    }
  }
  MultiPtr multi(curl_multi_init());
  if (!multi) return Fail(ErrorCode::kNotEnoughMemory);
  return multi;
}

void MultiPool::Return(const std::string& origin, MultiPtr multi) {
  MultiPtr evicted;  // closed outside the lock
  std::lock_guard lock(mutex_);
  if (cleared_) return;  // `multi` closes its connections on the way out
  if (idle_.size() >= kMaxIdle) {
    evicted = std::move(idle_.front().second);
    idle_.erase(idle_.begin());
  }
  idle_.emplace_back(origin, std::move(multi));
}

void MultiPool::Clear() {
  std::vector<std::pair<std::string, MultiPtr>> idle;
  {
    std::lock_guard lock(mutex_);
    cleared_ = true;
    idle.swap(idle_);
  }
}

SessionCore::SessionCore(const HttpSessionOptions& options)
    : agent_(options.agent),
      connect_ms_(options.connect_timeout_ms),
      send_ms_(options.send_timeout_ms),
      receive_ms_(options.receive_timeout_ms) {}

void SessionCore::SetTimeouts(uint32_t connect_ms, uint32_t send_ms, uint32_t receive_ms) {
  connect_ms_.store(connect_ms);
  send_ms_.store(send_ms);
  receive_ms_.store(receive_ms);
}

void SessionCore::Close() {
  closed_.store(true, std::memory_order_release);
  pool_.Clear();
  std::lock_guard lock(active_mutex_);
  for (CURLM* multi : active_) curl_multi_wakeup(multi);
}

void SessionCore::Register(CURLM* multi) {
  std::lock_guard lock(active_mutex_);
  active_.push_back(multi);
}

void SessionCore::Unregister(CURLM* multi) {
  std::lock_guard lock(active_mutex_);
  active_.erase(std::remove(active_.begin(), active_.end(), multi), active_.end());
}

namespace {

// Longest redirect target followed, as for the URLs pages hand to transfers.
constexpr size_t kMaxRedirectUrlLength = 2083;

// The absolute URL a redirect answer sends the request on to, as the next request needs it;
// nothing when the answer is no redirect or its Location does not give a usable URL.
std::optional<std::string> RedirectTarget(const Transfer& transfer, const std::string& from) {
  switch (transfer.Status()) {
    case 301:
    case 302:
    case 303:
    case 307:
    case 308: break;
    default: return std::nullopt;
  }
  const std::optional<std::string> location = transfer.Header("Location");
  if (!location || location->empty()) return std::nullopt;
  auto combined = CombineUrl(FromUtf8(from), FromUtf8(*location), kMaxRedirectUrlLength);
  if (!combined.ok()) return std::nullopt;
  auto request_url = UrlForRequest(*combined);
  if (!request_url.ok()) return std::nullopt;
  return ToUtf8(*request_url);
}

class CurlRequest final : public HttpRequest {
 public:
  explicit CurlRequest(std::unique_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}

  uint32_t Status() const override { return transfer_->Status(); }
  std::optional<std::string> Header(std::string_view name) const override {
    return transfer_->Header(name);
  }
  ErrorOr<size_t> Read(std::span<std::byte> buffer) override { return transfer_->Read(buffer); }

 private:
  std::unique_ptr<Transfer> transfer_;
};

// A cookie field curl's cookie file format can carry: no control character or tab, and not
// empty where `required`.
bool IsCookieField(const std::string& text, bool required) {
  if (required && text.empty()) return false;
  for (unsigned char ch : text) {
    if (ch < 0x20 || ch == 0x7f) return false;
  }
  return true;
}

// One line of curl's cookie list (the cookie file format) as a cookie; nothing when it is not
// one.
std::optional<HttpCookie> ParseCookieLine(std::string_view line) {
  constexpr std::string_view kHttpOnly = "#HttpOnly_";
  HttpCookie c;
  if (line.starts_with(kHttpOnly)) {
    c.http_only = true;
    line.remove_prefix(kHttpOnly.size());
  }
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (fields.size() != 7 || fields[0].empty() || fields[5].empty()) return std::nullopt;
  std::string_view domain = fields[0];
  if (domain.front() == '.') domain.remove_prefix(1);
  c.domain = std::string(domain);
  c.host_only = fields[1] != "TRUE";
  c.path = fields[2].empty() ? "/" : std::string(fields[2]);
  c.secure = fields[3] == "TRUE";
  c.expires = 0;
  for (char ch : fields[4]) {
    if (ch < '0' || ch > '9' || c.expires > INT64_MAX / 10 - 10) return std::nullopt;
    c.expires = c.expires * 10 + (ch - '0');
  }
  c.name = std::string(fields[5]);
  c.value = std::string(fields[6]);
  return c;
}

// What tells two cookies of a store apart.
std::string CookieKey(const HttpCookie& c) { return c.name + '\t' + c.domain + '\t' + c.path; }

class CurlSession final : public HttpSession {
 public:
  explicit CurlSession(std::shared_ptr<SessionCore> core) : core_(std::move(core)) {}

  ErrorOr<std::unique_ptr<HttpRequest>> OpenUrl(std::string_view url,
                                                const RedirectCheck& may_follow,
                                                std::shared_ptr<CancelSignal> cancel) override {
    std::string current(url);
    for (uint32_t hops = 0;; ++hops) {
      if (core_->closed()) return Fail(ErrorCode::kInternetOperationCancelled);
      auto created = Transfer::Create(core_, current, cancel);
      if (!created) return created.error();
      std::unique_ptr<Transfer> transfer = std::move(created).value();
      QS_TRY_VOID(transfer->Begin());
      QS_TRY_VOID(transfer->AwaitHead());
      if (!may_follow || hops == kMaxRedirects) {
        return std::unique_ptr<HttpRequest>(std::make_unique<CurlRequest>(std::move(transfer)));
      }
      std::optional<std::string> target = RedirectTarget(*transfer, current);
      if (!target || !may_follow(current, *target)) {
        return std::unique_ptr<HttpRequest>(std::make_unique<CurlRequest>(std::move(transfer)));
      }
      // The redirect's answer is dropped (its connection closed) before the next hop opens.
      current = std::move(*target);
    }
  }

  ErrorOr<std::unique_ptr<HttpConnection>> Connect(std::string_view url,
                                                   std::shared_ptr<CancelSignal> cancel) override {
    if (core_->closed()) return Fail(ErrorCode::kInternetOperationCancelled);
    return ConnectForBody(core_, url, std::move(cancel));
  }

  void AddCookies(std::span<const HttpCookie> cookies) override {
    EasyPtr easy = StoreHandle();
    if (!easy) return;
    std::lock_guard lock(cookies_mutex_);
    std::set<std::string> added;
    for (const HttpCookie& c : cookies) {
      if (!IsCookieField(c.name, true) || !IsCookieField(c.value, false) ||
          !IsCookieField(c.domain, true) || !IsCookieField(c.path, false) ||
          c.name.find_first_of(";=") != std::string::npos ||
          c.value.find(';') != std::string::npos || c.path.find(';') != std::string::npos ||
          c.domain.front() == '.' || c.domain.front() == '#') {
        continue;
      }
      // The cookie file format: domain, tail match, path, secure, expiry, name, value.
      std::string line =
          (c.http_only ? "#HttpOnly_" : "") + (c.host_only ? "" : "." + c.domain) +
          (c.host_only ? c.domain : "") + "\t" + (c.host_only ? "FALSE" : "TRUE") + "\t" +
          (c.path.empty() ? "/" : c.path) + "\t" + (c.secure ? "TRUE" : "FALSE") + "\t" +
          std::to_string(c.expires > 0 ? c.expires : 0) + "\t" + c.name + "\t" + c.value;
      curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, line.c_str());
      added.insert(CookieKey(c));
    }
    // What the page's browser holds already is not a change to report back.
    for (auto& [key, line] : ListStore(easy.get())) {
      if (added.contains(key)) known_[key] = std::move(line);
    }
  }

  std::vector<HttpCookieChange> TakeCookieChanges() override {
    std::vector<HttpCookieChange> changes;
    EasyPtr easy = StoreHandle();
    if (!easy) return changes;
    std::lock_guard lock(cookies_mutex_);
    std::map<std::string, std::string> now = ListStore(easy.get());
    for (const auto& [key, line] : now) {
      auto was = known_.find(key);
      if (was != known_.end() && was->second == line) continue;
      if (auto cookie = ParseCookieLine(line)) changes.push_back({*std::move(cookie), false});
    }
    for (const auto& [key, line] : known_) {
      if (now.contains(key)) continue;
      if (auto cookie = ParseCookieLine(line)) changes.push_back({*std::move(cookie), true});
    }
    known_ = std::move(now);
    return changes;
  }

  void Close() override { core_->Close(); }
  bool IsClosed() const override { return core_->closed(); }

  void SetTimeoutsForTesting(uint32_t connect_ms, uint32_t send_ms, uint32_t receive_ms) override {
    core_->SetTimeouts(connect_ms, send_ms, receive_ms);
  }

 private:
  // A handle on the session's cookie store, for adding and listing; null when curl fails.
  EasyPtr StoreHandle() const {
    EasyPtr easy(curl_easy_init());
    if (!easy || curl_easy_setopt(easy.get(), CURLOPT_SHARE, core_->share()) != CURLE_OK ||
        curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, "") != CURLE_OK) {
      return nullptr;
    }
    return easy;
  }

  // The store's live cookies by key, each as its line of the cookie file format. curl keeps a
  // cookie that an answer expired until its next request: it counts as gone.
  static std::map<std::string, std::string> ListStore(CURL* easy) {
    std::map<std::string, std::string> out;
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &list) != CURLE_OK) return out;
    const int64_t now = std::time(nullptr);
    for (curl_slist* item = list; item != nullptr; item = item->next) {
      auto cookie = ParseCookieLine(item->data);
      if (cookie && (cookie->expires == 0 || cookie->expires > now)) {
        out[CookieKey(*cookie)] = item->data;
      }
    }
    curl_slist_free_all(list);
    return out;
  }

  std::shared_ptr<SessionCore> core_;
  std::mutex cookies_mutex_;
  // The cookies as last reported or handed in, by key: what a later change is measured against.
  std::map<std::string, std::string> known_;
};

}  // namespace
}  // namespace curl

ErrorOr<std::shared_ptr<HttpSession>> HttpSession::Open(const HttpSessionOptions& options) {
  QS_TRY_VOID(curl::InitCurlOnce());
  auto core = std::make_shared<curl::SessionCore>(options);
  QS_TRY_VOID(core->Init());
  curl::g_open_count.fetch_add(1);
  return std::shared_ptr<HttpSession>(std::make_shared<curl::CurlSession>(std::move(core)));
}

uint64_t HttpSession::OpenCountForTesting() { return curl::g_open_count.load(); }

}  // namespace qs::platform
