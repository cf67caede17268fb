// The file and folder pickers: native dialogs whose choices become grants of the operation
// scope. Nothing chosen: the string pickers give the null string, the list pickers the picker
// failure result.
#include "control/control.h"
#include "dialogs/pickers.h"

namespace qs {

namespace {

ScriptString OrNull(std::optional<std::u16string> chosen) {
  return chosen ? ScriptString(*std::move(chosen)) : ScriptString::Null();
}

}  // namespace

PickerContext CQSFileTransferCtrl::MakePickerContext() {
  PickerContext context;
  context.dialogs = site_ ? site_->GetDialogs() : nullptr;
  context.guard = &access_guard_;
  context.texts = [this](TextId id) { return GetString(id); };
  return context;
}

ScriptString CQSFileTransferCtrl::SelectExportDir() {
  return OrNull(qs::SelectExportDir(MakePickerContext()));
}

ScriptString CQSFileTransferCtrl::SelectDownloadDir() {
  return OrNull(qs::SelectDownloadDir(MakePickerContext()));
}

Variant CQSFileTransferCtrl::SelectFilesInFolder(bool recursively) {
  return qs::SelectFilesInFolder(MakePickerContext(), recursively);
}

Variant CQSFileTransferCtrl::SelectFiles() { return qs::SelectFiles(MakePickerContext()); }

ScriptString CQSFileTransferCtrl::SelectFile() {
  return OrNull(qs::SelectFile(MakePickerContext()));
}

ScriptString CQSFileTransferCtrl::LocateFile(const ScriptString& file_path) {
  return OrNull(qs::LocateFile(MakePickerContext(), file_path.str()));
}

}  // namespace qs
