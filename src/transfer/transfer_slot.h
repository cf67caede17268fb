// The control's one visible transfer: starting a transfer into it, its status, its cancel.
//
// The control owns the slot (a RefPtr<TransferredFile>, null until the first start) and its
// session; these functions run on the page's thread. The page can poll and cancel only the
// transfer in the slot; a replaced transfer runs on to its end unseen.
#pragma once

#include "base/variant.h"
#include "transfer/ref_ptr.h"
#include "transfer/transferred_file.h"

namespace qs {

// Puts `fresh` into `current` (the control's reference to the previous transfer is given back;
// a running one goes on and is destroyed when its worker ends), then starts it. The result is
// the new ticket as an integer, or false when no worker could be launched; the new transfer
// stays current either way. Call after EnsureSession succeeded and `fresh` was built on the
// session. A null `fresh` leaves `current` alone and gives false.
Variant StartTransfer(RefPtr<TransferredFile>& current, RefPtr<TransferredFile> fresh);

// "state|bytes|text" of `current`, or an empty value when there is none. The ticket the page
// passes is not consulted: the answer always concerns the current transfer. May throw
// std::bad_alloc, which the control reports as its out-of-memory error.
Variant GetTransferStatus(const TransferredFile* current);

// Asks `current` to stop at its next check point; returns at once. Nothing without a transfer.
void CancelTransfer(TransferredFile* current);

}  // namespace qs
