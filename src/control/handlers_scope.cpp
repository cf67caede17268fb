// The operation scope and its hand-over between controls of one process.
#include "control/control.h"

namespace qs {

void CQSFileTransferCtrl::FinishOperation() {
  qs::FinishOperation(access_guard_, published_scope_id_);
}

ScriptString CQSFileTransferCtrl::GetOperationScope() {
  return PublishOperationScope(access_guard_, published_scope_id_);
}

void CQSFileTransferCtrl::SetOperationScope(const ScriptString& scope_id) {
  AdoptOperationScope(access_guard_, scope_id.str());
}

void CQSFileTransferCtrl::WithdrawPublishedScope() { ReleasePublishedScope(published_scope_id_); }

}  // namespace qs
