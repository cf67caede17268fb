// A cancel that reaches a worker wherever it waits.
//
// One CancelSignal per transfer, shared by the transfer and the HTTP requests it opens. Cancel()
// may be called from any thread: it sets the flag, ends a pause in WaitFor at once, and calls the
// wakers registered by blocking calls (an HTTP request polling its connection registers one that
// wakes its poll), so that every wait notices the cancel without waiting for its time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace qs::platform {

class CancelSignal {
 public:
  CancelSignal() = default;
  CancelSignal(const CancelSignal&) = delete;
  CancelSignal& operator=(const CancelSignal&) = delete;

  // Any thread; idempotent.
  void Cancel();
  bool cancelled() const;

  // Pauses for `pause`, or less when cancelled meanwhile. True when the pause ran its course,
  // false when a cancel cut it short (or came before it).
  bool WaitFor(std::chrono::milliseconds pause);

  // `wake` is called on Cancel (under the signal's lock; it must not call back into the signal)
  // until RemoveWaker(key). Called at once when the signal is already cancelled.
  void AddWaker(const void* key, std::function<void()> wake);
  void RemoveWaker(const void* key);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool cancelled_ = false;
  std::vector<std::pair<const void*, std::function<void()>>> wakers_;
};

}  // namespace qs::platform
