// Polling and cancelling: both always concern the current transfer; the ticket the page passes
// is not consulted.
#include "control/control.h"
#include "transfer/transfer_slot.h"

namespace qs {

Variant CQSFileTransferCtrl::GetTransferStatus(uint32_t /*file_ticket*/) {
  return qs::GetTransferStatus(current_transfer_.get());
}

void CQSFileTransferCtrl::CancelTransfer(uint32_t /*file_ticket*/) {
  qs::CancelTransfer(current_transfer_.get());
}

}  // namespace qs
