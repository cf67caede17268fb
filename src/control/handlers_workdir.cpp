// The working directory of the datasource and user. Until it can be resolved, none is
// established: every question answers false.
#include "control/control.h"

namespace qs {

bool CQSFileTransferCtrl::ChooseWorkDir() { return false; }

bool CQSFileTransferCtrl::ChangeWorkDir() { return false; }

bool CQSFileTransferCtrl::CheckWorkDir() { return false; }

}  // namespace qs
