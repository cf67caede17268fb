#include "config/reg_file.h"

#include <optional>

#include "base/text.h"
#include "config/reg_values.h"

namespace qs {

namespace {

constexpr std::u16string_view kHive = u"HKEY_CURRENT_USER";
constexpr std::u16string_view kHiveShort = u"HKCU";
constexpr std::u16string_view kOtherHives[] = {u"HKLM", u"HKCR", u"HKU", u"HKCC"};
constexpr size_t kHexLineWidth = 76;  // where exported hex data wraps, as regedit does

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}
std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}
std::u16string_view Trim(std::u16string_view s) { return TrimRight(TrimLeft(s)); }

bool StartsWithIgnoreCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

// If `s` starts with the hive name `hive` as a whole component, the rest after its "\".
std::optional<std::u16string_view> StripHive(std::u16string_view s, std::u16string_view hive) {
  if (!StartsWithIgnoreCase(s, hive)) return std::nullopt;
  if (s.size() == hive.size()) return std::u16string_view();
  if (s[hive.size()] != u'\\' || s.size() == hive.size() + 1) return std::nullopt;
  return s.substr(hive.size() + 1);
}

// The hive-relative path, or the reason the text names no key of the user's hive.
std::optional<std::u16string> RelativePath(std::u16string_view text, std::string& why) {
  std::u16string_view rest = text;
  if (auto r = StripHive(text, kHive)) {
    rest = *r;
  } else if (auto s = StripHive(text, kHiveShort)) {
    rest = *s;
  } else {
    bool other = StartsWithIgnoreCase(text, u"HKEY_");
    for (auto hive : kOtherHives) other = other || StripHive(text, hive).has_value();
    if (other) {
      why = "only keys of HKEY_CURRENT_USER can be used";
      return std::nullopt;
    }
  }
  // Components are non-empty and at most 255 characters long, and at most 512 of them.
  size_t start = 0;
  size_t depth = 0;
  while (!rest.empty()) {
    if (++depth > platform::kMaxKeyDepth) {
      why = "the key path is deeper than 512 levels";
      return std::nullopt;
    }
    size_t end = rest.find(u'\\', start);
    if (end == std::u16string_view::npos) end = rest.size();
    if (end == start) {
      why = "the key path has an empty component";
      return std::nullopt;
    }
    if (end - start > platform::kMaxKeyNameLength) {
      why = "a key name is longer than 255 characters";
      return std::nullopt;
    }
    if (end == rest.size()) break;
    start = end + 1;
  }
  return std::u16string(rest);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A hexadecimal number of 1 to `max_digits` digits and nothing else.
std::optional<uint32_t> ParseHexNumber(std::u16string_view s, size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  uint32_t n = 0;
  for (char16_t c : s) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    n = (n << 4) | static_cast<uint32_t>(d);
  }
  return n;
}

// --- Decoding -------------------------------------------------------------------------------

struct Decoded {
  std::vector<std::u16string> lines;
  size_t error_line = 0;
  std::string error;
};

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

Decoded Decode(std::string_view bytes) {
  Decoded d;
  if (bytes.starts_with("\xFF\xFE")) {
    bytes.remove_prefix(2);
    if (bytes.size() % 2 != 0) {
      d.error_line = 1;
      d.error = "the UTF-16 file ends in the middle of a character";
      return d;
    }
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                           (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    }
    d.lines = SplitLines(text);
    return d;
  }
  if (bytes.starts_with("\xFE\xFF")) {
    d.error_line = 1;
    d.error = "UTF-16 big-endian files are not supported; use UTF-8 or UTF-16LE";
    return d;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  // Malformed UTF-8 would turn into replacement characters inside values: refuse it instead.
  // Converted line by line, so that the file's text is never held twice.
  size_t line_no = 1;
  for (size_t start = 0; start <= bytes.size(); ++line_no) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    std::u16string text = FromUtf8(line);
    if (ToUtf8(text) != line) {
      d.error_line = line_no;
      d.error = "the line is not valid UTF-8";
      d.lines.clear();
      return d;
    }
    if (!text.empty() && text.back() == u'\r') text.pop_back();
    d.lines.push_back(std::move(text));
    start = end + 1;
  }
  return d;
}

// --- Parsing --------------------------------------------------------------------------------

class Parser {
 public:
  explicit Parser(std::vector<std::u16string> lines) : lines_(std::move(lines)) {}

  RegFileParse Run() {
    bool header_seen = false;
    for (index_ = 0; index_ < lines_.size() && result_.ok(); ++index_) {
      const std::u16string_view line = Trim(lines_[index_]);
      if (line.empty() || line.front() == u';') continue;
      if (!header_seen) {
        if (ToUtf8(line) != kRegFileHeader) {
          Fail("expected the header \"" + std::string(kRegFileHeader) + "\"");
        }
        header_seen = true;
      } else if (line.front() == u'[') {
        ParseKeyLine(line);
      } else {
        ParseValueLine(line);
      }
    }
    if (result_.ok() && !header_seen) {
      index_ = 0;
      Fail("the file is empty");
    }
    if (!result_.ok()) result_.ops.clear();
    return std::move(result_);
  }

 private:
  void Fail(std::string message) {
    if (!result_.ok()) return;
    result_.error_line = index_ + 1;
    result_.error = std::move(message);
  }

  void ParseKeyLine(std::u16string_view line) {
    const size_t close = line.rfind(u']');
    if (close == std::u16string_view::npos || close + 1 != line.size()) {
      return Fail("a key line must end with \"]\"");
    }
    std::u16string_view name = line.substr(1, close - 1);
    const bool remove = !name.empty() && name.front() == u'-';
    if (remove) name.remove_prefix(1);
    std::string why;
    auto path = RelativePath(name, why);
    if (!path) return Fail(why);
    if (remove && path->empty()) return Fail("the hive itself cannot be deleted");
    key_ = *path;
    key_deleted_ = remove;
    result_.ops.push_back(
        {remove ? platform::SettingsOp::Kind::kDeleteKey : platform::SettingsOp::Kind::kCreateKey,
         *path,
         {},
         {}});
  }

  // A quoted string starting at s[pos] == '"'; only \\ and \" are escapes. Leaves pos after the
  // closing quote.
  std::optional<std::u16string> ParseQuoted(std::u16string_view s, size_t& pos) {
    std::u16string out;
    for (++pos; pos < s.size(); ++pos) {
      const char16_t c = s[pos];
      if (c == u'"') {
        ++pos;
        return out;
      }
      if (c == u'\\') {
        if (pos + 1 >= s.size() || (s[pos + 1] != u'\\' && s[pos + 1] != u'"')) {
          Fail("only \\\\ and \\\" are escapes inside quotes");
          return std::nullopt;
        }
        ++pos;
      }
      out.push_back(s[pos]);
    }
    Fail("a quoted string is not closed");
    return std::nullopt;
  }

  void ParseValueLine(std::u16string_view line) {
    if (!key_) return Fail("a value must follow a [key] line");
    if (key_deleted_) return Fail("a deleted key cannot take values");
    size_t pos = 0;
    std::u16string name;
    if (line.front() == u'@') {
      pos = 1;
    } else if (line.front() == u'"') {
      auto quoted = ParseQuoted(line, pos);
      if (!quoted) return;
      if (quoted->size() > platform::kMaxValueNameLength) return Fail("the value name is too long");
      name = std::move(*quoted);
    } else {
      return Fail("expected a [key], a \"name\"= or @= line");
    }
    std::u16string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != u'=') return Fail("expected \"=\" after the value name");
    rest = TrimLeft(rest.substr(1));

    platform::SettingsOp op{platform::SettingsOp::Kind::kSetValue, *key_, std::move(name), {}};
    if (rest == u"-") {
      op.kind = platform::SettingsOp::Kind::kDeleteValue;
    } else if (!rest.empty() && rest.front() == u'"') {
      size_t p = 0;
      auto text = ParseQuoted(rest, p);
      if (!text) return;
      if (!Trim(rest.substr(p)).empty()) return Fail("unexpected text after the closing quote");
      if (text->size() >= platform::kMaxImportedValueBytes / 2) {
        return Fail("the value is larger than 64 MiB");
      }
      op.value = {platform::kRegSz, SzData(*text)};
    } else if (StartsWithIgnoreCase(rest, u"dword:")) {
      auto n = ParseHexNumber(rest.substr(6), 8);
      if (!n) return Fail("dword: takes 1 to 8 hexadecimal digits");
      op.value.type = platform::kRegDword;
      for (int i = 0; i < 4; ++i) op.value.data.push_back(static_cast<uint8_t>(*n >> (8 * i)));
    } else if (StartsWithIgnoreCase(rest, u"hex:")) {
      op.value.type = platform::kRegBinary;
      if (!ParseHexList(rest.substr(4), op.value.data)) return;
    } else if (StartsWithIgnoreCase(rest, u"hex(")) {
      const size_t close = rest.find(u"):");
      auto type = close == std::u16string_view::npos ? std::nullopt
                                                     : ParseHexNumber(rest.substr(4, close - 4), 8);
      if (!type) return Fail("expected hex(TYPE): with TYPE in hexadecimal");
      op.value.type = *type;
      if (!ParseHexList(rest.substr(close + 2), op.value.data)) return;
    } else {
      return Fail("unknown value data; expected \"text\", dword:, hex:, hex(TYPE): or -");
    }
    result_.ops.push_back(std::move(op));
  }

  // Comma-separated bytes of two hex digits; a "\" at the end of a line continues the list on
  // the next line. Errors name the line they are on.
  bool ParseHexList(std::u16string_view segment, std::vector<uint8_t>& out) {
    const size_t first_line = index_;
    while (true) {
      segment = Trim(segment);
      const bool more = !segment.empty() && segment.back() == u'\\';
      if (more) segment = TrimRight(segment.substr(0, segment.size() - 1));
      size_t start = 0;
      while (!segment.empty()) {
        size_t comma = segment.find(u',', start);
        const bool last = comma == std::u16string_view::npos;
        if (last) comma = segment.size();
        const std::u16string_view token = Trim(segment.substr(start, comma - start));
        if (token.empty() && !(last && more)) {
          Fail("an empty byte in hex data");
          return false;
        }
        if (!token.empty()) {
          auto byte = ParseHexNumber(token, 2);
          if (!byte) {
            Fail("hex data takes bytes of two hexadecimal digits separated by commas");
            return false;
          }
          if (out.size() >= platform::kMaxImportedValueBytes) {
            index_ = first_line;  // reported on the line the value begins on
            Fail("the value is larger than 64 MiB");
            return false;
          }
          out.push_back(static_cast<uint8_t>(*byte));
        }
        if (last) break;
        start = comma + 1;
      }
      if (!more) return true;
      if (++index_ >= lines_.size()) {
        --index_;
        Fail("hex data continues past the end of the file");
        return false;
      }
      segment = lines_[index_];
    }
  }

  std::vector<std::u16string> lines_;
  size_t index_ = 0;
  RegFileParse result_;
  std::optional<std::u16string> key_;  // the current [key]; none before the first
  bool key_deleted_ = false;
};

// --- Writing --------------------------------------------------------------------------------

void AppendEscaped(std::string& out, std::u16string_view text) {
  out.push_back('"');
  for (char c : ToUtf8(text)) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// The text of REG_SZ data if the quoted form carries it exactly: whole UTF-16 units, one final
// NUL and no other, no line break, no unpaired surrogate.
std::optional<std::u16string> QuotableText(std::span<const uint8_t> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  std::u16string text = TextFromData(data);
  if (2 * (text.size() + 1) != data.size()) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') return std::nullopt;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return text;
}

void AppendHex(std::string& out, uint32_t type, std::span<const uint8_t> data, size_t column) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string tag = "hex";
  if (type != platform::kRegBinary) {
    std::string n;
    for (uint32_t t = type;; t >>= 4) {
      n.insert(n.begin(), kDigits[t & 0xF]);
      if (t < 16) break;
    }
    tag += "(" + n + ")";
  }
  tag += ":";
  out += tag;
  column += tag.size();
  for (size_t i = 0; i < data.size(); ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0xF]);
    column += 2;
    if (i + 1 < data.size()) {
      out.push_back(',');
      if (++column > kHexLineWidth) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
}

ErrorOr<void> ExportKey(std::u16string_view path, std::string& out) {
  auto key = platform::SettingsKey::Open(path);
  if (!key.ok()) return key.error();
  path = key->path();  // as the store spells it
  const auto values = QS_TRY(key->Values());
  const auto subkeys = QS_TRY(key->SubKeys());
  out += "[" + ToUtf8(FullKeyName(path)) + "]\n";
  for (const auto& value : values) out += FormatRegValue(value) + "\n";
  out += "\n";
  for (const auto& name : subkeys) {
    std::u16string child(path);
    if (!child.empty()) child += u'\\';
    child += name;
    auto exported = ExportKey(child, out);
    // A subkey deleted by another writer since the listing is simply no longer there.
    if (!exported.ok() && !exported.error().Is(ErrorCode::kFileNotFound)) return exported;
  }
  return {};
}

}  // namespace

RegFileParse ParseRegFile(std::string_view bytes) {
  Decoded decoded = Decode(bytes);
  if (decoded.error_line != 0) {
    RegFileParse failed;
    failed.error_line = decoded.error_line;
    failed.error = std::move(decoded.error);
    return failed;
  }
  return Parser(std::move(decoded.lines)).Run();
}

ErrorOr<std::u16string> HiveRelativeKeyPath(std::u16string_view text) {
  std::string why;
  auto path = RelativePath(text, why);
  if (!path) return ErrorCode::kInvalidParameter;
  return std::move(*path);
}

std::u16string FullKeyName(std::u16string_view path) {
  std::u16string name(kHive);
  if (!path.empty()) name.append(u"\\").append(path);
  return name;
}

std::string FormatRegValue(const platform::NamedRegValue& value) {
  std::string line;
  if (value.name.empty()) {
    line = "@";
  } else {
    AppendEscaped(line, value.name);
  }
  line += "=";
  const auto& data = value.value.data;
  if (value.value.type == platform::kRegSz) {
    if (auto text = QuotableText(data)) {
      AppendEscaped(line, *text);
      return line;
    }
  }
  if (value.value.type == platform::kRegDword && data.size() == 4) {
    static constexpr char kDigits[] = "0123456789abcdef";
    line += "dword:";
    for (int i = 3; i >= 0; --i) {
      line.push_back(kDigits[data[static_cast<size_t>(i)] >> 4]);
      line.push_back(kDigits[data[static_cast<size_t>(i)] & 0xF]);
    }
    return line;
  }
  AppendHex(line, value.value.type, data, line.size());
  return line;
}

ErrorOr<std::string> ExportRegFile(std::u16string_view path) {
  std::string out(kRegFileHeader);
  out += "\n\n";
  QS_TRY_VOID(ExportKey(path, out));
  return out;
}

}  // namespace qs
