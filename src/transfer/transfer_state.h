// The states of a transfer, with the numbers the page reads in the status text.
//
//   kCreated   -> kRunning                  (Start, just before the worker is launched)
//   kRunning   -> kFinishing                (upload: its last data is in the final request)
//   kRunning   -> kFailed                   (SetError, while Run still works)
//   kRunning, kFinishing, kFailed -> kDone or kFailed   (worker end: what Run returned)
//
// A cancelled transfer ends in kDone; there is no state of its own for it (transfer_end.h keeps
// the difference for the command line). A transfer whose
// worker could not be launched stays kRunning.
#pragma once

#include <cstdint>

namespace qs {

enum class TransferState : int32_t {
  kCreated = 0,
  kRunning = 1,
  kFinishing = 2,
  kDone = 10,
  kFailed = -1,
};

constexpr int32_t ToInt(TransferState state) { return static_cast<int32_t>(state); }

}  // namespace qs
