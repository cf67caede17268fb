// The working directory of the datasource and user: the page asks the control to choose it,
// to let the user change it, or only to check that one is established.
#include "control/control.h"
#include "workdir/work_dir.h"

namespace qs {

std::u16string CQSFileTransferCtrl::ResolveWorkDir(WorkDirMode mode) {
  WorkDirContext context;
  context.datasource = datasource_name_;
  context.user = user_;
  if (auto page = GetPageUrlAndZone(); page.ok()) context.page_url = std::move(page->url);
  context.dialogs = site_ ? site_->GetDialogs() : nullptr;
  context.picker_title = [this] { return GetString(TextId::kSelectWorkDirTitle); };
  return qs::ResolveWorkDir(context, user_work_dir_, mode);
}

bool CQSFileTransferCtrl::ChooseWorkDir() { return !ResolveWorkDir(WorkDirMode::kChoose).empty(); }

bool CQSFileTransferCtrl::ChangeWorkDir() { return !ResolveWorkDir(WorkDirMode::kChange).empty(); }

bool CQSFileTransferCtrl::CheckWorkDir() { return !ResolveWorkDir(WorkDirMode::kCheck).empty(); }

}  // namespace qs
