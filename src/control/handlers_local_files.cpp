// Local file operations: each asks the access guard first and fails quietly when refused.
#include "control/control.h"
#include "workdir/local_files.h"

namespace qs {

void CQSFileTransferCtrl::Open(const ScriptString& file) {
  OpenFile(access_guard_, file.str(), site_ ? site_->GetDialogs() : nullptr,
           [this](TextId id) { return GetString(id); });
}

void CQSFileTransferCtrl::DeleteFile(const ScriptString& abs_name) {
  qs::DeleteFile(access_guard_, abs_name.str());
}

bool CQSFileTransferCtrl::FileExist(const ScriptString& abs_name) {
  return qs::FileExist(access_guard_, abs_name.str());
}

bool CQSFileTransferCtrl::FolderExist(const ScriptString& abs_name) {
  return qs::FolderExist(access_guard_, abs_name.str());
}

bool CQSFileTransferCtrl::FileChanged(const ScriptString& abs_name,
                                      const ScriptString& update_time) {
  // A null name is refused before the working directory is resolved.
  if (abs_name.is_null()) return false;
  return qs::FileChanged(access_guard_, abs_name.str(), update_time.str());
}

void CQSFileTransferCtrl::UpdateFileTime(const ScriptString& abs_name,
                                         const ScriptString& update_time) {
  if (abs_name.is_null()) return;
  qs::UpdateFileTime(access_guard_, abs_name.str(), update_time.str());
}

}  // namespace qs
