// A strict JSON (RFC 8259) reader and writer for the JSON Lines that `qsft host` speaks.
//
// Strings decode straight to UTF-16: \u escapes are kept as the code units they name, so a lone
// surrogate survives a round trip, and the writer escapes it again. Raw text must be valid
// UTF-8 (no overlong forms, no encoded surrogates); anything else is an error, never replaced.
// Numbers keep their literal text; callers ask for an integer of the width they need and get
// nothing when the number is fractional or out of range (1e400 is valid JSON but no integer).
// Object members keep their order; a repeated key is an error, so a request never means two
// things at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qs::json {

class Value;
using Array = std::vector<Value>;
using Member = std::pair<std::u16string, Value>;
using Object = std::vector<Member>;

class Value {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Value() = default;  // null
  static Value Bool(bool b) { return Value(b); }
  static Value Integer(int64_t n);
  // `text` must already be a valid JSON number (the reader guarantees it).
  static Value NumberText(std::string text) { return Value(NumberLiteral{std::move(text)}); }
  static Value String(std::u16string s) { return Value(std::move(s)); }
  static Value MakeArray(Array items) { return Value(std::move(items)); }
  static Value MakeObject(Object members) { return Value(std::move(members)); }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_null() const { return kind() == Kind::kNull; }

  bool as_bool() const { return std::get<bool>(v_); }
  const std::string& number_text() const { return std::get<NumberLiteral>(v_).text; }
  const std::u16string& as_string() const { return std::get<std::u16string>(v_); }
  const Array& as_array() const { return std::get<Array>(v_); }
  const Object& as_object() const { return std::get<Object>(v_); }

  // The number as an integer when it is written without fraction or exponent and lies in
  // [min, max]; nothing otherwise (also for values that are not numbers).
  std::optional<int64_t> AsInteger(int64_t min, int64_t max) const;

  // The member named exactly `key` of an object; null pointer when absent or not an object.
  const Value* Find(std::u16string_view key) const;

  bool operator==(const Value& other) const = default;

 private:
  struct NumberLiteral {
    std::string text;
    bool operator==(const NumberLiteral&) const = default;
  };
  explicit Value(bool b) : v_(b) {}
  explicit Value(NumberLiteral n) : v_(std::move(n)) {}
  explicit Value(std::u16string s) : v_(std::move(s)) {}
  explicit Value(Array a) : v_(std::move(a)) {}
  explicit Value(Object o) : v_(std::move(o)) {}

  std::variant<std::monostate, bool, NumberLiteral, std::u16string, Array, Object> v_;
};

// Bounds on what one document may cost to read. Nesting is bounded so that neither the reader
// nor the destruction of the result can exhaust the stack.
struct Limits {
  size_t max_bytes = 1 << 20;
  size_t max_depth = 64;
};

struct ParseError {
  size_t column = 0;  // 1-based byte offset in the text
  std::string message;
  // "column 12: expected ':' after an object key"
  std::string ToString() const;
};

// Exactly one JSON value, optionally surrounded by whitespace; anything after it is an error.
std::variant<Value, ParseError> Parse(std::string_view text, const Limits& limits = {});

// Compact UTF-8 text without line breaks. Control characters, '"', '\' and lone surrogates are
// escaped; everything else is written as UTF-8.
std::string Write(const Value& value);
void AppendString(std::string& out, std::u16string_view text);

}  // namespace qs::json
