// Starting a download. Arguments are checked first; until URL resolution and the access
// decision exist, no target can be approved, so a valid request is refused as a download to an
// unauthorized place. No transfer is created and the session stays closed.
#include "control/control.h"
#include "platform/error_codes.h"
#include "transfer/error_text.h"

namespace qs {

Variant CQSFileTransferCtrl::StartFileDownload(const ScriptString& url,
                                               const ScriptString& file_path) {
  if (url.is_null() || file_path.is_null()) {
    return MakeErrorResult(ToUint(ErrorCode::kInvalidParameter));
  }
  return Variant::String(GetString(TextId::kDownloadDirDenied));
}

}  // namespace qs
