#include "transfer/transfer_slot.h"

#include <utility>

namespace qs {

Variant StartTransfer(RefPtr<TransferredFile>& current, RefPtr<TransferredFile> fresh) {
  if (!fresh) return Variant::Bool(false);
  // The reference `fresh` holds becomes the control's; the assignment gives back the one on
  // the previous transfer.
  current = std::move(fresh);
  if (!current->Start()) return Variant::Bool(false);
  return Variant::Int(current->ticket());
}

Variant GetTransferStatus(const TransferredFile* current) {
  if (current == nullptr) return Variant();
  return Variant::String(current->StatusText());
}

void CancelTransfer(TransferredFile* current) {
  if (current != nullptr) current->RequestCancel();
}

}  // namespace qs
