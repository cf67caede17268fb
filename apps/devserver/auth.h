// HTTP authentication challenges of the development server: Basic and Digest (MD5, qop=auth)
// against the one user and password a fault carries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devserver/fault.h"
#include "devserver/http_request.h"
#include "devserver/response.h"

namespace qs::devserver {

inline constexpr std::string_view kAuthRealm = "qsft-devserver";

std::string Md5Hex(std::string_view data);
std::optional<std::string> Base64Decode(std::string_view text);

class Authenticator {
 public:
  Authenticator();  // picks a random nonce for this server's Digest challenges

  // Whether the request carries the fault's user and password in the header that the fault's
  // realm asks for (Authorization or Proxy-Authorization).
  bool Authorized(const Fault& fault, const RequestHead& request) const;
  // 401 with WWW-Authenticate, or 407 with Proxy-Authenticate.
  Response Challenge(const Fault& fault) const;

 private:
  bool BasicOk(const Fault& fault, std::string_view credentials) const;
  bool DigestOk(const Fault& fault, const RequestHead& request, std::string_view params) const;

  std::string nonce_;
  std::string opaque_;
};

}  // namespace qs::devserver
