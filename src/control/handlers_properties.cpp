// The `User` property: kept in sanitized form, so that a user name can never act as a path
// inside the configuration store or the working-directory template.
#include "control/control.h"

namespace qs {

ScriptString CQSFileTransferCtrl::GetUser() const { return user_; }

void CQSFileTransferCtrl::SetUser(const ScriptString& value) {
  std::u16string sanitized = value.str();
  for (char16_t& c : sanitized) {
    if (c == u'/' || c == u'\\') c = u'_';
  }
  user_ = std::move(sanitized);
}

}  // namespace qs
