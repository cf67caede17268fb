// The operation scope and its hand-over between controls. Until the scope registry exists there
// is nothing to end, publish or take over.
#include "control/control.h"

namespace qs {

void CQSFileTransferCtrl::FinishOperation() {}

ScriptString CQSFileTransferCtrl::GetOperationScope() { return ScriptString::Null(); }

void CQSFileTransferCtrl::SetOperationScope(const ScriptString& /*scope_id*/) {}

void CQSFileTransferCtrl::WithdrawPublishedScope() { published_scope_id_.clear(); }

}  // namespace qs
