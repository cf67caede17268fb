// Macro references in path templates: a name between two percent signs ("%LocalAppData%").
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace qs {

// A set of macros and their values. Copyable: a callee that needs its own expander takes a
// copy, which holds an independent copy of the macros.
class MacroExpander {
 public:
  // Stores `value` under `name`, folded to lower case (ASCII letters only); a second call with
  // the same name replaces the value.
  void AddMacro(std::u16string_view name, std::u16string_view value);

  // `text` with every reference to a defined macro replaced by its value. Names match without
  // regard to ASCII letter case. Inserted values are never expanded again; a reference to an
  // undefined name, and a "%" without a partner, stay as written.
  std::u16string Expand(std::u16string_view text) const;

 private:
  std::map<std::u16string, std::u16string> macros_;
};

// A path template expanded, then with every "\" turned into "/": the templates are written
// with Windows separators (the built-in one and many a page's), the result is a local path.
std::u16string ExpandPathTemplate(const MacroExpander& expander, std::u16string_view path_template);

}  // namespace qs
