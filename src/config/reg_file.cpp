#include "config/reg_file.h"

#include <algorithm>
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

std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

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

// --- Reading --------------------------------------------------------------------------------

constexpr size_t kReadPiece = 64 * 1024;
// The longest line that is ever held whole: a key line of the deepest path with the longest
// names, the hive's name, the brackets and some blanks. Comments are skipped and value data is
// read as it comes, whatever their length.
constexpr size_t kMaxHeldLine = platform::kMaxKeyDepth * (platform::kMaxKeyNameLength + 1) + 256;
// Longest text between "=" and ":" (as in "hex(12345678):") and after "dword:".
constexpr size_t kMaxDataTag = 16;
constexpr size_t kMaxDwordText = 64;

// The file's text as UTF-16 units, decoded piece by piece from its source, with the number of
// the line being read. CRLF reads as LF. Where the bytes cannot be decoded the text ends, and
// error() says why once every unit before that point has been taken.
class TextStream {
 public:
  explicit TextStream(const RegFileSource& source) : source_(source) {}

  // The next unit without taking it; nothing at the end of the text.
  std::optional<char16_t> Peek() {
    if (pos_ == units_.size() && !Fill()) return std::nullopt;
    return units_[pos_];
  }
  void Take() {
    if (pos_ == units_.size() && !Fill()) return;
    if (units_[pos_] == u'\n') ++line_;
    ++pos_;
  }
  bool AtLineEnd() {
    const auto c = Peek();
    return !c || *c == u'\n';
  }
  size_t line() const { return line_; }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  // The source's own error, when reading it failed.
  const std::optional<Error>& read_error() const { return read_error_; }

 private:
  enum class Encoding { kUnknown, kUtf8, kUtf16 };

  // Decodes the next piece of the file into units_; false at the end or on an error.
  bool Fill() {
    units_.clear();
    pos_ = 0;
    while (units_.empty()) {
      if (done_) {
        if (!bad_.empty() && error_.empty()) error_ = bad_;
        return false;
      }
      char buffer[kReadPiece];
      auto got = source_(std::span<char>(buffer, sizeof buffer));
      if (!got.ok()) {
        read_error_ = got.error();
        error_ = "the file cannot be read";
        done_ = true;
        return false;
      }
      const bool end = *got == 0;
      pending_.append(buffer, *got);
      if (encoding_ == Encoding::kUnknown && !DetectEncoding(end)) continue;
      if (encoding_ == Encoding::kUtf16) {
        DecodeUtf16(end);
      } else {
        DecodeUtf8(end);
      }
      if (end) {
        if (cr_held_) cr_held_ = false;  // a CR that ends the file ends its last line
        done_ = true;
      }
    }
    return true;
  }

  // Looks at the byte-order mark; false while too few bytes have come to tell.
  bool DetectEncoding(bool end) {
    if (pending_.size() < 3 && !end) return false;
    const std::string_view start(pending_);
    if (start.starts_with("\xFF\xFE")) {
      encoding_ = Encoding::kUtf16;
      pending_.erase(0, 2);
    } else if (start.starts_with("\xFE\xFF")) {
      Stop("UTF-16 big-endian files are not supported; use UTF-8 or UTF-16LE");
    } else {
      encoding_ = Encoding::kUtf8;
      if (start.starts_with("\xEF\xBB\xBF")) pending_.erase(0, 3);
    }
    return true;
  }

  // Ends the text where decoding failed.
  void Stop(std::string why) {
    bad_ = std::move(why);
    pending_.clear();
    done_ = true;
  }

  void Emit(char16_t c) {
    if (cr_held_) {
      cr_held_ = false;
      if (c != u'\n') units_.push_back(u'\r');
    }
    if (c == u'\r') {
      cr_held_ = true;
    } else {
      units_.push_back(c);
    }
  }

  void DecodeUtf16(bool end) {
    size_t i = 0;
    for (; i + 1 < pending_.size(); i += 2) {
      Emit(static_cast<char16_t>(static_cast<uint8_t>(pending_[i]) |
                                 (static_cast<uint8_t>(pending_[i + 1]) << 8)));
    }
    pending_.erase(0, i);
    if (end && !pending_.empty()) Stop("the UTF-16 file ends in the middle of a character");
  }

  // Strict UTF-8: malformed bytes would turn into replacement characters inside values.
  void DecodeUtf8(bool end) {
    size_t i = 0;
    while (i < pending_.size()) {
      const Utf8Sequence seq = ReadUtf8Sequence(pending_, i);
      if (seq.status == Utf8Status::kTruncated && !end) break;  // the rest comes next piece
      if (seq.status != Utf8Status::kValid) return Stop("the line is not valid UTF-8");
      if (seq.code_point >= 0x10000) {
        Emit(static_cast<char16_t>(0xD800 + ((seq.code_point - 0x10000) >> 10)));
        Emit(static_cast<char16_t>(0xDC00 + ((seq.code_point - 0x10000) & 0x3FF)));
      } else {
        Emit(static_cast<char16_t>(seq.code_point));
      }
      i += seq.length;
    }
    pending_.erase(0, i);
  }

  const RegFileSource& source_;
  Encoding encoding_ = Encoding::kUnknown;
  std::string pending_;  // bytes read but not decoded yet
  std::u16string units_;
  size_t pos_ = 0;
  size_t line_ = 1;
  bool cr_held_ = false;  // a CR whose meaning depends on the next unit
  bool done_ = false;
  std::string bad_;    // why decoding stopped, for when the text before it is used up
  std::string error_;  // set once the reader reaches the end of what could be decoded
  std::optional<Error> read_error_;
};

// --- Parsing --------------------------------------------------------------------------------

class Parser {
 public:
  Parser(TextStream& text, const RegFileSink& sink) : text_(text), sink_(sink) {}

  RegFileRead Run() {
    bool header_seen = false;
    while (!Stopped()) {
      SkipBlanks();
      const auto c = text_.Peek();
      if (!c) break;
      if (*c == u'\n') {
        text_.Take();
      } else if (*c == u';') {
        while (!text_.AtLineEnd()) text_.Take();
      } else if (!header_seen) {
        bool whole = true;
        const std::u16string line = ReadLine(whole);
        if (!whole || ToUtf8(TrimRight(line)) != kRegFileHeader) {
          Fail("expected the header \"" + std::string(kRegFileHeader) + "\"");
        }
        header_seen = true;
      } else if (*c == u'[') {
        ParseKeyLine();
      } else {
        ParseValueLine(*c);
      }
    }
    if (!Stopped() && text_.failed()) Fail("");
    if (!Stopped() && !header_seen) Fail("the file is empty", 1);
    return std::move(result_);
  }

 private:
  bool Stopped() const { return !result_.ok(); }

  // A syntax error on the current line (or `line`); an error of the text itself wins, since
  // nothing after it was read.
  void Fail(std::string message, size_t line = 0) {
    if (Stopped()) return;
    if (text_.failed()) {
      result_.error_line = text_.line();
      result_.error = text_.error();
      if (text_.read_error()) result_.status = *text_.read_error();
      return;
    }
    result_.error_line = line != 0 ? line : text_.line();
    result_.error = std::move(message);
  }

  void Emit(platform::SettingsOp op) {
    auto taken = sink_(std::move(op));
    if (!taken.ok()) result_.status = taken.error();
  }

  void SkipBlanks() {
    for (auto c = text_.Peek(); c && IsBlank(*c); c = text_.Peek()) text_.Take();
  }

  // The rest of the line, without its end; `whole` turns false (and the rest is left unread)
  // when it is longer than any line worth holding.
  std::u16string ReadLine(bool& whole) {
    std::u16string line;
    while (!text_.AtLineEnd()) {
      if (line.size() >= kMaxHeldLine) {
        whole = false;
        break;
      }
      line.push_back(*text_.Peek());
      text_.Take();
    }
    return line;
  }

  void ParseKeyLine() {
    bool whole = true;
    const std::u16string text = ReadLine(whole);
    if (!whole) return Fail("the key line is too long");
    const std::u16string_view line = TrimRight(text);
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
    Emit({remove ? platform::SettingsOp::Kind::kDeleteKey : platform::SettingsOp::Kind::kCreateKey,
          std::move(*path),
          {},
          {}});
  }

  // A quoted string at the current '"', handing each unit to `append` and taking the closing
  // quote; only \\ and \" are escapes, and the string ends on its line. `append` returns false
  // to stop (after failing).
  template <typename Append>
  bool ReadQuoted(Append&& append) {
    text_.Take();
    while (true) {
      if (text_.AtLineEnd()) {
        Fail("a quoted string is not closed");
        return false;
      }
      char16_t c = *text_.Peek();
      text_.Take();
      if (c == u'"') return true;
      if (c == u'\\') {
        const auto next = text_.Peek();
        if (!next || (*next != u'\\' && *next != u'"')) {
          Fail("only \\\\ and \\\" are escapes inside quotes");
          return false;
        }
        c = *next;
        text_.Take();
      }
      if (!append(c)) return false;
    }
  }

  void ParseValueLine(char16_t first) {
    if (!key_) return Fail("a value must follow a [key] line");
    if (key_deleted_) return Fail("a deleted key cannot take values");
    std::u16string name;
    if (first == u'@') {
      text_.Take();
    } else if (first == u'"') {
      const bool read = ReadQuoted([&](char16_t c) {
        if (name.size() >= platform::kMaxValueNameLength) {
          Fail("the value name is too long");
          return false;
        }
        name.push_back(c);
        return true;
      });
      if (!read) return;
    } else {
      return Fail("expected a [key], a \"name\"= or @= line");
    }
    SkipBlanks();
    if (text_.Peek() != u'=') return Fail("expected \"=\" after the value name");
    text_.Take();
    SkipBlanks();

    platform::SettingsOp op{platform::SettingsOp::Kind::kSetValue, *key_, std::move(name), {}};
    const auto start = text_.Peek();
    if (start == u'"') {
      // Straight into the data as the store keeps it: UTF-16LE with a final NUL.
      std::vector<uint8_t> data;
      const bool read = ReadQuoted([&](char16_t c) {
        if (data.size() / 2 + 1 >= platform::kMaxImportedValueBytes / 2) {
          Fail("the value is larger than 64 MiB");
          return false;
        }
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
        return true;
      });
      if (!read) return;
      SkipBlanks();
      if (!text_.AtLineEnd()) return Fail("unexpected text after the closing quote");
      data.push_back(0);
      data.push_back(0);
      op.value = {platform::kRegSz, std::move(data)};
      return Emit(std::move(op));
    }
    if (start == u'-') {
      text_.Take();
      SkipBlanks();
      if (!text_.AtLineEnd()) return Fail(kUnknownData);
      op.kind = platform::SettingsOp::Kind::kDeleteValue;
      return Emit(std::move(op));
    }
    // "dword:", "hex:" or "hex(TYPE):"
    std::u16string tag;
    while (tag.size() <= kMaxDataTag && !text_.AtLineEnd() && text_.Peek() != u':') {
      tag.push_back(*text_.Peek());
      text_.Take();
    }
    const bool colon = text_.Peek() == u':';
    if (colon && EqualsIgnoreCase(tag, u"dword")) {
      text_.Take();
      bool whole = true;
      std::u16string digits;
      while (!text_.AtLineEnd() && (whole = digits.size() < kMaxDwordText)) {
        digits.push_back(*text_.Peek());
        text_.Take();
      }
      auto n = whole ? ParseHexNumber(TrimRight(digits), 8) : std::nullopt;
      if (!n) return Fail("dword: takes 1 to 8 hexadecimal digits");
      op.value.type = platform::kRegDword;
      for (int i = 0; i < 4; ++i) op.value.data.push_back(static_cast<uint8_t>(*n >> (8 * i)));
    } else if (colon && EqualsIgnoreCase(tag, u"hex")) {
      text_.Take();
      op.value.type = platform::kRegBinary;
      if (!ReadHexList(op.value.data)) return;
    } else if (StartsWithIgnoreCase(tag, u"hex(")) {
      const auto type = colon && tag.back() == u')'
                            ? ParseHexNumber(std::u16string_view(tag).substr(4, tag.size() - 5), 8)
                            : std::nullopt;
      if (!type) return Fail("expected hex(TYPE): with TYPE in hexadecimal");
      text_.Take();
      op.value.type = *type;
      if (!ReadHexList(op.value.data)) return;
    } else {
      return Fail(kUnknownData);
    }
    Emit(std::move(op));
  }

  // Comma-separated bytes of two hex digits, read as they come; a "\" at the end of a line
  // continues the list on the next line. Errors name the line they are on.
  bool ReadHexList(std::vector<uint8_t>& out) {
    const size_t first_line = text_.line();
    bool line_used = false;  // a byte or a comma was seen on the current line
    while (true) {
      SkipBlanks();
      std::u16string token;
      for (auto c = text_.Peek(); c && *c != u'\n' && *c != u',' && *c != u'\\' && !IsBlank(*c);
           c = text_.Peek()) {
        if (token.size() > 2) break;
        token.push_back(*c);
        text_.Take();
      }
      SkipBlanks();
      const auto after = text_.Peek();
      const bool comma = after == u',';
      bool more = false;
      if (after == u'\\') {
        text_.Take();
        SkipBlanks();
        if (!text_.AtLineEnd()) return FailHex();
        more = true;
      } else if (!comma && !text_.AtLineEnd()) {
        return FailHex();
      }
      if (comma) text_.Take();
      if (token.empty()) {
        if (comma || (!more && line_used)) {
          Fail("an empty byte in hex data");
          return false;
        }
      } else {
        auto byte = ParseHexNumber(token, 2);
        if (!byte) return FailHex();
        if (out.size() >= platform::kMaxImportedValueBytes) {
          Fail("the value is larger than 64 MiB", first_line);  // where the value begins
          return false;
        }
        out.push_back(static_cast<uint8_t>(*byte));
      }
      line_used = true;
      if (comma) continue;
      if (!more) return true;
      if (!text_.Peek()) {
        Fail("hex data continues past the end of the file");
        return false;
      }
      text_.Take();  // the line end
      line_used = false;
    }
  }

  bool FailHex() {
    Fail("hex data takes bytes of two hexadecimal digits separated by commas");
    return false;
  }

  static constexpr const char* kUnknownData =
      "unknown value data; expected \"text\", dword:, hex:, hex(TYPE): or -";

  TextStream& text_;
  const RegFileSink& sink_;
  RegFileRead result_;
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

// Appends `data` in hex notation, its line starting `column` characters before `out` ends; what
// `out` holds is handed to `flush` and cleared whenever it grows past 64 KiB.
ErrorOr<void> AppendHex(std::string& out, uint32_t type, std::span<const uint8_t> data,
                        size_t column, const RegFileWriter& flush) {
  constexpr size_t kPiece = 64 * 1024;
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
    if (out.size() >= kPiece) {
      QS_TRY_VOID(flush(out));
      out.clear();
    }
  }
  return {};
}

// One value as a line of the file (continuation lines included), without the final line end,
// handed to `write` in pieces: a large value's hex text is never held whole.
ErrorOr<void> WriteRegValue(const platform::NamedRegValue& value, const RegFileWriter& write) {
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
      return write(line);
    }
  }
  if (value.value.type == platform::kRegDword && data.size() == 4) {
    static constexpr char kDigits[] = "0123456789abcdef";
    line += "dword:";
    for (int i = 3; i >= 0; --i) {
      line.push_back(kDigits[data[static_cast<size_t>(i)] >> 4]);
      line.push_back(kDigits[data[static_cast<size_t>(i)] & 0xF]);
    }
    return write(line);
  }
  QS_TRY_VOID(AppendHex(line, value.value.type, data, line.size(), write));
  return write(line);
}

ErrorOr<void> ExportKey(std::u16string_view path, const RegFileWriter& write) {
  auto key = platform::SettingsKey::Open(path);
  if (!key.ok()) return key.error();
  path = key->path();  // as the store spells it
  const auto values = QS_TRY(key->Values());
  const auto subkeys = QS_TRY(key->SubKeys());
  QS_TRY_VOID(write("[" + ToUtf8(FullKeyName(path)) + "]\n"));
  for (const auto& value : values) {
    QS_TRY_VOID(WriteRegValue(value, write));
    QS_TRY_VOID(write("\n"));
  }
  QS_TRY_VOID(write("\n"));
  for (const auto& name : subkeys) {
    std::u16string child(path);
    if (!child.empty()) child += u'\\';
    child += name;
    auto exported = ExportKey(child, write);
    // A subkey deleted by another writer since the listing is simply no longer there.
    if (!exported.ok() && !exported.error().Is(ErrorCode::kFileNotFound)) return exported;
  }
  return {};
}

}  // namespace

RegFileRead ReadRegFile(const RegFileSource& source, const RegFileSink& sink) {
  TextStream text(source);
  return Parser(text, sink).Run();
}

RegFileParse ParseRegFile(std::string_view bytes) {
  RegFileParse parsed;
  const RegFileRead read = ReadRegFile(
      [&](std::span<char> buffer) -> ErrorOr<size_t> {
        const size_t n = std::min(buffer.size(), bytes.size());
        std::copy_n(bytes.data(), n, buffer.data());
        bytes.remove_prefix(n);
        return n;
      },
      [&](platform::SettingsOp op) -> ErrorOr<void> {
        parsed.ops.push_back(std::move(op));
        return {};
      });
  if (!read.ok()) {
    parsed.ops.clear();
    parsed.error_line = read.error_line;
    parsed.error = read.error;
  }
  return parsed;
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
  (void)WriteRegValue(value, [&](std::string_view piece) -> ErrorOr<void> {
    line += piece;
    return {};
  });
  return line;
}

ErrorOr<void> ExportRegFile(std::u16string_view path, const RegFileWriter& write) {
  // A missing key is found before the file's first line goes out.
  QS_TRY_VOID(platform::SettingsKey::Open(path));
  QS_TRY_VOID(write(std::string(kRegFileHeader) + "\n\n"));
  return ExportKey(path, write);
}

}  // namespace qs
