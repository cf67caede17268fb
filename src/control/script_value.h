// The typed values that cross the method table, and the conversion of script arguments to them.
//
// Script passes self-describing values; each parameter has one declared type, and the dispatch
// layer converts the argument to it before the handler runs, the way script hosts' dispatch
// layers do. An argument that cannot be converted refuses the whole call.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/variant.h"

namespace qs {

// Declared types of parameters and results.
enum class ValueType : uint8_t {
  kNone,  // results only: the method gives nothing
  kString,
  kBool,
  kUInt32,
  kVariant,  // taken and given as it is
};

// A string parameter or result. The null string reads as empty but stays distinguishable:
// some methods treat a null argument as invalid, and a handler with nothing to give returns it.
class ScriptString {
 public:
  ScriptString() = default;                                                    // the null string
  ScriptString(std::u16string text) : text_(std::move(text)), null_(false) {}  // NOLINT
  ScriptString(const char16_t* text) : text_(text), null_(false) {}            // NOLINT
  static ScriptString Null() { return ScriptString(); }

  bool is_null() const { return null_; }
  // The text; empty for the null string.
  const std::u16string& str() const { return text_; }
  Variant ToVariant() const { return null_ ? Variant::Null() : Variant::String(text_); }

  bool operator==(const ScriptString&) const = default;

 private:
  std::u16string text_;
  bool null_ = true;
};

// One converted argument: the alternative matches the parameter's declared type.
using ArgValue = std::variant<ScriptString, bool, uint32_t, Variant>;

struct ArgumentConversion {
  ArgValue value;
  uint32_t hresult = 0;  // 0, or why the argument was refused
  bool ok() const { return hresult == 0; }
};

// Converts `arg` to `type` (not kNone):
// - string: text as it is; null stays null; an empty value is ""; a number in decimal; a
//   boolean as "-1" or "0" (the dispatch layer's own rendering of true and false).
// - boolean: a boolean as it is; a number or numeric text: non-zero is true; the texts "true"
//   and "false" in any letter case; an empty value is false.
// - unsigned 32-bit: a number 0 or above; numeric text from 0 to 4294967295 (a number too large
//   for script's 32-bit integers arrives as text); a boolean as its all-bits-set or zero value;
//   an empty value is 0. A number, or numeric text, that is negative or above 4294967295
//   (however many digits it has): the overflow code.
// - variant: anything, unchanged.
// Everything else (lists and arrays where a scalar is declared, text that is not a number) is a
// type mismatch.
ArgumentConversion ConvertArgument(const Variant& arg, ValueType type);

// The converted arguments of one call, in parameter order. Handlers read each by its declared
// type; asking for another type or a missing index is a fault in the method table, raised as an
// invalid-argument failure.
class ScriptArgs {
 public:
  ScriptArgs() = default;
  explicit ScriptArgs(std::vector<ArgValue> values) : values_(std::move(values)) {}

  const ScriptString& String(size_t index) const;
  bool Bool(size_t index) const;
  uint32_t UInt32(size_t index) const;
  const Variant& Any(size_t index) const;
  size_t size() const { return values_.size(); }

 private:
  template <typename T>
  const T& Get(size_t index) const;

  std::vector<ArgValue> values_;
};

}  // namespace qs
