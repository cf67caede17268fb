// How values of the method table look in the host's JSON.
//
// Results: empty → null; 32-bit integer → integer; boolean → true/false; string (a null string
// reads as empty) → string; string list → array of strings; array → array.
// Arguments are converted the way a script engine hands them to a dispatch layer: null is the
// null string, a 32-bit integer is an integer, a larger whole number is its decimal text (which
// an unsigned parameter converts up to 4294967295), an array becomes an array of variants;
// objects and numbers with a fraction or an exponent have no variant form and are refused.
#pragma once

#include <optional>
#include <string>

#include "base/variant.h"
#include "qsft/json.h"

namespace qs::app {

json::Value VariantToJson(const Variant& value);

// The variant for a JSON argument, or nothing with the reason in `why`.
std::optional<Variant> JsonToVariant(const json::Value& value, std::u16string* why);

}  // namespace qs::app
