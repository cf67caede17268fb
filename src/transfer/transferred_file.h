// TransferredFile: one file moving between the server and the local disk on a worker thread of
// its own. The abstract base of every transfer kind; a kind implements Run().
//
// Ownership: intrusively counted (hold it in a RefPtr). The control's slot holds one reference,
// the worker another for its whole run, so a transfer that is replaced, or that outlives its
// control, is destroyed by whichever lets go last, exactly once.
//
// Threads: Run() executes on the worker. The page's thread only reads the status and raises the
// cancel counter. The per-transfer lock guards the byte counter and the text, so that a status
// read sees a whole value of each and never half a string. state and cancelCount are atomics.
//
// The session is borrowed from the control through shared ownership: when the control closes
// it, the worker's later requests fail, but the object stays valid for as long as the worker
// holds it. A transfer never touches its control.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cancel_signal.h"
#include "transfer/transfer_end.h"
#include "transfer/transfer_state.h"

namespace qs {

// The literal text of every protocol failure (an unexpected status, a missing or wrong header),
// as pages have always read it.
inline constexpr std::u16string_view kTransferErrorText = u"TransferError";

namespace platform {
class HttpSession;
}  // namespace platform

// Pauses the worker; false when a cancel cut the pause short. Without one, a transfer pauses on
// its cancel signal; tests inject one that records the pause and returns at once.
using Sleeper = std::function<bool(std::chrono::milliseconds)>;

class TransferredFile {
 public:
  TransferredFile(const TransferredFile&) = delete;
  TransferredFile& operator=(const TransferredFile&) = delete;

  void AddRef();
  // Gives back one reference; the last one destroys the object.
  void Release();

  // Sets kRunning and launches the detached worker, which takes over a reference added here on
  // its behalf before the thread exists. False when no thread could be launched, or when
  // kMaxRunningWorkers workers already run in the process: the worker's reference is given back
  // and the state stays kRunning. The caller must hold a reference.
  [[nodiscard]] bool Start();
  // True from a successful Start() until the worker has ended.
  bool worker_running() const { return worker_running_.load(std::memory_order_acquire); }

  // Workers of all transfers in the process, counted from a successful Start() to the moment
  // the worker has let go of its transfer.
  static constexpr int kMaxRunningWorkers = 32;
  static int RunningWorkers();
  // Asks every running worker in the process to stop (as CancelTransfer does), then waits until
  // none runs any more. What a host does before it ends, so that no temporary file is left.
  static void CancelAllWorkersAndWait();

  int32_t ticket() const { return ticket_; }
  TransferState state() const { return state_.load(std::memory_order_acquire); }
  const std::u16string& local_path() const { return local_path_; }
  const std::u16string& url() const { return url_; }
  const std::shared_ptr<platform::HttpSession>& session() const { return session_; }

  uint64_t GetBytesTransferred() const;
  void SetBytesTransferred(uint64_t bytes);

  // Records why the transfer failed, then enters kFailed. Worker thread only.
  void SetError(std::u16string text);
  // Replaces the text without changing the state (an upload publishes each chunk's answer).
  void SetErrorText(std::u16string text);
  std::u16string GetErrorText() const;

  // Interlocked increment, and wakes the worker wherever it waits (an open request, a read, a
  // pause); never waits and never changes the state. Any thread.
  void RequestCancel();
  // What the worker consults at its check points.
  bool CancelRequested() const { return cancel_count_.load(std::memory_order_acquire) > 0; }
  int32_t cancel_count() const { return cancel_count_.load(std::memory_order_acquire); }
  // Signalled by RequestCancel; handed to the requests and pauses of the run.
  const std::shared_ptr<platform::CancelSignal>& cancel_signal() const { return cancel_signal_; }

  // A pause on the cancel signal.
  Sleeper CancellableSleeper() const;

  // How the run ended, once the worker has finished (nothing before). For the command line,
  // which tells a 204 and a cancel from a success; pages read only the status text.
  std::optional<TransferEnd> end() const;

  // "state|bytes|text": the state as signed decimal, the byte count as decimal, the text as
  // stored (it may be empty and may hold line breaks and further "|"). May throw
  // std::bad_alloc.
  std::u16string StatusText() const;

  // The ticket the next transfer created in this process will get (it only looks).
  static int32_t PeekNextTicket();

  // Makes every Start() in the process fail as if no thread could be created, while alive.
  // Tests only; not nestable.
  class ScopedFailThreadStartForTesting {
   public:
    ScopedFailThreadStartForTesting();
    ~ScopedFailThreadStartForTesting();
    ScopedFailThreadStartForTesting(const ScopedFailThreadStartForTesting&) = delete;
    ScopedFailThreadStartForTesting& operator=(const ScopedFailThreadStartForTesting&) = delete;
  };

 protected:
  // Takes the next ticket of the process-wide counter; state kCreated, counters 0, text empty.
  TransferredFile(std::shared_ptr<platform::HttpSession> session, std::u16string url,
                  std::u16string local_path);
  // Only Release() destroys a transfer.
  virtual ~TransferredFile();

  // The whole transfer, on the worker thread.
  virtual TransferEnd Run() = 0;
  // Records `end`, then publishes it as the page's text and state. The worker calls it with
  // Run's result; tests that run a transfer on their own thread call it the same way.
  void Finish(const TransferEnd& end);

  // The one place where the state changes after construction.
  void SetState(TransferState state) { state_.store(state, std::memory_order_release); }

 private:
  static void WorkerMain(TransferredFile* self);
  // Takes the transfer off the process-wide list of running workers.
  void LeaveRunningWorkers();

  std::atomic<int32_t> ref_count_{0};
  const int32_t ticket_;
  const std::u16string local_path_;
  std::u16string error_text_;  // guarded by lock_
  const std::u16string url_;
  mutable std::mutex lock_;
  std::atomic<int32_t> cancel_count_{0};
  std::atomic<TransferState> state_{TransferState::kCreated};
  std::atomic<bool> worker_running_{false};
  uint64_t bytes_transferred_ = 0;  // guarded by lock_
  std::optional<TransferEnd> end_;  // guarded by lock_
  const std::shared_ptr<platform::CancelSignal> cancel_signal_ =
      std::make_shared<platform::CancelSignal>();
  const std::shared_ptr<platform::HttpSession> session_;
};

}  // namespace qs
