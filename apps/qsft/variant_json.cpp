#include "qsft/variant_json.h"

#include <cstdint>
#include <limits>

#include "base/text.h"

namespace qs::app {

json::Value VariantToJson(const Variant& value) {
  switch (value.type()) {
    case Variant::Type::kEmpty: return json::Value();
    case Variant::Type::kInt32: return json::Value::Integer(value.as_int());
    case Variant::Type::kBool: return json::Value::Bool(value.as_bool());
    case Variant::Type::kNullString:
    case Variant::Type::kString: return json::Value::String(value.as_string());
    case Variant::Type::kStringList: {
      json::Array items;
      items.reserve(value.as_list().size());
      for (const auto& s : value.as_list()) items.push_back(json::Value::String(s));
      return json::Value::MakeArray(std::move(items));
    }
    case Variant::Type::kArray: {
      json::Array items;
      items.reserve(value.as_array().size());
      for (const auto& v : value.as_array()) items.push_back(VariantToJson(v));
      return json::Value::MakeArray(std::move(items));
    }
  }
  return json::Value();
}

std::optional<Variant> JsonToVariant(const json::Value& value, std::u16string* why) {
  switch (value.kind()) {
    case json::Value::Kind::kNull: return Variant::Null();
    case json::Value::Kind::kBool: return Variant::Bool(value.as_bool());
    case json::Value::Kind::kString: return Variant::String(value.as_string());
    case json::Value::Kind::kNumber: {
      auto n =
          value.AsInteger(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
      if (n) return Variant::Int(static_cast<int32_t>(*n));
      // A whole number beyond 32 bits is a script number the variant holds as its decimal
      // text, as script hosts hand it on: an unsigned parameter takes up to 4294967295 and
      // refuses more as an overflow. JSON writes whole numbers canonically (no "+", no
      // leading zeros), so the literal is that text.
      const std::string& text = value.number_text();
      if (text.find_first_of(".eE") == std::string::npos) return Variant::String(FromAscii(text));
      *why = u"the number " + FromAscii(text) + u" is not an integer";
      return std::nullopt;
    }
    case json::Value::Kind::kArray: {
      std::vector<Variant> items;
      items.reserve(value.as_array().size());
      for (const auto& item : value.as_array()) {
        auto v = JsonToVariant(item, why);
        if (!v) return std::nullopt;
        items.push_back(std::move(*v));
      }
      return Variant::Array(std::move(items));
    }
    case json::Value::Kind::kObject: *why = u"an object has no variant form"; return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace qs::app
