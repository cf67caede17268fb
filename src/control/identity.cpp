#include "control/identity.h"

#include "trust/object_safety.h"

namespace qs {

namespace {
constexpr NamedInterface kInterfaces[] = {
    {u"IUnknown", kIidUnknown},
    {u"IDispatch", kIidDispatch},
    {kDispatchInterfaceName, kIidDispatchInterface},
    {u"IObjectSafety", kIidObjectSafety},
    {u"IObjectSafetySiteLock", kIidObjectSafetySiteLock},
    {u"IPersistPropertyBag", kIidPersistPropertyBag},
};
}  // namespace

std::span<const NamedInterface> ControlInterfaces() { return kInterfaces; }

}  // namespace qs
