// Local file operations. Until the access decision exists no local path is approved, so every
// operation fails quietly: the questions answer false, the actions have no effect.
#include "control/control.h"

namespace qs {

void CQSFileTransferCtrl::Open(const ScriptString& /*file*/) {}

void CQSFileTransferCtrl::DeleteFile(const ScriptString& /*abs_name*/) {}

bool CQSFileTransferCtrl::FileExist(const ScriptString& /*abs_name*/) { return false; }

bool CQSFileTransferCtrl::FolderExist(const ScriptString& /*abs_name*/) { return false; }

bool CQSFileTransferCtrl::FileChanged(const ScriptString& /*abs_name*/,
                                      const ScriptString& /*update_time*/) {
  return false;
}

void CQSFileTransferCtrl::UpdateFileTime(const ScriptString& /*abs_name*/,
                                         const ScriptString& /*update_time*/) {}

}  // namespace qs
