// The file and folder pickers. Until the dialogs are wired every picker counts as cancelled:
// the string pickers give the null string, the list pickers the integer 0.
#include "control/control.h"

namespace qs {

ScriptString CQSFileTransferCtrl::SelectExportDir() { return ScriptString::Null(); }

ScriptString CQSFileTransferCtrl::SelectDownloadDir() { return ScriptString::Null(); }

Variant CQSFileTransferCtrl::SelectFilesInFolder(bool /*recursively*/) { return Variant::Int(0); }

Variant CQSFileTransferCtrl::SelectFiles() { return Variant::Int(0); }

ScriptString CQSFileTransferCtrl::SelectFile() { return ScriptString::Null(); }

ScriptString CQSFileTransferCtrl::LocateFile(const ScriptString& /*file_path*/) {
  return ScriptString::Null();
}

}  // namespace qs
