// Certificates an HTTPS connection trusts: the system's store, as curl is built to use it, and
// in addition what SSL_CERT_FILE and SSL_CERT_DIR name (OpenSSL's convention for a company CA
// that is not installed system-wide).
//
// curl's own CA options would replace the system store rather than add to it (setting a file
// drops the default bundle, setting a directory the default directory), so the extra
// certificates are loaded into the connection's certificate store once curl has set it up.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdlib>

#include "platform/http_curl.h"

namespace qs::platform::curl {

namespace {

// A variable that is unset or empty names nothing.
const char* NamedPath(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// Read at every new connection, so a change of the variables applies to the next one. A file
// or directory that cannot be read adds nothing; the connection then trusts what it would
// without it, and fails as untrusted when that is not enough.
extern "C" CURLcode AddEnvironmentTrust(CURL* /*easy*/, void* ssl_ctx, void* /*data*/) {
  const char* file = NamedPath("SSL_CERT_FILE");
  const char* dir = NamedPath("SSL_CERT_DIR");  // one or more hashed directories, ":" between
  if (file == nullptr && dir == nullptr) return CURLE_OK;
  auto* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  if (file != nullptr) SSL_CTX_load_verify_file(ctx, file);
  if (dir != nullptr) SSL_CTX_load_verify_dir(ctx, dir);
  ERR_clear_error();  // a failed load must not be read later as the handshake's failure
  return CURLE_OK;
}

}  // namespace

bool TrustEnvironmentCertificates(CURL* easy) {
  return curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &AddEnvironmentTrust) == CURLE_OK;
}

}  // namespace qs::platform::curl
