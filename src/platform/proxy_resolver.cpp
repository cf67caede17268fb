// The desktop's proxy answers read for the HTTP client, and the per-session cache.
#include "platform/proxy_resolver.h"

#include <memory>

#include <curl/curl.h>

#include "platform/http_curl.h"

namespace qs::platform {

namespace {

using curl::CurlText;
using curl::LowerAscii;
using curl::UrlDeleter;

// The HTTP client's name for a kind of proxy the desktop names; empty when it has none.
// A SOCKS proxy of unspecified version is taken as SOCKS5 that resolves names itself, as the
// desktop's own clients use it.
std::string ClientScheme(const std::string& scheme) {
  if (scheme == "http" || scheme == "https" || scheme == "socks4" || scheme == "socks4a") {
    return scheme;
  }
  if (scheme == "socks" || scheme == "socks5" || scheme == "socks5h") return "socks5h";
  return {};
}

}  // namespace

std::string ProxyChoice::Describe() const {
  switch (kind) {
    case Kind::kEnvironment: return "as the environment says (http_proxy, https_proxy, no_proxy)";
    case Kind::kDirect: return "direct (no proxy)";
    case Kind::kProxy: break;
  }
  std::string text = url;
  if (!user.empty())
    text += " as user " + user;
  else if (has_credentials())
    text += " with a password";
  return text;
}

std::optional<ProxyChoice> ParseProxyAnswer(std::string_view answer) {
  if (answer.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string text(answer);
  if (LowerAscii(text) == "direct://") return ProxyChoice::Direct();
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  CurlText scheme, host, port, user, password;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host.text, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  const std::string client_scheme = ClientScheme(LowerAscii(scheme.text));
  if (client_scheme.empty()) return std::nullopt;
  std::string port_text;
  if (curl_url_get(parsed.get(), CURLUPART_PORT, &port.text, CURLU_DEFAULT_PORT) == CURLUE_OK) {
    port_text = port.text;
  } else {
    port_text = client_scheme.starts_with("socks") ? "1080" : "80";
  }
  ProxyChoice choice = ProxyChoice::Through(client_scheme + "://" + host.text + ":" + port_text);
  if (curl_url_get(parsed.get(), CURLUPART_USER, &user.text, CURLU_URLDECODE) == CURLUE_OK) {
    choice.user = user.text;
  }
  if (curl_url_get(parsed.get(), CURLUPART_PASSWORD, &password.text, CURLU_URLDECODE) ==
      CURLUE_OK) {
    choice.password = password.text;
  }
  return choice;
}

ProxyChoice ProxyCache::Choose(const std::string& origin, std::string_view url) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = answers_.find(origin); it != answers_.end()) return it->second;
  }
  ProxyChoice choice = lookup_(url);
  std::lock_guard lock(mutex_);
  // Two threads may have asked at once; the first answer kept stays.
  return answers_.try_emplace(origin, std::move(choice)).first->second;
}

void ProxyCache::Forget(const std::string& origin) {
  std::lock_guard lock(mutex_);
  answers_.erase(origin);
}

}  // namespace qs::platform
