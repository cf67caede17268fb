// Macro expansion in path templates, which pages and administrators write: no input makes it
// fail, text without references comes back as it is, and a path template never keeps a "\".
// Input: three lines "name=value" defining macros, then the text to expand.
#include "fuzz_input.h"
#include "workdir/macro_expander.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  constexpr size_t kDefinitions = 3;
  const auto pieces = fuzz::Pieces(fuzz::Bytes(data, size), kDefinitions + 1);
  const std::u16string text = fuzz::Utf16(pieces[kDefinitions]);

  MacroExpander expander;
  QSFT_FUZZ_CHECK(expander.Expand(text) == text);  // nothing defined yet
  for (size_t i = 0; i < kDefinitions; ++i) {
    const std::u16string definition = fuzz::Utf16(pieces[i]);
    const size_t equals = definition.find(u'=');
    if (equals == std::u16string::npos) continue;
    expander.AddMacro(std::u16string_view(definition).substr(0, equals),
                      std::u16string_view(definition).substr(equals + 1));
  }

  const std::u16string expanded = expander.Expand(text);
  if (text.find(u'%') == std::u16string::npos) QSFT_FUZZ_CHECK(expanded == text);

  std::u16string path = ExpandPathTemplate(expander, text);
  QSFT_FUZZ_CHECK(path.find(u'\\') == std::u16string::npos);
  std::u16string slashed = expanded;
  for (char16_t& c : slashed) {
    if (c == u'\\') c = u'/';
  }
  QSFT_FUZZ_CHECK(path == slashed);

  // A copy expands alike.
  const MacroExpander copy = expander;
  QSFT_FUZZ_CHECK(copy.Expand(text) == expanded);
  return 0;
}
