#include <cstdio>

#include "qsft/commands.h"

namespace qs::app {

int VersionMain(std::span<char*> /*args*/) {
  std::puts("qsft 2.2 (QSWebFileTransfer for Linux)");
  return 0;
}

}  // namespace qs::app
