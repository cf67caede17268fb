// Starting a download: the control hands its page's address, its access decision (CheckAccess
// with the download mask), its texts, its session and its transfer slot to the download starter
// (transfer/download_start.h).
#include <optional>
#include <string>

#include "base/error_codes.h"
#include "control/control.h"
#include "transfer/download_start.h"
#include "transfer/error_text.h"
#include "workdir/operation_scope.h"

namespace qs {

Variant CQSFileTransferCtrl::StartFileDownload(const ScriptString& url,
                                               const ScriptString& file_path) {
  try {
    if (url.is_null() || file_path.is_null()) {
      return MakeErrorResult(ToUint(ErrorCode::kInvalidParameter));
    }
    TakeSiteCookies();
    DownloadStarter starter{
        .page_url = [this](std::u16string& page_url) -> uint32_t {
          auto page = GetPageUrlAndZone();
          if (!page.ok()) return page.code();
          page_url = std::move(page->url);
          return 0;
        },
        // The file operations then act on the path as qualified for the decision.
        .check_access = [this](std::u16string_view path) -> std::optional<std::u16string> {
          std::u16string qualified;
          if (!access_guard_.CheckAccess(path, access_mask::kDownload, &qualified)) {
            return std::nullopt;
          }
          return qualified;
        },
        .denied_text = [this] { return GetString(TextId::kDownloadDirDenied); },
        .session = session_,
        .current = current_transfer_,
    };
    RefPtr<TransferredFile> previous = current_transfer_;
    Variant result = qs::StartFileDownload(starter, url.str(), file_path.str());
    KeepReplaced(std::move(previous));
    return result;
  } catch (...) {
    return Variant::String(GetString(TextId::kUnhandledException));
  }
}

}  // namespace qs
