// Opening the control's one HTTP session on first need.
#pragma once

#include <cstdint>

#include "transfer/internet_handle.h"

namespace qs {

// The agent text every request carries.
inline constexpr char kSessionAgent[] = "Tarnholt Quillstone File Transfer ActiveX control";
// Connect, send and receive time-out of the session.
inline constexpr uint32_t kSessionTimeoutMs = 100000;

// True when `session` holds a session, opening one if it holds none. Once open it is kept: a
// second call finds it and opens nothing. False, with the thread's last error set, when no
// session could be opened; `session` then stays empty and the next call tries again.
[[nodiscard]] bool EnsureSession(InternetHandle& session);

// Sessions opened while this is alive use `timeout_ms` for all three time-outs. Tests only;
// not nestable.
class ScopedSessionTimeoutsForTesting {
 public:
  explicit ScopedSessionTimeoutsForTesting(uint32_t timeout_ms);
  ~ScopedSessionTimeoutsForTesting();
  ScopedSessionTimeoutsForTesting(const ScopedSessionTimeoutsForTesting&) = delete;
  ScopedSessionTimeoutsForTesting& operator=(const ScopedSessionTimeoutsForTesting&) = delete;
};

}  // namespace qs
