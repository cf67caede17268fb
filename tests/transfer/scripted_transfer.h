// A transfer kind for tests whose Run is driven by gates the test opens, so that a test decides
// exactly when a worker proceeds and can observe its end without sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "transfer/transferred_file.h"

namespace qs::testing {

// A one-shot latch. Waits are bounded so that a faulty transfer fails its test instead of
// hanging the run.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  [[nodiscard]] bool Wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    return cv_.wait_for(hold, std::chrono::seconds(30), [this] { return open_; });
  }
  bool IsOpen() {
    std::lock_guard<std::mutex> hold(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Waits, bounded, until `done` holds; for the one thing a gate cannot show: that a worker has
// stored its final state while someone else still holds the transfer.
template <typename Predicate>
[[nodiscard]] bool WaitUntil(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

class ScriptedTransfer;

// What a ScriptedTransfer does, shared between the test and the transfer so that the test can
// still look after the transfer is gone.
struct Script {
  Gate entered;    // Run has begun
  Gate proceed;    // the test lets Run go on
  Gate destroyed;  // the destructor ran
  // Run's work after `proceed`; absent: return kDone.
  std::function<TransferState(ScriptedTransfer&)> body;
  std::atomic<int> destructions{0};
  std::atomic<TransferState> state_at_destruction{TransferState::kCreated};
};

class ScriptedTransfer : public TransferredFile {
 public:
  explicit ScriptedTransfer(std::shared_ptr<Script> script,
                            std::shared_ptr<platform::HttpSession> session = nullptr)
      : TransferredFile(std::move(session), u"http://127.0.0.1/file?id=1", u"/tmp/target"),
        script_(std::move(script)) {}

  using TransferredFile::SetState;

 protected:
  ~ScriptedTransfer() override {
    script_->state_at_destruction.store(state());
    script_->destructions.fetch_add(1);
    script_->destroyed.Open();
  }

  TransferEnd Run() override {
    script_->entered.Open();
    TransferState end = TransferState::kFailed;
    if (script_->proceed.Wait()) end = script_->body ? script_->body(*this) : TransferState::kDone;
    // A failing body has set its text already (SetError), or leaves it as it is.
    return end == TransferState::kFailed ? TransferEnd::FailedWithText(GetErrorText())
                                         : TransferEnd::Done();
  }

 private:
  std::shared_ptr<Script> script_;
};

}  // namespace qs::testing
