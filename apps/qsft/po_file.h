// Reading the texts of a language pack from a gettext .po file, as translators keep them.
//
// Each entry's msgctxt is the text's numeric id (0 to 65535) and its msgstr the text. The header
// (empty msgid, no msgctxt), untranslated entries (empty msgstr) and fuzzy entries are left out,
// as msgfmt leaves them out. Anything else that cannot become a pack text is an error that names
// the line: an msgctxt that is no id, an id given twice, a text longer than packs may carry,
// plural forms, a malformed line or string.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qs::app {

struct PoTexts {
  std::map<uint16_t, std::u16string> texts;
  std::string error;  // "NAME:LINE: what"; empty on success
};

// `name` only labels the errors.
PoTexts ReadPoTexts(std::string_view source, std::string_view name);

}  // namespace qs::app
