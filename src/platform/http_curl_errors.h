// How a finished libcurl transfer is reported in the platform numbering.
//
// Kept free of curl's headers so that the rules can be checked by a table. The inputs are what
// the transfer knew when it ended: curl's result number, the socket's errno, how far the
// response had come, and why the transfer aborted itself, if it did.
#pragma once

#include <string_view>

#include "base/error_codes.h"

namespace qs::platform {

// Why a transfer was stopped from our side (curl then reports an abort or a write error).
enum class HttpAbort {
  kNone,
  kClosed,        // the session was closed, or the request was abandoned
  kTimedOut,      // no byte moved for the receive (or send) time-out
  kHeadTooLarge,  // the response head grew past the limit we accept
};

struct CurlOutcome {
  int curl_code = 0;            // CURLcode
  int os_errno = 0;             // CURLINFO_OS_ERRNO
  bool head_final = false;      // the final response head had arrived before the failure
  bool after_redirect = false;  // the last head seen was a redirect that curl went on to follow
  HttpAbort abort = HttpAbort::kNone;
  std::string_view error_text;  // curl's error buffer, only to tell certificate faults apart
};

// The platform code of a transfer's outcome; kSuccess for CURLE_OK.
//
// Head versus body: everything that makes the response head unreadable (a status line that is
// not HTTP, a header line without a colon, a head or a single header line over the limit)
// is kHttpInvalidHeader (12153), the one code the download answers by asking again with a
// limit parameter. The same faults once the head was accepted concern the body and are
// kHttpInvalidServerResponse (12152), so that they never trigger that retry.
ErrorCode MapCurlOutcome(const CurlOutcome& outcome);

}  // namespace qs::platform
