#include "workdir/macro_expander.h"

#include "base/text.h"

namespace qs {

void MacroExpander::AddMacro(std::u16string_view name, std::u16string_view value) {
  macros_.insert_or_assign(ToLowerAscii(name), std::u16string(value));
}

std::u16string MacroExpander::Expand(std::u16string_view text) const {
  std::u16string result(text);
  size_t open = result.find(u'%');
  while (open != std::u16string::npos) {
    const size_t close = result.find(u'%', open + 1);
    if (close == std::u16string::npos) break;
    const auto found =
        macros_.find(ToLowerAscii(std::u16string_view(result).substr(open + 1, close - open - 1)));
    if (found != macros_.end()) {
      result.replace(open, close - open + 1, found->second);
      open = result.find(u'%', open + found->second.size());
    } else {
      open = result.find(u'%', close + 1);
    }
  }
  return result;
}

std::u16string ExpandPathTemplate(const MacroExpander& expander,
                                  std::u16string_view path_template) {
  std::u16string path = expander.Expand(path_template);
  for (char16_t& c : path) {
    if (c == u'\\') c = u'/';
  }
  return path;
}

}  // namespace qs
