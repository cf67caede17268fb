#include "platform/cancel_signal.h"

#include <algorithm>

namespace qs::platform {

void CancelSignal::Cancel() {
  {
    std::lock_guard hold(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    for (auto& [key, wake] : wakers_) wake();
  }
  cv_.notify_all();
}

bool CancelSignal::cancelled() const {
  std::lock_guard hold(mutex_);
  return cancelled_;
}

bool CancelSignal::WaitFor(std::chrono::milliseconds pause) {
  std::unique_lock hold(mutex_);
  return !cv_.wait_for(hold, pause, [this] { return cancelled_; });
}

void CancelSignal::AddWaker(const void* key, std::function<void()> wake) {
  std::lock_guard hold(mutex_);
  if (cancelled_) wake();
  wakers_.emplace_back(key, std::move(wake));
}

void CancelSignal::RemoveWaker(const void* key) {
  std::lock_guard hold(mutex_);
  std::erase_if(wakers_, [key](const auto& entry) { return entry.first == key; });
}

}  // namespace qs::platform
