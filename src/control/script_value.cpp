#include "control/script_value.h"

#include <charconv>
#include <optional>

#include "base/error_codes.h"
#include "base/text.h"
#include "control/script_error.h"

namespace qs {

namespace {

ArgumentConversion Refuse(uint32_t hresult) { return ArgumentConversion{ScriptString(), hresult}; }
ArgumentConversion Accept(ArgValue value) { return ArgumentConversion{std::move(value), 0}; }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

// A decimal integer with optional sign and surrounding blanks; nothing for any other text or a
// value beyond 64 bits.
std::optional<int64_t> ParseInteger(std::u16string_view text) {
  text = TrimBlanks(text);
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  if (!ascii.empty() && ascii.front() == '+') ascii.erase(0, 1);
  if (ascii.empty()) return std::nullopt;
  int64_t value = 0;
  auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ec != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  return value;
}

ArgumentConversion ToString(const Variant& arg) {
  switch (arg.type()) {
    case Variant::Type::kEmpty: return Accept(ScriptString(u""));
    case Variant::Type::kNullString: return Accept(ScriptString::Null());
    case Variant::Type::kString: return Accept(ScriptString(arg.as_string()));
    case Variant::Type::kInt32:
      return Accept(ScriptString(FromAscii(std::to_string(arg.as_int()))));
    case Variant::Type::kBool: return Accept(ScriptString(arg.as_bool() ? u"-1" : u"0"));
    case Variant::Type::kStringList:
    case Variant::Type::kArray: break;
  }
  return Refuse(hresult::kTypeMismatch);
}

ArgumentConversion ToBool(const Variant& arg) {
  switch (arg.type()) {
    case Variant::Type::kEmpty: return Accept(false);
    case Variant::Type::kBool: return Accept(arg.as_bool());
    case Variant::Type::kInt32: return Accept(arg.as_int() != 0);
    case Variant::Type::kString: {
      const std::u16string whole = arg.as_string();  // the view below must not outlive it
      std::u16string_view text = TrimBlanks(whole);
      if (EqualsIgnoreCase(text, u"true")) return Accept(true);
      if (EqualsIgnoreCase(text, u"false")) return Accept(false);
      if (auto number = ParseInteger(text)) return Accept(*number != 0);
      return Refuse(hresult::kTypeMismatch);
    }
    case Variant::Type::kNullString:
    case Variant::Type::kStringList:
    case Variant::Type::kArray: break;
  }
  return Refuse(hresult::kTypeMismatch);
}

ArgumentConversion ToUInt32(const Variant& arg) {
  switch (arg.type()) {
    case Variant::Type::kEmpty: return Accept(uint32_t{0});
    case Variant::Type::kBool: return Accept(arg.as_bool() ? uint32_t{0xFFFFFFFF} : uint32_t{0});
    case Variant::Type::kInt32:
      if (arg.as_int() < 0) return Refuse(hresult::kOverflow);
      return Accept(static_cast<uint32_t>(arg.as_int()));
    case Variant::Type::kString: {
      std::u16string text = arg.as_string();
      std::optional<int64_t> number = ParseInteger(text);
      if (!number) {
        // All digits but beyond 64 bits is still a number, just far too large (or too small).
        std::u16string_view digits = TrimBlanks(text);
        if (!digits.empty() && (digits.front() == u'-' || digits.front() == u'+')) {
          digits.remove_prefix(1);
        }
        bool all_digits = !digits.empty();
        for (char16_t c : digits) all_digits = all_digits && c >= u'0' && c <= u'9';
        return Refuse(all_digits ? hresult::kOverflow : hresult::kTypeMismatch);
      }
      if (*number < 0 || *number > 0xFFFFFFFFLL) return Refuse(hresult::kOverflow);
      return Accept(static_cast<uint32_t>(*number));
    }
    case Variant::Type::kNullString:
    case Variant::Type::kStringList:
    case Variant::Type::kArray: break;
  }
  return Refuse(hresult::kTypeMismatch);
}

}  // namespace

ArgumentConversion ConvertArgument(const Variant& arg, ValueType type) {
  switch (type) {
    case ValueType::kString: return ToString(arg);
    case ValueType::kBool: return ToBool(arg);
    case ValueType::kUInt32: return ToUInt32(arg);
    case ValueType::kVariant: return Accept(arg);
    case ValueType::kNone: break;
  }
  return Refuse(hresult::kTypeMismatch);
}

template <typename T>
const T& ScriptArgs::Get(size_t index) const {
  if (index >= values_.size()) RaiseInvalidArgument();
  const T* value = std::get_if<T>(&values_[index]);
  if (value == nullptr) RaiseInvalidArgument();
  return *value;
}

const ScriptString& ScriptArgs::String(size_t index) const { return Get<ScriptString>(index); }
bool ScriptArgs::Bool(size_t index) const { return Get<bool>(index); }
uint32_t ScriptArgs::UInt32(size_t index) const { return Get<uint32_t>(index); }
const Variant& ScriptArgs::Any(size_t index) const { return Get<Variant>(index); }

}  // namespace qs
