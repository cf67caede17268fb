// The "safety" op of `qsft host`: the object-safety negotiation a browser runs with a control,
// one call at a time.
#include <limits>

#include "base/error_codes.h"
#include "control/control.h"
#include "control/identity.h"
#include "qsft/host_session.h"

namespace qs::app {

namespace {

json::Value Code(uint32_t code) { return json::Value::Integer(static_cast<int32_t>(code)); }

std::optional<Guid> InterfaceByName(std::u16string_view text) {
  for (const NamedInterface& known : ControlInterfaces()) {
    if (known.name == text) return known.iid;
  }
  if (text.starts_with(u'{')) return Guid::Parse(text);
  return std::nullopt;
}

std::optional<uint32_t> Unsigned32(const json::Value* value) {
  if (value == nullptr) return std::nullopt;
  auto n = value->AsInteger(0, std::numeric_limits<uint32_t>::max());
  if (!n) return std::nullopt;
  return static_cast<uint32_t>(*n);
}

}  // namespace

// {"op":"safety","control":"a","iid":"IDispatch"} asks for the options;
// with "set":{"mask":3,"options":3} it asks to switch them.
OpResult SafetyOp(HostSession& session, const json::Value& request) {
  const json::Value* name = request.Find(u"control");
  if (name == nullptr || name->kind() != json::Value::Kind::kString) {
    return BadRequest(u"the request needs \"control\", a string");
  }
  CQSFileTransferCtrl* control = session.FindControl(name->as_string());
  if (control == nullptr) return BadRequest(u"no control named \"" + name->as_string() + u"\"");

  const json::Value* iid_value = request.Find(u"iid");
  if (iid_value == nullptr || iid_value->kind() != json::Value::Kind::kString) {
    return BadRequest(u"the request needs \"iid\", a string");
  }
  const std::optional<Guid> iid = InterfaceByName(iid_value->as_string());
  if (!iid) {
    return BadRequest(
        u"\"iid\" must be a braced identifier or one of IUnknown, IDispatch, "
        u"IObjectSafety, IObjectSafetySiteLock, IPersistPropertyBag");
  }

  XObjSafe& safety = control->object_safety();
  json::Object result;
  if (const json::Value* set = request.Find(u"set"); set != nullptr && !set->is_null()) {
    if (set->kind() != json::Value::Kind::kObject) return BadRequest(u"\"set\" must be an object");
    const auto mask = Unsigned32(set->Find(u"mask"));
    const auto options = Unsigned32(set->Find(u"options"));
    if (!mask || !options) {
      return BadRequest(u"\"mask\" and \"options\" must be integers from 0 to 4294967295");
    }
    result.emplace_back(u"hr", Code(safety.SetInterfaceSafetyOptions(*iid, *mask, *options)));
  } else {
    uint32_t supported = 0;
    uint32_t enabled = 0;
    const uint32_t hr = safety.GetInterfaceSafetyOptions(*iid, &supported, &enabled);
    result.emplace_back(u"hr", Code(hr));
    result.emplace_back(u"supported", json::Value::Integer(supported));
    result.emplace_back(u"enabled", json::Value::Integer(enabled));
  }
  return json::Value::MakeObject(std::move(result));
}

}  // namespace qs::app
