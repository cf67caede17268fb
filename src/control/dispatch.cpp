// The one entry point of every script call.
//
// Order of work: find the entry, check the number of arguments, convert each argument to its
// declared type, and only then run the handler. A refusal at any step runs no handler. A
// failure raised inside the handler ends the call with its code; nothing is thrown out of here.
#include "base/error_codes.h"
#include "base/text.h"
#include "control/control.h"
#include "control/method_table.h"
#include "control/script_error.h"

namespace qs {

namespace {

std::u16string Describe(uint32_t code) {
  switch (code) {
    case hresult::kUnknownName: return u"Unknown name.";
    case hresult::kMemberNotFound: return u"Member not found.";
    case hresult::kBadParamCount: return u"Invalid number of parameters.";
    case hresult::kTypeMismatch: return u"Type mismatch.";
    case hresult::kOverflow: return u"Out of present range.";
    case hresult::kOutOfMemory: return u"Out of memory.";
    case hresult::kInvalidArg: return u"The parameter is incorrect.";
    default: return u"Unspecified error.";
  }
}

InvokeResult Refused(uint32_t code) { return InvokeResult{code, Variant(), Describe(code)}; }

// Refused outside the guarded part of a call: even when the description cannot be made, the
// refusal itself still comes back.
InvokeResult RefusedQuietly(uint32_t code) noexcept {
  try {
    return Refused(code);
  } catch (...) {
    return InvokeResult{code, Variant(), {}};
  }
}

InvokeResult RefusedArgument(uint32_t code, size_t index, const ParamInfo& param) {
  InvokeResult result = Refused(code);
  result.message += u" Argument " + FromAscii(std::to_string(index + 1)) + u" (" +
                    std::u16string(param.name) + u").";
  return result;
}

}  // namespace

InvokeResult CQSFileTransferCtrl::Invoke(std::u16string_view name, InvokeKind kind,
                                         const std::vector<Variant>& args) {
  const MethodEntry* entry = MethodTable::FindByName(name);
  if (entry == nullptr) return RefusedQuietly(hresult::kUnknownName);
  return Dispatch(*entry, kind, args);
}

InvokeResult CQSFileTransferCtrl::InvokeById(int32_t dispid, InvokeKind kind,
                                             const std::vector<Variant>& args) {
  const MethodEntry* entry = MethodTable::FindById(dispid);
  if (entry == nullptr) return RefusedQuietly(hresult::kMemberNotFound);
  return Dispatch(*entry, kind, args);
}

InvokeResult CQSFileTransferCtrl::Dispatch(const MethodEntry& entry, InvokeKind kind,
                                           const std::vector<Variant>& args) {
  try {
    if (kind == InvokeKind::kPropertyPut) {
      // Only properties can be written, always with exactly one value.
      if (!entry.is_property()) return Refused(hresult::kMemberNotFound);
      if (args.size() != 1) return Refused(hresult::kBadParamCount);
      ArgumentConversion value = ConvertArgument(args[0], ValueType::kString);
      if (!value.ok()) return Refused(value.hresult);
      entry.put(*this, std::get<ScriptString>(value.value));
      return InvokeResult{};
    }

    // A read of a property, or a call of a method (script hosts call methods with the read and
    // call flags alike, and read properties with either).
    if (args.size() != entry.params.size()) return Refused(hresult::kBadParamCount);
    std::vector<ArgValue> converted;
    converted.reserve(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      ArgumentConversion arg = ConvertArgument(args[i], entry.params[i].type);
      if (!arg.ok()) return RefusedArgument(arg.hresult, i, entry.params[i]);
      converted.push_back(std::move(arg.value));
    }
    return InvokeResult{hresult::kOk, entry.call(*this, ScriptArgs(std::move(converted))), {}};
  } catch (...) {
    return RefusedQuietly(CurrentFailureCode());
  }
}

}  // namespace qs
