#include "platform/error.h"

namespace qs::platform {

std::optional<std::u16string> SystemErrorMessage(uint32_t /*code*/) { return std::nullopt; }

}  // namespace qs::platform
