// The self-describing value that crosses the method table.
//
// Results are one of: empty, a 32-bit signed integer, a boolean, a string (a null string is
// distinct from the empty one but reads as empty), or a string list (zero entries is an array
// of zero elements, never empty). As arguments, script hosts may also pass arrays of variants.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qs {

class Variant;

struct NullString {
  bool operator==(const NullString&) const = default;
};
struct StringList {
  std::vector<std::u16string> items;
  bool operator==(const StringList&) const = default;
};
struct VariantArray {
  std::vector<Variant> items;
  bool operator==(const VariantArray&) const;
};

class Variant {
 public:
  enum class Type { kEmpty, kInt32, kBool, kNullString, kString, kStringList, kArray };

  Variant() = default;
  static Variant Int(int32_t v) { return Variant(v); }
  static Variant Bool(bool v) { return Variant(v); }
  static Variant String(std::u16string v) { return Variant(std::move(v)); }
  static Variant Null() { return Variant(NullString{}); }
  static Variant List(std::vector<std::u16string> v) { return Variant(StringList{std::move(v)}); }
  static Variant Array(std::vector<Variant> v) { return Variant(VariantArray{std::move(v)}); }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool is_empty() const { return type() == Type::kEmpty; }
  bool is_string() const { return type() == Type::kString || type() == Type::kNullString; }

  int32_t as_int() const { return std::get<int32_t>(v_); }
  bool as_bool() const { return std::get<bool>(v_); }
  // A null string reads as empty.
  std::u16string as_string() const {
    return type() == Type::kString ? std::get<std::u16string>(v_) : std::u16string();
  }
  const std::vector<std::u16string>& as_list() const { return std::get<StringList>(v_).items; }
  const std::vector<Variant>& as_array() const { return std::get<VariantArray>(v_).items; }

  bool operator==(const Variant& other) const = default;

 private:
  explicit Variant(int32_t v) : v_(v) {}
  explicit Variant(bool v) : v_(v) {}
  explicit Variant(NullString v) : v_(v) {}
  explicit Variant(std::u16string v) : v_(std::move(v)) {}
  explicit Variant(StringList v) : v_(std::move(v)) {}
  explicit Variant(VariantArray v) : v_(std::move(v)) {}

  std::variant<std::monostate, int32_t, bool, NullString, std::u16string, StringList, VariantArray>
      v_;
};

inline bool VariantArray::operator==(const VariantArray& other) const {
  return items == other.items;
}

}  // namespace qs
