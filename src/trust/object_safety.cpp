#include "trust/object_safety.h"

#include "base/error_codes.h"

namespace qs {

uint32_t XObjSafe::GetInterfaceSafetyOptions(const Guid& iid, uint32_t* supported,
                                             uint32_t* enabled) {
  if (supported == nullptr || enabled == nullptr) return kPointerResult;
  if (const uint32_t offered = owner_.QueryInterface(iid); offered != hresult::kOk) {
    *supported = 0;
    *enabled = 0;
    return offered;
  }
  const bool passes = PagePasses();
  *supported = kSupportedSafetyOptions;
  *enabled = passes ? owner_.SafetyOptions() : 0;
  return hresult::kOk;
}

uint32_t XObjSafe::SetInterfaceSafetyOptions(const Guid& iid, uint32_t mask, uint32_t options) {
  if (const uint32_t offered = owner_.QueryInterface(iid); offered != hresult::kOk) return offered;
  if (mask > kSupportedSafetyOptions) return hresult::kFail;
  uint32_t& current = owner_.SafetyOptions();
  const uint32_t wanted = (current & ~mask) | (options & mask);
  if (wanted == current) return hresult::kOk;
  if (!PagePasses()) return hresult::kFail;
  current = wanted;
  return hresult::kOk;
}

}  // namespace qs
