// One thread that owns a thread-bound library and runs every job for it, one after another.
//
// Callers on any thread hand a job over and wait for its result; a job run from the owner
// thread itself (a job that starts another) runs at once instead of waiting for itself. The
// thread first runs a start-up function; when that fails the thread ends and Start() says so.
// Destruction runs the jobs already handed over, then ends and joins the thread; it waits for
// a job that is still running. An owner whose jobs may block for a user (the GTK dialogs
// backend) is therefore kept for the life of the process instead of being destroyed.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace qs::platform {

class OwnerThread {
 public:
  OwnerThread() = default;
  ~OwnerThread() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  OwnerThread(const OwnerThread&) = delete;
  OwnerThread& operator=(const OwnerThread&) = delete;

  // Starts the thread and runs `start_up` on it; false (and the thread ended) when it fails.
  // `after_each_job` runs on the thread after every job (say, to flush the library's events).
  bool Start(std::function<bool()> start_up, std::function<void()> after_each_job = {}) {
    after_each_job_ = std::move(after_each_job);
    std::promise<bool> ready;
    auto started = ready.get_future();
    thread_ =
        std::thread([this, start_up = std::move(start_up), ready = std::move(ready)]() mutable {
          const bool ok = start_up();
          ready.set_value(ok);
          if (ok) Loop();
        });
    if (started.get()) return true;
    thread_.join();
    return false;
  }

  // Runs `job` on the owner thread and gives its result. Only after a successful Start().
  template <typename F>
  auto Run(F job) -> decltype(job()) {
    using R = decltype(job());
    if (std::this_thread::get_id() == thread_.get_id()) return job();
    auto task = std::make_shared<std::packaged_task<R()>>(std::move(job));
    auto result = task->get_future();
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back([task] { (*task)(); });
    }
    wake_.notify_one();
    return result.get();
  }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) return;  // stopping, and nothing left to run
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
      if (after_each_job_) after_each_job_();
    }
  }

  std::thread thread_;
  std::function<void()> after_each_job_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
};

}  // namespace qs::platform
