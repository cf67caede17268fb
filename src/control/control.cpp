#include "control/control.h"

#include <utility>

#include "base/error_codes.h"
#include "control/identity.h"
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
  // The order matters: every transfer this control started and that still runs is asked to stop
  // (its worker keeps its own reference and ends by itself), then the control lets go of them;
  // the session goes last, after everything that could use it, and closing it wakes a worker
  // blocked on the network.
  if (current_transfer_) current_transfer_->RequestCancel();
  for (auto& replaced : replaced_transfers_) replaced->RequestCancel();
  replaced_transfers_.clear();
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

uint32_t CQSFileTransferCtrl::QueryInterface(const Guid& iid) const {
  for (const NamedInterface& offered : ControlInterfaces()) {
    if (offered.iid == iid) return hresult::kOk;
  }
  return hresult::kNoInterface;
}

std::optional<HostingPage> CQSFileTransferCtrl::PageForSiteLock() const {
  auto page = GetPageUrlAndZone();
  if (!page.ok()) return std::nullopt;
  return HostingPage{std::move(page->url), page->zone};
}

void CQSFileTransferCtrl::KeepReplaced(RefPtr<TransferredFile> previous) {
  std::erase_if(replaced_transfers_,
                [](const RefPtr<TransferredFile>& t) { return !t->worker_running(); });
  if (previous && previous != current_transfer_ && previous->worker_running()) {
    replaced_transfers_.push_back(std::move(previous));
  }
}

bool CQSFileTransferCtrl::EnsureSession() { return qs::EnsureSession(session_); }

void CQSFileTransferCtrl::TakeSiteCookies() {
  if (!site_) return;
  const std::vector<platform::HttpCookie> cookies = site_->GetCookies();
  if (cookies.empty() || !EnsureSession()) return;
  session_.handle()->AddCookies(cookies);
}

std::vector<platform::HttpCookieChange> CQSFileTransferCtrl::TakeCookieChanges() {
  if (!session_open()) return {};
  return session_.handle()->TakeCookieChanges();
}

std::u16string CQSFileTransferCtrl::GetString(TextId id) { return texts_->GetString(id); }

void CQSFileTransferCtrl::Draw(Canvas& canvas, const Rect& bounds) {
  canvas.FillRectWhite(bounds);
  canvas.Ellipse(bounds);
}

}  // namespace qs
