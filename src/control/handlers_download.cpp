// Starting a download: the control hands its page's address, its access decision, its texts,
// its session and its transfer slot to the download starter (transfer/download_start.h).
#include <optional>
#include <string>

#include "control/control.h"
#include "platform/error_codes.h"
#include "transfer/download_start.h"
#include "transfer/error_text.h"

namespace qs {

Variant CQSFileTransferCtrl::StartFileDownload(const ScriptString& url,
                                               const ScriptString& file_path) {
  try {
    if (url.is_null() || file_path.is_null()) {
      return MakeErrorResult(ToUint(ErrorCode::kInvalidParameter));
    }
    DownloadStarter starter{
        .page_url =
            [this](std::u16string& page_url) -> uint32_t {
              auto page = GetPageUrlAndZone();
              if (!page.ok()) return page.code();
              page_url = std::move(page->url);
              return 0;
            },
        // TODO(download): ask CheckAccess(path, 0x0D) and hand back its qualified path once the
        // access guard is part of the control. Until then no target is approved.
        .check_access = [](std::u16string_view) -> std::optional<std::u16string> {
          return std::nullopt;
        },
        .denied_text = [this] { return GetString(TextId::kDownloadDirDenied); },
        .session = session_,
        .current = current_transfer_,
    };
    return qs::StartFileDownload(starter, url.str(), file_path.str());
  } catch (...) {
    return Variant::String(GetString(TextId::kUnhandledException));
  }
}

}  // namespace qs
