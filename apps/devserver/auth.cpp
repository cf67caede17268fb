#include "devserver/auth.h"

#include <openssl/evp.h>

#include <cctype>
#include <map>
#include <random>

namespace qs::devserver {
namespace {

std::string RandomHex(size_t bytes) {
  std::random_device rd;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    unsigned v = rd() & 0xff;
    out.push_back(kHex[v >> 4]);
    out.push_back(kHex[v & 15]);
  }
  return out;
}

// key=value or key="value" items separated by commas, as in a Digest header.
std::map<std::string, std::string> ParseAuthParams(std::string_view text) {
  std::map<std::string, std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '\t')) ++i;
    size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    std::string key(text.substr(i, eq - i));
    while (!key.empty() && key.back() == ' ') key.pop_back();
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    i = eq + 1;
    std::string value;
    if (i < text.size() && text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value.push_back(text[i]);
      }
      ++i;
    } else {
      size_t end = text.find(',', i);
      value = std::string(text.substr(i, end == std::string_view::npos ? end : end - i));
      while (!value.empty() && value.back() == ' ') value.pop_back();
      i = end == std::string_view::npos ? text.size() : end;
    }
    out[key] = value;
  }
  return out;
}

// Splits "Scheme rest" and compares the scheme without regard to case.
std::optional<std::string_view> AfterScheme(std::string_view header, std::string_view scheme) {
  if (header.size() <= scheme.size() || header[scheme.size()] != ' ' ||
      !EqualsIgnoreCase(header.substr(0, scheme.size()), scheme))
    return std::nullopt;
  header.remove_prefix(scheme.size() + 1);
  while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
  return header;
}

}  // namespace

std::string Md5Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 15]);
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    int v = value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xff));
    }
  }
  return out;
}

Authenticator::Authenticator() : nonce_(RandomHex(16)), opaque_(RandomHex(8)) {}

bool Authenticator::Authorized(const Fault& fault, const RequestHead& request) const {
  auto header = request.Header(fault.auth_realm == AuthRealm::kProxy ? "Proxy-Authorization"
                                                                     : "Authorization");
  if (!header || !fault.auth) return false;
  if (*fault.auth == AuthScheme::kBasic) {
    auto rest = AfterScheme(*header, "Basic");
    return rest && BasicOk(fault, *rest);
  }
  auto rest = AfterScheme(*header, "Digest");
  return rest && DigestOk(fault, request, *rest);
}

bool Authenticator::BasicOk(const Fault& fault, std::string_view credentials) const {
  auto decoded = Base64Decode(credentials);
  return decoded && *decoded == fault.user + ":" + fault.password;
}

bool Authenticator::DigestOk(const Fault& fault, const RequestHead& request,
                             std::string_view text) const {
  auto p = ParseAuthParams(text);
  if (p["username"] != fault.user || p["realm"] != kAuthRealm || p["nonce"] != nonce_ ||
      p["uri"] != request.target)
    return false;
  if (p.count("algorithm") && !EqualsIgnoreCase(p["algorithm"], "MD5")) return false;
  std::string ha1 = Md5Hex(fault.user + ":" + std::string(kAuthRealm) + ":" + fault.password);
  std::string ha2 = Md5Hex(request.method + ":" + p["uri"]);
  std::string expected;
  if (p.count("qop")) {
    if (p["qop"] != "auth" || p["nc"].empty() || p["cnonce"].empty()) return false;
    expected = Md5Hex(ha1 + ":" + nonce_ + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
  } else {
    expected = Md5Hex(ha1 + ":" + nonce_ + ":" + ha2);
  }
  return EqualsIgnoreCase(p["response"], expected);
}

Response Authenticator::Challenge(const Fault& fault) const {
  bool proxy = fault.auth_realm == AuthRealm::kProxy;
  Response r = Response::Text(proxy ? 407 : 401, "authentication required");
  std::string value;
  if (fault.auth == AuthScheme::kDigest) {
    value = "Digest realm=\"" + std::string(kAuthRealm) +
            "\", qop=\"auth\", algorithm=MD5, nonce=\"" + nonce_ + "\", opaque=\"" + opaque_ + "\"";
  } else {
    value = "Basic realm=\"" + std::string(kAuthRealm) + "\"";
  }
  r.SetHeader(proxy ? "Proxy-Authenticate" : "WWW-Authenticate", value);
  return r;
}

}  // namespace qs::devserver
