#include "transfer/transferred_file.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/text.h"

namespace qs {

namespace {

// Process-wide, shared by every control and the language loader. It starts at 1 and is
// incremented before use, so the first transfer of a process gets ticket 2.
std::atomic<int32_t> g_last_ticket{1};

std::atomic<bool> g_fail_thread_start{false};

// The workers that run, process-wide. A worker leaves `transfers` before it gives back its
// reference, so every transfer listed is alive while the lock is held; it leaves `count` only
// after that, so a host that waits for the count to reach 0 knows every transfer is gone.
struct WorkerRegistry {
  std::mutex lock;
  std::condition_variable ended;
  std::vector<TransferredFile*> transfers;
  size_t count = 0;
};

WorkerRegistry& Workers() {
  static WorkerRegistry* workers = new WorkerRegistry;  // never destroyed: workers may outlive exit
  return *workers;
}

void LeaveCount() {
  WorkerRegistry& workers = Workers();
  {
    std::lock_guard<std::mutex> hold(workers.lock);
    --workers.count;
  }
  workers.ended.notify_all();
}

}  // namespace

TransferredFile::TransferredFile(std::shared_ptr<platform::HttpSession> session, std::u16string url,
                                 std::u16string local_path)
    : ticket_(g_last_ticket.fetch_add(1, std::memory_order_relaxed) + 1),
      local_path_(std::move(local_path)),
      url_(std::move(url)),
      session_(std::move(session)) {}

TransferredFile::~TransferredFile() = default;

int32_t TransferredFile::PeekNextTicket() {
  return g_last_ticket.load(std::memory_order_relaxed) + 1;
}

void TransferredFile::AddRef() { ref_count_.fetch_add(1, std::memory_order_relaxed); }

void TransferredFile::Release() {
  // acq_rel: whatever any holder wrote happens before the destruction by the last one.
  if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;  // the counted object's own end; nothing else deletes a transfer
  }
}

bool TransferredFile::Start() {
  SetState(TransferState::kRunning);
  // The worker's reference exists before the thread does, so no other holder letting go can
  // destroy the object under a worker that has not yet taken hold of it.
  AddRef();
  WorkerRegistry& workers = Workers();
  {
    std::lock_guard<std::mutex> hold(workers.lock);
    // A page that starts transfer after transfer without waiting is held to a bounded number
    // of threads, connections and open files.
    if (workers.count >= static_cast<size_t>(kMaxRunningWorkers)) {
      Release();
      return false;
    }
    try {
      workers.transfers.push_back(this);
    } catch (...) {
      Release();
      return false;
    }
    ++workers.count;
    worker_running_.store(true, std::memory_order_release);
  }
  try {
    if (g_fail_thread_start.load(std::memory_order_relaxed)) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    std::thread(&TransferredFile::WorkerMain, this).detach();
  } catch (...) {
    // No thread (std::system_error) or no memory for its start-up state (std::bad_alloc).
    LeaveRunningWorkers();
    Release();
    LeaveCount();
    return false;
  }
  return true;
}

void TransferredFile::LeaveRunningWorkers() {
  WorkerRegistry& workers = Workers();
  std::lock_guard<std::mutex> hold(workers.lock);
  std::erase(workers.transfers, this);
  worker_running_.store(false, std::memory_order_release);
}

int TransferredFile::RunningWorkers() {
  auto& workers = Workers();
  std::lock_guard<std::mutex> hold(workers.lock);
  return static_cast<int>(workers.count);
}

void TransferredFile::CancelAllWorkersAndWait() {
  auto& workers = Workers();
  std::unique_lock<std::mutex> hold(workers.lock);
  for (TransferredFile* transfer : workers.transfers) transfer->RequestCancel();
  workers.ended.wait(hold, [&] { return workers.count == 0; });
}

void TransferredFile::WorkerMain(TransferredFile* self) {
  // The reference added by Start() is this worker's; it is given back last of all.
  try {
    self->Finish(self->Run());
  } catch (...) {
    // An escaping exception would end the process from a detached thread. Record it as a
    // failure the page can read instead.
    try {
      self->SetErrorText(u"Exception");
    } catch (...) {
      // Nothing left to record it with; the state still says kFailed.
    }
    self->SetState(TransferState::kFailed);
  }
  // Out of the list first: a transfer listed must be alive while the list's lock is held.
  self->LeaveRunningWorkers();
  self->Release();
  LeaveCount();
}

void TransferredFile::Finish(const TransferEnd& end) {
  if (end.failed()) SetErrorText(PageText(end));
  {
    std::lock_guard<std::mutex> hold(lock_);
    end_ = end;
  }
  SetState(PageState(end));
}

Sleeper TransferredFile::CancellableSleeper() const {
  return
      [signal = cancel_signal_](std::chrono::milliseconds pause) { return signal->WaitFor(pause); };
}

std::optional<TransferEnd> TransferredFile::end() const {
  std::lock_guard<std::mutex> hold(lock_);
  return end_;
}

uint64_t TransferredFile::GetBytesTransferred() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bytes_transferred_;
}

void TransferredFile::SetBytesTransferred(uint64_t bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  bytes_transferred_ = bytes;
}

void TransferredFile::SetError(std::u16string text) {
  SetErrorText(std::move(text));
  SetState(TransferState::kFailed);
}

void TransferredFile::SetErrorText(std::u16string text) {
  // The new text is built outside the lock; under it the strings only swap, so a reader waits
  // for no allocation and never sees a half-written text.
  {
    std::lock_guard<std::mutex> hold(lock_);
    error_text_.swap(text);
  }
  // `text` now holds the old text and is freed outside the lock.
}

std::u16string TransferredFile::GetErrorText() const {
  std::lock_guard<std::mutex> hold(lock_);
  return error_text_;
}

void TransferredFile::RequestCancel() {
  cancel_count_.fetch_add(1, std::memory_order_acq_rel);
  cancel_signal_->Cancel();
}

std::u16string TransferredFile::StatusText() const {
  const int32_t state = ToInt(this->state());
  uint64_t bytes = 0;
  std::u16string status;
  {
    std::lock_guard<std::mutex> hold(lock_);
    bytes = bytes_transferred_;
    status = error_text_;
  }
  std::u16string head = FromAscii(std::to_string(state));
  head += u'|';
  head += FromAscii(std::to_string(bytes));
  head += u'|';
  return head + status;
}

TransferredFile::ScopedFailThreadStartForTesting::ScopedFailThreadStartForTesting() {
  g_fail_thread_start.store(true, std::memory_order_relaxed);
}

TransferredFile::ScopedFailThreadStartForTesting::~ScopedFailThreadStartForTesting() {
  g_fail_thread_start.store(false, std::memory_order_relaxed);
}

}  // namespace qs
