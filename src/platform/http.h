// The HTTP client the transfers run on.
//
// One HttpSession per control, used by every worker thread at once. Requests are blocking and
// pull-style: a worker opens a URL, reads the status and headers, then pulls the body in pieces
// it chooses, so that the body is never gathered in memory.
//
// Lifetime: the control owns its session and closes it when it goes away. Closing makes every
// later open on it fail (kInternetOperationCancelled) and wakes requests blocked in it, but the
// objects a worker holds (the session through shared ownership, its requests) stay valid until
// that worker lets go of them.
//
// Every failure returns its platform code and also leaves it as the thread's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace qs::platform {

struct HttpSessionOptions {
  std::string agent;                      // User-Agent text
  uint32_t connect_timeout_ms = 100000;
  uint32_t send_timeout_ms = 100000;
  uint32_t receive_timeout_ms = 100000;   // no byte moved for this long: the request fails
};

// A GET request whose response head has arrived (redirects already followed).
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // The final response's numeric status (0 when none could be read).
  virtual uint32_t Status() const = 0;
  // The value of a response header of the final response, without surrounding white space;
  // nothing when absent. Names compare without regard to case.
  virtual std::optional<std::string> Header(std::string_view name) const = 0;
  // Reads up to buffer.size() bytes of the body: n > 0, 0 at the end, or the code of the
  // failure when the connection breaks or stalls past the receive time-out. A failure is
  // final: later reads report it again. A body whose length the server did not announce
  // cannot be told apart from one cut short; it ends with 0 either way.
  virtual ErrorOr<size_t> Read(std::span<std::byte> buffer) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;

  static ErrorOr<std::shared_ptr<HttpSession>> Open(const HttpSessionOptions& options);

  // Sends a GET for an absolute http or https URL (UTF-8, host already ASCII) and returns once
  // the final response head has arrived. Connections are kept alive and reused.
  virtual ErrorOr<std::unique_ptr<HttpRequest>> OpenUrl(std::string_view url) = 0;

  // Makes every later request fail and aborts the ones in progress. Idempotent.
  virtual void Close() = 0;
  virtual bool IsClosed() const = 0;

  // Test-only: shortens the time-outs of requests opened from now on.
  virtual void SetTimeoutsForTesting(uint32_t connect_ms, uint32_t send_ms, uint32_t receive_ms) = 0;

  // Number of sessions opened in this process so far (for tests that a control opens once).
  static uint64_t OpenCountForTesting();
};

}  // namespace qs::platform
