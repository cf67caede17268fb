#include "control/script_error.h"

#include <new>

namespace qs {

uint32_t CurrentFailureCode() noexcept {
  try {
    throw;
  } catch (const ScriptError& e) {
    return e.hresult();
  } catch (const std::bad_alloc&) {
    return hresult::kOutOfMemory;
  } catch (...) {
    return hresult::kFail;
  }
}

}  // namespace qs
