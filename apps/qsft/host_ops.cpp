// The ops of `qsft host`, and the table that names them.
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>

#include "base/error_codes.h"
#include "base/text.h"
#include "control/control.h"
#include "control/identity.h"
#include "control/property_bag.h"
#include "qsft/control_classes.h"
#include "qsft/host_dialogs.h"
#include "qsft/host_session.h"
#include "qsft/variant_json.h"

namespace qs::app {

namespace {

using Kind = json::Value::Kind;

// Property values by name, in the order written. Names match without regard to case, as the
// parameters of a page's control element do; a second write of a name replaces the first in
// place. Remembers which names the control read, so that the host can point out the others.
class JsonPropertyBag final : public PropertyBag {
 public:
  std::optional<Variant> Read(std::u16string_view name) override {
    for (auto& e : entries_) {
      if (EqualsIgnoreCase(e.name, name)) {
        e.read = true;
        return e.value;
      }
    }
    return std::nullopt;
  }
  void Write(std::u16string_view name, const Variant& value) override {
    for (auto& e : entries_) {
      if (EqualsIgnoreCase(e.name, name)) {
        e.value = value;
        return;
      }
    }
    entries_.push_back(Entry{std::u16string(name), value, false});
  }

  json::Value ToJson() const {
    json::Object members;
    for (const auto& e : entries_) members.emplace_back(e.name, VariantToJson(e.value));
    return json::Value::MakeObject(std::move(members));
  }
  std::vector<std::u16string> UnreadNames() const {
    std::vector<std::u16string> names;
    for (const auto& e : entries_) {
      if (!e.read) names.push_back(e.name);
    }
    return names;
  }

 private:
  struct Entry {
    std::u16string name;
    Variant value;
    bool read;
  };
  std::vector<Entry> entries_;
};

// A string member, or the failure that says what is wrong with it.
std::variant<std::u16string, OpFailure> RequiredString(const json::Value& request,
                                                       std::u16string_view key) {
  const json::Value* v = request.Find(key);
  if (!v) return BadRequest(u"the request has no \"" + std::u16string(key) + u"\"");
  if (v->kind() != Kind::kString) {
    return BadRequest(u"\"" + std::u16string(key) + u"\" must be a string");
  }
  return v->as_string();
}

// The control named by "control", or the failure.
std::variant<CQSFileTransferCtrl*, OpFailure> TargetControl(HostSession& session,
                                                            const json::Value& request) {
  auto name = RequiredString(request, u"control");
  if (auto* f = std::get_if<OpFailure>(&name)) return std::move(*f);
  const std::u16string& n = std::get<std::u16string>(name);
  CQSFileTransferCtrl* control = session.FindControl(n);
  if (!control) return BadRequest(u"no control named \"" + n + u"\"");
  return control;
}

OpResult FromInvoke(InvokeResult r) {
  if (!r.ok()) return OpFailure{r.hresult, std::move(r.message)};
  return VariantToJson(r.value);
}

// Calls the entry named by "name" (any case) or, instead, by "dispid".
OpResult InvokeEntry(HostSession& session, const json::Value& request, InvokeKind kind,
                     const std::vector<Variant>& args) {
  auto target = TargetControl(session, request);
  if (auto* f = std::get_if<OpFailure>(&target)) return std::move(*f);
  CQSFileTransferCtrl* control = std::get<CQSFileTransferCtrl*>(target);

  const json::Value* name = request.Find(u"name");
  const json::Value* dispid = request.Find(u"dispid");
  if (name && dispid) return BadRequest(u"give \"name\" or \"dispid\", not both");
  if (dispid) {
    auto n =
        dispid->AsInteger(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    if (!n) return BadRequest(u"\"dispid\" must be a 32-bit integer");
    return FromInvoke(control->InvokeById(static_cast<int32_t>(*n), kind, args));
  }
  auto text = RequiredString(request, u"name");
  if (auto* f = std::get_if<OpFailure>(&text)) return std::move(*f);
  return FromInvoke(control->Invoke(std::get<std::u16string>(text), kind, args));
}

// A refused argument: the dispatch layer's type mismatch, saying which argument.
OpFailure ArgumentMismatch(size_t index, const std::u16string& why) {
  return OpFailure{hresult::kTypeMismatch,
                   u"argument " + FromAscii(std::to_string(index + 1)) + u": " + why};
}

// {"op":"create","control":"a","page":"https://...","zone":2,"props":{"Url":"x"},
//  "class":"QSFILETRANSFER.QSWebFileTransferCtrl.2.2","safe":true}
OpResult Create(HostSession& session, const json::Value& request) {
  auto name = RequiredString(request, u"control");
  if (auto* f = std::get_if<OpFailure>(&name)) return std::move(*f);
  std::u16string control_name = std::get<std::u16string>(std::move(name));
  if (control_name.empty()) return BadRequest(u"\"control\" must not be empty");
  if (session.FindControl(control_name)) {
    return BadRequest(u"a control named \"" + control_name + u"\" exists already");
  }

  std::optional<PageIdentity> page;
  const json::Value* page_value = request.Find(u"page");
  const json::Value* zone_value = request.Find(u"zone");
  if (page_value && !page_value->is_null()) {
    if (page_value->kind() != Kind::kString) return BadRequest(u"\"page\" must be a string");
    page = PageIdentity{page_value->as_string(), 3};
  }
  if (zone_value) {
    auto zone = zone_value->AsInteger(0, std::numeric_limits<uint32_t>::max());
    if (!zone) return BadRequest(u"\"zone\" must be an integer from 0 to 4294967295");
    if (page) page->zone = static_cast<uint32_t>(*zone);
  }

  if (const json::Value* cls = request.Find(u"class"); cls && !cls->is_null()) {
    if (cls->kind() != Kind::kString) return BadRequest(u"\"class\" must be a string");
    const ClassLookup lookup = FindClass(cls->as_string());
    if (!lookup.found) return OpFailure{lookup.failure, {}};
    // The property page is a class of its own but no object a page can script.
    if (*lookup.found != ControlClass::kControl) return OpFailure{hresult::kNoInterface, {}};
  }
  bool safe = false;
  if (const json::Value* s = request.Find(u"safe"); s && !s->is_null()) {
    if (s->kind() != Kind::kBool) return BadRequest(u"\"safe\" must be true or false");
    safe = s->as_bool();
  }

  // Validate the properties before anything is built: a refused create leaves no control.
  const json::Value* props = request.Find(u"props");
  if (props && props->is_null()) props = nullptr;
  JsonPropertyBag bag;
  if (props) {
    if (props->kind() != Kind::kObject) return BadRequest(u"\"props\" must be an object");
    // Values as a saved bag holds them (so that "save" output can be fed back); the control
    // converts each to its property's type.
    for (const auto& [key, value] : props->as_object()) {
      std::u16string why;
      auto v = JsonToVariant(value, &why);
      if (!v) return BadRequest(u"property \"" + key + u"\": " + why);
      bag.Write(key, *v);
    }
  }

  auto site = std::make_shared<HostClientSite>(std::move(page), session.dialogs(),
                                               session.request_cookies());
  auto control = std::make_unique<CQSFileTransferCtrl>(std::move(site));
  if (safe) {
    // As a browser does before it lets the page script the control: both options on the
    // dispatch interface. A refused control is destroyed here, never kept.
    const uint32_t hr = control->object_safety().SetInterfaceSafetyOptions(
        kIidDispatch, kSupportedSafetyOptions, kSupportedSafetyOptions);
    if (hr != hresult::kOk) {
      return OpFailure{hresult::kFail,
                       u"the page is not allowed to use the control: the site lock refused it"};
    }
  }
  if (props) {
    control->LoadProperties(bag);
    for (const auto& unread : bag.UnreadNames()) {
      session.diag() << "qsft host: control \"" << ToUtf8(control_name)
                     << "\": the control has no property \"" << ToUtf8(unread) << "\"; ignored\n";
    }
  }
  session.AddControl(std::move(control_name), std::move(control));
  return json::Value();
}

// {"op":"call","control":"a","name":"GetTransferStatus","args":[7]}
OpResult Call(HostSession& session, const json::Value& request) {
  std::vector<Variant> args;
  if (const json::Value* list = request.Find(u"args")) {
    if (list->kind() != Kind::kArray) return BadRequest(u"\"args\" must be an array");
    args.reserve(list->as_array().size());
    for (size_t i = 0; i < list->as_array().size(); ++i) {
      std::u16string why;
      auto v = JsonToVariant(list->as_array()[i], &why);
      if (!v) return ArgumentMismatch(i, why);
      args.push_back(std::move(*v));
    }
  }
  return InvokeEntry(session, request, InvokeKind::kMethod, args);
}

// {"op":"get","control":"a","name":"User"}
OpResult Get(HostSession& session, const json::Value& request) {
  return InvokeEntry(session, request, InvokeKind::kPropertyGet, {});
}

// {"op":"put","control":"a","name":"User","value":"a/b\\c"}
OpResult Put(HostSession& session, const json::Value& request) {
  const json::Value* value = request.Find(u"value");
  if (!value) return BadRequest(u"the request has no \"value\"");
  std::u16string why;
  auto v = JsonToVariant(*value, &why);
  if (!v) return ArgumentMismatch(0, why);
  return InvokeEntry(session, request, InvokeKind::kPropertyPut, {std::move(*v)});
}

// {"op":"save","control":"a"} → the property bag the host would keep, in write order.
OpResult Save(HostSession& session, const json::Value& request) {
  auto target = TargetControl(session, request);
  if (auto* f = std::get_if<OpFailure>(&target)) return std::move(*f);
  JsonPropertyBag bag;
  std::get<CQSFileTransferCtrl*>(target)->SaveProperties(bag);
  return bag.ToJson();
}

// {"op":"destroy","control":"a"}
OpResult Destroy(HostSession& session, const json::Value& request) {
  auto name = RequiredString(request, u"control");
  if (auto* f = std::get_if<OpFailure>(&name)) return std::move(*f);
  const std::u16string& n = std::get<std::u16string>(name);
  if (!session.DestroyControl(n)) return BadRequest(u"no control named \"" + n + u"\"");
  return json::Value();
}

// {"op":"quit"}: answered, then the session ends.
OpResult Quit(HostSession& session, const json::Value& /*request*/) {
  session.Quit();
  return json::Value();
}

// One line per op, by the name it has in "op".
constexpr HostOp kOps[] = {
    {u"create", Create}, {u"call", Call},       {u"get", Get},         {u"put", Put},
    {u"save", Save},     {u"destroy", Destroy}, {u"safety", SafetyOp}, {u"dialogs", DialogsOp},
    {u"shown", ShownOp}, {u"quit", Quit},
};

}  // namespace

std::span<const HostOp> HostOps() { return kOps; }

}  // namespace qs::app
