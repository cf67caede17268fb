// Loading the texts of a language. Until language modules can be loaded, the own texts answer
// and the call has no effect; in particular it opens no session.
#include "control/control.h"

namespace qs {

void CQSFileTransferCtrl::SetLanguage(const ScriptString& /*language*/,
                                      const ScriptString& /*resource_version*/,
                                      const ScriptString& /*resource_url*/) {}

}  // namespace qs
