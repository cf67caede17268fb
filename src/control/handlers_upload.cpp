// Measuring and uploading local files. Arguments are checked first; until the access decision
// exists, no file may be read, so the page is answered as if the user had refused access. No
// transfer is created and the session stays closed.
#include "control/control.h"
#include "platform/error_codes.h"
#include "transfer/error_text.h"

namespace qs {

Variant CQSFileTransferCtrl::GetFileSizes(const Variant& files) {
  if (files.type() != Variant::Type::kArray && files.type() != Variant::Type::kStringList) {
    return Variant();
  }
  bool none = files.type() == Variant::Type::kArray ? files.as_array().empty()
                                                   : files.as_list().empty();
  if (none) return Variant::List({});
  return MakeErrorResult(ToUint(ErrorCode::kAccessDenied));
}

Variant CQSFileTransferCtrl::StartFileUpload(const ScriptString& url, bool /*first_file*/,
                                             const ScriptString& file_name, uint32_t chunk_size) {
  if (url.is_null() || file_name.is_null() || chunk_size == 0) {
    return MakeErrorResult(ToUint(ErrorCode::kInvalidParameter));
  }
  return MakeErrorResult(ToUint(ErrorCode::kAccessDenied));
}

}  // namespace qs
