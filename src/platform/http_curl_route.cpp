// Where a request goes and how it authenticates: the proxy the desktop chose for its origin,
// the schemes offered to the proxy and the server, and what a person sees of it (http_trace.h).
//
// Authentication, for requests that carry no credentials of their own: Negotiate with the
// user's Kerberos ticket (single sign-on, from the credential cache KRB5CCNAME names at the
// time of the request), to the server and to a proxy. curl asks first without credentials and
// answers only a challenge that offers Negotiate, so a server that wants none never causes a
// round trip to the KDC; an easy handle that carries a series of requests (the upload's) then
// sends the token at once. Without a ticket no token goes out and the challenge stays the
// answer. With credentials (the URL's, the proxy setting's, or typed into the prompt) Basic,
// Digest and NTLM are offered instead: a password is of no use to Negotiate.
#include <array>
#include <cctype>
#include <cstring>
#include <memory>

#include "platform/http_curl.h"
#include "platform/http_trace.h"
#include "platform/last_error.h"

namespace qs::platform::curl {

namespace {

constexpr long kStatusUnauthorized = 401;
constexpr long kStatusProxyAuthRequired = 407;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlText {
  char* text = nullptr;
  ~CurlText() { curl_free(text); }
};

// Whether the URL carries a user name or a password.
bool HasLogin(std::string_view url) {
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return false;
  const std::string text(url);
  if (curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return false;
  }
  CurlText user, password;
  return curl_url_get(parsed.get(), CURLUPART_USER, &user.text, 0) == CURLUE_OK ||
         curl_url_get(parsed.get(), CURLUPART_PASSWORD, &password.text, 0) == CURLUE_OK;
}

// The URL without credentials, query or fragment: what a trace may show of it.
std::string Shown(std::string_view url) {
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return {};
  const std::string text(url);
  if (curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return {};
  }
  curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0);
  curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
  curl_url_set(parsed.get(), CURLUPART_QUERY, nullptr, 0);
  curl_url_set(parsed.get(), CURLUPART_FRAGMENT, nullptr, 0);
  CurlText shown;
  if (curl_url_get(parsed.get(), CURLUPART_URL, &shown.text, 0) != CURLUE_OK) return {};
  return shown.text;
}

std::string SchemeNames(long mask) {
  static constexpr std::array<std::pair<unsigned long, const char*>, 4> kNames{{
      {CURLAUTH_NEGOTIATE, "Negotiate"},
      {CURLAUTH_NTLM, "NTLM"},
      {CURLAUTH_DIGEST, "Digest"},
      {CURLAUTH_BASIC, "Basic"},
  }};
  std::string names;
  for (const auto& [bit, name] : kNames) {
    if ((static_cast<unsigned long>(mask) & bit) == 0) continue;
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names.empty() ? "no scheme it knows" : names;
}

// The scheme word of an "Authorization:" or "Proxy-Authorization:" line of a request head.
std::string SchemeSent(std::string_view head, std::string_view field) {
  size_t at = 0;
  while (at < head.size()) {
    size_t end = head.find('\n', at);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(at, end - at);
    at = end + 1;
    if (line.size() <= field.size() || line[field.size()] != ':') continue;
    bool same = true;
    for (size_t i = 0; i < field.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(line[i])) ==
             std::tolower(static_cast<unsigned char>(field[i]));
    }
    if (!same) continue;
    std::string_view value = line.substr(field.size() + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return std::string(value.substr(0, value.find_first_of(" \r")));
  }
  return {};
}

}  // namespace

void SetServerAuth(CURL* easy, bool has_login) {
  if (has_login) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH,
                     static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
    return;
  }
  // curl answers a Negotiate challenge only with a user name set; the empty one means "the
  // ticket's owner".
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NEGOTIATE | CURLAUTH_ONLY));
  curl_easy_setopt(easy, CURLOPT_USERNAME, "");
  curl_easy_setopt(easy, CURLOPT_PASSWORD, "");
}

void SetProxyAuth(CURL* easy, const ProxyChoice& proxy, bool has_login) {
  if (proxy.kind != ProxyChoice::Kind::kProxy) return;  // the environment's: curl's defaults
  if (has_login) {
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH,
                     static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
    return;
  }
  curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NEGOTIATE | CURLAUTH_ONLY));
  curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, "");
  curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, "");
}

ErrorOr<void> Transfer::ConfigureRoute(std::string_view url) {
  CURL* e = easy_.get();
  proxy_ = core_->proxies().Choose(origin_, url);
  shown_url_ = Shown(url);
  bool ok = true;
  switch (proxy_.kind) {
    case ProxyChoice::Kind::kEnvironment:
      break;  // curl reads http_proxy, https_proxy and no_proxy itself
    case ProxyChoice::Kind::kDirect: ok = curl_easy_setopt(e, CURLOPT_PROXY, "") == CURLE_OK; break;
    case ProxyChoice::Kind::kProxy:
      ok = curl_easy_setopt(e, CURLOPT_PROXY, proxy_.url.c_str()) == CURLE_OK;
      if (ok && proxy_.has_credentials()) {
        ok = curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxy_.user.c_str()) == CURLE_OK &&
             curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxy_.password.c_str()) == CURLE_OK;
      }
      break;
  }
  if (!ok) return Fail(ErrorCode::kInternetInternalError);
  SetServerAuth(e, HasLogin(url));
  SetProxyAuth(e, proxy_, proxy_.has_credentials());
  if (HttpTraceDetails()) {
    HttpTrace(HttpTraceLevel::kDetail, "proxy for " + origin_ + ": " + proxy_.Describe());
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Transfer::DebugThunk);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
  }
  return {};
}

void Transfer::NoteRouteOutcome(int curl_code) {
  CURL* e = easy_.get();
  // A proxy that refuses the tunnel ends the transfer without an answer of the server's. Its
  // refusal is the answer: a 407 without a body, as an HTTP proxy gives it.
  long connect_code = 0;
  curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &connect_code);
  if (curl_code != CURLE_OK && connect_code == kStatusProxyAuthRequired && status_ == 0) {
    status_ = kStatusProxyAuthRequired;
    headers_.clear();
    head_final_ = true;
    block_ended_ = true;
    result_ = ErrorCode::kSuccess;
  }
  // The proxy named for this origin could not be reached: the next request asks afresh.
  if (proxy_.kind == ProxyChoice::Kind::kProxy && status_ == 0 && connect_code == 0 &&
      (curl_code == CURLE_COULDNT_CONNECT || curl_code == CURLE_COULDNT_RESOLVE_PROXY)) {
    core_->proxies().Forget(origin_);
  }

  if (head_final_ && status_ == kStatusProxyAuthRequired) {
    long offered = 0;
    curl_easy_getinfo(e, CURLINFO_PROXYAUTH_AVAIL, &offered);
    HttpTrace(HttpTraceLevel::kNotice,
              "the proxy " + proxy_.url + " wants credentials (it offers " + SchemeNames(offered) +
                  ")" +
                  (proxy_.has_credentials() ? "; those of the proxy setting were refused" : ""));
  } else if (head_final_ && status_ == kStatusUnauthorized) {
    long offered = 0;
    curl_easy_getinfo(e, CURLINFO_HTTPAUTH_AVAIL, &offered);
    std::string line =
        "the server " + origin_ + " wants credentials (it offers " + SchemeNames(offered) + ")";
    if ((static_cast<unsigned long>(offered) & CURLAUTH_NEGOTIATE) != 0) {
      line += "; single sign-on needs a Kerberos ticket (see klist)";
    }
    HttpTrace(HttpTraceLevel::kNotice, line);
  }
  if (!HttpTraceDetails()) return;
  char* method = nullptr;
  curl_easy_getinfo(e, CURLINFO_EFFECTIVE_METHOD, &method);
  std::string line = std::string(method != nullptr ? method : "?") + " " + shown_url_ + ": ";
  line += head_final_ ? std::to_string(status_) : "no answer";
  line += "; proxy authentication " + (sent_proxy_auth_.empty() ? "none" : sent_proxy_auth_);
  line += "; server authentication " + (sent_auth_.empty() ? "none" : sent_auth_);
  HttpTrace(HttpTraceLevel::kDetail, line);
}

// A caller that refuses an answer may close it before curl has read its body (a loaded
// machine, a slow proxy): the refusal is told as when the exchange ends by itself.
void Transfer::NoteClosedRefusal() {
  if (head_final_ && (status_ == kStatusProxyAuthRequired || status_ == kStatusUnauthorized)) {
    NoteRouteOutcome(CURLE_OK);
  }
}

int Transfer::DebugThunk(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  if (type != CURLINFO_HEADER_OUT) return 0;
  auto* transfer = static_cast<Transfer*>(self);
  const std::string_view head(data, size);
  if (std::string scheme = SchemeSent(head, "Authorization"); !scheme.empty()) {
    transfer->sent_auth_ = scheme;
  }
  if (std::string scheme = SchemeSent(head, "Proxy-Authorization"); !scheme.empty()) {
    transfer->sent_proxy_auth_ = scheme;
  }
  return 0;
}

}  // namespace qs::platform::curl
