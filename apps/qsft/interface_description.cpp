#include "qsft/interface_description.h"

#include <string>

#include "base/text.h"
#include "control/identity.h"
#include "control/method_table.h"

namespace qs::app {

namespace {

std::u16string_view TypeName(ValueType type) {
  switch (type) {
    case ValueType::kNone: return u"void";
    case ValueType::kString: return u"string";
    case ValueType::kBool: return u"boolean";
    case ValueType::kUInt32: return u"uint32";
    case ValueType::kVariant: return u"variant";
  }
  return u"void";
}

json::Value Text(std::u16string_view s) { return json::Value::String(std::u16string(s)); }

json::Value Member(const MethodEntry& entry) {
  json::Array params;
  for (const ParamInfo& p : entry.params) {
    params.push_back(
        json::Value::MakeObject({{u"name", Text(p.name)}, {u"type", Text(TypeName(p.type))}}));
  }
  return json::Value::MakeObject({
      {u"dispid", json::Value::Integer(entry.dispid)},
      {u"name", Text(entry.described_name)},
      {u"kind", Text(entry.is_property() ? u"property" : u"method")},
      {u"params", json::Value::MakeArray(std::move(params))},
      {u"result", Text(TypeName(entry.result))},
  });
}

}  // namespace

json::Value InterfaceDescription() {
  json::Array members;
  for (const MethodEntry& entry : MethodTable::Entries()) members.push_back(Member(entry));
  const std::u16string version =
      FromAscii(std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor));
  return json::Value::MakeObject({
      {u"library", json::Value::MakeObject({
                       {u"name", Text(kTypeLibName)},
                       {u"id", Text(kTypeLibId.ToString())},
                       {u"version", Text(version)},
                   })},
      {u"class", json::Value::MakeObject({
                     {u"id", Text(kControlClassId.ToString())},
                     {u"progid", Text(kControlProgId)},
                     {u"name", Text(kControlTypeName)},
                 })},
      {u"interfaces", json::Value::MakeArray({
                          json::Value::MakeObject({
                              {u"name", Text(kDispatchInterfaceName)},
                              {u"id", Text(kIidDispatchInterface.ToString())},
                              {u"description", Text(kDispatchInterfaceDoc)},
                              {u"kind", Text(u"dispatch")},
                              {u"members", json::Value::MakeArray(std::move(members))},
                          }),
                          json::Value::MakeObject({
                              {u"name", Text(kEventInterfaceName)},
                              {u"id", Text(kIidEventInterface.ToString())},
                              {u"description", Text(kEventInterfaceDoc)},
                              {u"kind", Text(u"events")},
                              {u"members", json::Value::MakeArray({})},
                          }),
                      })},
  });
}

}  // namespace qs::app
