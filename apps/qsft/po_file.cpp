#include "qsft/po_file.h"

#include <charconv>
#include <optional>
#include <vector>

#include "base/text.h"
#include "resources/language_pack.h"

namespace qs::app {

namespace {

struct Field {
  std::string value;
  int line = 0;
  bool present = false;
};

struct Entry {
  Field context, id, plural, text;
  Field plural_form;  // the latest msgstr[N]; only its presence matters
  bool fuzzy = false;
  bool plural_text = false;  // msgstr[N]
  bool empty() const { return !context.present && !id.present && !text.present; }
};

// The contents of a C-style quoted string that is all of `s` (after blanks); nothing when
// malformed.
std::optional<std::string> Unquote(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::nullopt;
  s = s.substr(1, s.size() - 2);
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') return std::nullopt;  // an unescaped quote inside
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i]) {
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case 'r': out.push_back('\r'); break;
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      default: return std::nullopt;
    }
  }
  return out;
}

std::string At(std::string_view name, int line, const std::string& what) {
  return std::string(name) + ":" + std::to_string(line) + ": " + what;
}

class Reader {
 public:
  explicit Reader(std::string_view name) : name_(name) {}

  // Takes one finished entry; false with `error` set when it cannot become a text.
  bool Finish(Entry& entry, PoTexts& out) {
    Entry e = std::move(entry);
    entry = Entry{};
    if (e.empty()) return true;
    const int line = e.context.present ? e.context.line : e.id.present ? e.id.line : e.text.line;
    if (e.plural.present || e.plural_text) {
      out.error = At(name_, line, "plural forms are not supported in language packs");
      return false;
    }
    if (!e.context.present) {
      if (e.id.value.empty()) return true;  // the header
      out.error = At(name_, line, "entry without msgctxt (the text's numeric id)");
      return false;
    }
    uint32_t id = 0;
    const std::string& ctx = e.context.value;
    auto [end, ec] = std::from_chars(ctx.data(), ctx.data() + ctx.size(), id);
    if (ctx.empty() || ec != std::errc() || end != ctx.data() + ctx.size() || id > 0xFFFF) {
      out.error = At(name_, line, "msgctxt \"" + ctx + "\" is not a text id (0 to 65535)");
      return false;
    }
    if (auto first = lines_.find(static_cast<uint16_t>(id)); first != lines_.end()) {
      out.error = At(name_, line,
                     "id " + std::to_string(id) + " is given twice (first at line " +
                         std::to_string(first->second) + ")");
      return false;
    }
    lines_.emplace(static_cast<uint16_t>(id), line);
    if (e.fuzzy || e.text.value.empty()) return true;  // not (yet) translated
    std::u16string text = FromUtf8(e.text.value);
    if (text.size() > kMaxPackTextLength) {
      out.error =
          At(name_, e.text.line,
             "text of id " + std::to_string(id) + " is " + std::to_string(text.size()) +
                 " UTF-16 units long; packs carry at most " + std::to_string(kMaxPackTextLength));
      return false;
    }
    out.texts.emplace(static_cast<uint16_t>(id), std::move(text));
    return true;
  }

 private:
  std::string_view name_;
  std::map<uint16_t, int> lines_;
};

}  // namespace

PoTexts ReadPoTexts(std::string_view source, std::string_view name) {
  PoTexts out;
  Reader reader(name);
  Entry entry;
  Field* last = nullptr;  // the field a continuation line extends
  bool next_fuzzy = false;
  int line_number = 0;
  size_t pos = 0;
  while (pos < source.size()) {
    size_t nl = source.find('\n', pos);
    if (nl == std::string_view::npos) nl = source.size();
    std::string_view line = source.substr(pos, nl - pos);
    pos = nl + 1;
    ++line_number;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line == "\r") continue;
    if (line.front() == '#') {
      if (line.starts_with("#,") && line.find("fuzzy") != std::string_view::npos) next_fuzzy = true;
      continue;
    }
    if (line.front() == '"') {
      auto value = Unquote(line);
      if (!last || !value) {
        out.error = At(name, line_number, last ? "malformed string" : "string outside an entry");
        return out;
      }
      last->value += *value;
      continue;
    }
    const size_t space = line.find_first_of(" \t");
    const std::string_view keyword = line.substr(0, space);
    auto value = space == std::string_view::npos ? std::nullopt : Unquote(line.substr(space + 1));
    Field* field = nullptr;
    const bool starts_entry =
        keyword == "msgctxt" || (keyword == "msgid" && !entry.context.present);
    if (starts_entry && (entry.text.present || entry.plural_text)) {
      if (!reader.Finish(entry, out)) return out;
    }
    if (keyword == "msgctxt") {
      field = &entry.context;
    } else if (keyword == "msgid") {
      field = &entry.id;
    } else if (keyword == "msgid_plural") {
      field = &entry.plural;
    } else if (keyword == "msgstr") {
      field = &entry.text;
    } else if (keyword.starts_with("msgstr[")) {
      entry.plural_text = true;
      entry.plural_form = Field{};
      field = &entry.plural_form;
    } else {
      out.error = At(name, line_number, "unknown keyword \"" + std::string(keyword) + "\"");
      return out;
    }
    if (!value) {
      out.error = At(name, line_number, "malformed string");
      return out;
    }
    if (field->present) {
      out.error = At(name, line_number, std::string(keyword) + " given twice in one entry");
      return out;
    }
    if (starts_entry) {
      entry.fuzzy = next_fuzzy;
      next_fuzzy = false;
    }
    *field = Field{*std::move(value), line_number, true};
    last = field;
  }
  if (!reader.Finish(entry, out)) return out;
  return out;
}

}  // namespace qs::app
