// The control's script interface, declared once as data.
//
// Every entry has its dispatch number, its name, the name under which the published interface
// description lists it (entries 8, 9 and 10 end in "Wrapper" there, a few others start with a
// lower-case letter), its kind, its parameters with their declared types and its result type.
// Script reaches every entry through CQSFileTransferCtrl::Invoke, which looks the entry up,
// converts the arguments and calls the entry's handler.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/variant.h"
#include "control/script_value.h"

namespace qs {

class CQSFileTransferCtrl;

enum class MemberKind : uint8_t { kMethod, kProperty };

struct ParamInfo {
  std::u16string_view name;
  ValueType type;
};

struct MethodEntry {
  int32_t dispid;
  std::u16string_view name;
  std::u16string_view described_name;  // as listed in the interface description
  MemberKind kind;
  std::span<const ParamInfo> params;  // empty for properties
  ValueType result;                   // kString for properties
  // A method's body, or a property's read. Arguments arrive converted to `params`.
  Variant (*call)(CQSFileTransferCtrl& control, const ScriptArgs& args);
  // A property's write, with the value converted to a string; null for methods.
  void (*put)(CQSFileTransferCtrl& control, const ScriptString& value);

  bool is_property() const { return kind == MemberKind::kProperty; }
};

class MethodTable {
 public:
  // All 28 entries, in table order.
  static std::span<const MethodEntry> Entries();
  // By either of its names, whatever the letter case; null when no entry has the name.
  static const MethodEntry* FindByName(std::u16string_view name);
  // Null when no entry has the number. Number 0 is the control's default value, `Url`.
  static const MethodEntry* FindById(int32_t dispid);
};

}  // namespace qs
