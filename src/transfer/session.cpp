#include "transfer/session.h"

#include <atomic>

#include "base/error.h"
#include "platform/last_error.h"

namespace qs {

namespace {
// 0: the real time-outs.
std::atomic<uint32_t> g_test_timeout_ms{0};
}  // namespace

bool EnsureSession(InternetHandle& session) {
  if (session) return true;
  platform::HttpSessionOptions options;
  options.agent = kSessionAgent;
  const uint32_t test_timeout = g_test_timeout_ms.load(std::memory_order_relaxed);
  const uint32_t timeout = test_timeout != 0 ? test_timeout : kSessionTimeoutMs;
  options.connect_timeout_ms = timeout;
  options.send_timeout_ms = timeout;
  options.receive_timeout_ms = timeout;
  auto opened = platform::HttpSession::Open(options);
  if (!opened.ok()) {
    platform::SetLastError(opened.code());
    return false;
  }
  session.Reset(std::move(opened).value());
  return true;
}

ScopedSessionTimeoutsForTesting::ScopedSessionTimeoutsForTesting(uint32_t timeout_ms) {
  g_test_timeout_ms.store(timeout_ms, std::memory_order_relaxed);
}

ScopedSessionTimeoutsForTesting::~ScopedSessionTimeoutsForTesting() {
  g_test_timeout_ms.store(0, std::memory_order_relaxed);
}

}  // namespace qs
