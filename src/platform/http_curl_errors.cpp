#include "platform/http_curl_errors.h"

#include <cerrno>

#include <curl/curl.h>

namespace qs::platform {

namespace {

ErrorCode ConnectionLost(int os_errno) {
  return os_errno == ECONNRESET ? ErrorCode::kInternetConnectionReset
                                : ErrorCode::kInternetConnectionAborted;
}

// curl reports every failed certificate check as one code; the message tells which check.
ErrorCode CertificateFault(std::string_view text) {
  if (text.find("subject name") != std::string_view::npos ||
      text.find("does not match") != std::string_view::npos) {
    return ErrorCode::kInternetSecCertCnInvalid;
  }
  if (text.find("expired") != std::string_view::npos ||
      text.find("not yet valid") != std::string_view::npos) {
    return ErrorCode::kInternetSecCertDateInvalid;
  }
  if (text.find("revoked") != std::string_view::npos) return ErrorCode::kInternetSecCertRevoked;
  return ErrorCode::kInternetInvalidCa;
}

ErrorCode FromAbort(HttpAbort abort) {
  switch (abort) {
    case HttpAbort::kNone: break;
    case HttpAbort::kClosed: return ErrorCode::kInternetOperationCancelled;
    case HttpAbort::kTimedOut: return ErrorCode::kInternetTimeout;
    case HttpAbort::kHeadTooLarge: return ErrorCode::kHttpInvalidHeader;
  }
  return ErrorCode::kInternetOperationCancelled;
}

}  // namespace

ErrorCode MapCurlOutcome(const CurlOutcome& o) {
  // Our own aborts decide over whatever curl made of them (42, 23 or a late success).
  if (o.abort != HttpAbort::kNone) return FromAbort(o.abort);

  switch (static_cast<CURLcode>(o.curl_code)) {
    case CURLE_OK: return ErrorCode::kSuccess;

    // The scheme is checked before curl sees a URL, so 1 means either a status line that is
    // not HTTP or a redirect to a scheme we do not follow.
    case CURLE_UNSUPPORTED_PROTOCOL:
      if (o.after_redirect) return ErrorCode::kHttpRedirectFailed;
      return o.head_final ? ErrorCode::kHttpInvalidServerResponse : ErrorCode::kHttpInvalidHeader;
    case CURLE_WEIRD_SERVER_REPLY:
      return o.head_final ? ErrorCode::kHttpInvalidServerResponse : ErrorCode::kHttpInvalidHeader;
    // curl's only out-of-memory in practice is a single header line past its 100 KB limit.
    case CURLE_OUT_OF_MEMORY:
      return o.head_final ? ErrorCode::kNotEnoughMemory : ErrorCode::kHttpInvalidHeader;
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3: return ErrorCode::kHttpInvalidServerResponse;

    case CURLE_URL_MALFORMAT: return ErrorCode::kInternetInvalidUrl;
    case CURLE_TOO_MANY_REDIRECTS: return ErrorCode::kHttpRedirectFailed;

    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return ErrorCode::kInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT: return ErrorCode::kInternetCannotConnect;
    case CURLE_OPERATION_TIMEDOUT: return ErrorCode::kInternetTimeout;
    case CURLE_PROXY: return ErrorCode::kInternetInvalidProxyRequest;

    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR: return ConnectionLost(o.os_errno);
    // A proxy that refuses the tunnel and a head past curl's total limit also end up here;
    // neither leaves an errno, and the head limit of our own is lower than curl's.
    case CURLE_RECV_ERROR:
      if (o.os_errno == 0 && !o.head_final &&
          o.error_text.find("Too large response headers") != std::string_view::npos) {
        return ErrorCode::kHttpInvalidHeader;
      }
      return ConnectionLost(o.os_errno);

    case CURLE_PEER_FAILED_VERIFICATION: return CertificateFault(o.error_text);
    case CURLE_SSL_ISSUER_ERROR: return ErrorCode::kInternetInvalidCa;
    case CURLE_SSL_INVALIDCERTSTATUS: return ErrorCode::kInternetSecCertRevoked;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return ErrorCode::kInternetSecInvalidCert;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CLIENTCERT: return ErrorCode::kInternetClientAuthCertNeeded;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED: return ErrorCode::kInternetSecurityChannelError;

    // Aborted by a callback without a reason of ours: only an abandoned request does that.
    case CURLE_ABORTED_BY_CALLBACK: return ErrorCode::kInternetOperationCancelled;

    default: return ErrorCode::kInternetInternalError;
  }
}

}  // namespace qs::platform
