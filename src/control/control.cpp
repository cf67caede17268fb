#include "control/control.h"

#include <utility>

#include "control/process_state.h"
#include "transfer/session.h"
#include "workdir/work_dir.h"

namespace qs {

CQSFileTransferCtrl::CQSFileTransferCtrl(std::shared_ptr<ClientSite> site)
    : site_(std::move(site)),
      extent_x_(kDefaultExtentX),
      extent_y_(kDefaultExtentY),
      access_guard_([this] { return ResolveWorkDir(WorkDirMode::kCheck); }),
      texts_(std::make_unique<DownloadableResources>()) {
  EnsureProcessState();
  // The session stays closed until a method that needs the network asks for it.
}

CQSFileTransferCtrl::~CQSFileTransferCtrl() {
  // The order matters: a transfer still running keeps its own reference and ends by itself, so
  // the control lets go of it first; the session goes last, after everything that could use it.
  current_transfer_.reset();
  WithdrawPublishedScope();
  texts_.reset();
  session_.Close();
}

ErrorOr<PageIdentity> CQSFileTransferCtrl::GetPageUrlAndZone() const {
  if (!site_) return Error{hresult::kFail};
  std::optional<PageIdentity> page = site_->GetPageIdentity();
  if (!page) return Error{hresult::kFail};
  return *std::move(page);
}

bool CQSFileTransferCtrl::EnsureSession() { return qs::EnsureSession(session_); }

std::u16string CQSFileTransferCtrl::GetString(TextId id) { return texts_->GetString(id); }

void CQSFileTransferCtrl::Draw(Canvas& canvas, const Rect& bounds) {
  canvas.FillRectWhite(bounds);
  canvas.Ellipse(bounds);
}

}  // namespace qs
