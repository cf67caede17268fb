// What the HTTP client chose for its requests, for a person who asks (`qsft download -v`):
// the proxy each request went through, the authentication schemes it answered with, and why a
// proxy or server refused. Never a password, a token or a query string.
//
// Process-wide and off by default; the sink is called from the threads that run the requests.
#pragma once

#include <functional>
#include <string_view>

namespace qs::platform {

enum class HttpTraceLevel {
  kNotice,  // a refusal a person can act on (a proxy that wants credentials)
  kDetail,  // the choices made for every request
};

using HttpTraceSink = std::function<void(HttpTraceLevel level, std::string_view line)>;

// Replaces the sink (an empty one switches tracing off); `details` asks for kDetail lines too.
// Set it before the first request.
void SetHttpTraceSink(HttpTraceSink sink, bool details);
// Whether details are wanted: gathering them costs a little on every request.
bool HttpTraceDetails();
void HttpTrace(HttpTraceLevel level, std::string_view line);

}  // namespace qs::platform
