#include "qsft/json.h"

#include <charconv>
#include <cstdio>

#include "base/text.h"

namespace qs::json {

Value Value::Integer(int64_t n) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec;  // 24 bytes always hold an int64
  return NumberText(std::string(buf, end));
}

std::optional<int64_t> Value::AsInteger(int64_t min, int64_t max) const {
  if (kind() != Kind::kNumber) return std::nullopt;
  const std::string& t = number_text();
  if (t.find_first_of(".eE") != std::string::npos) return std::nullopt;
  int64_t n = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
  if (ec != std::errc() || end != t.data() + t.size() || n < min || n > max) return std::nullopt;
  return n;
}

const Value* Value::Find(std::u16string_view key) const {
  if (kind() != Kind::kObject) return nullptr;
  for (const auto& [k, v] : as_object()) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string ParseError::ToString() const {
  return "column " + std::to_string(column) + ": " + message;
}

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::string DescribeByte(unsigned char c) {
  char buf[32];
  if (c >= 0x21 && c < 0x7F) {
    std::snprintf(buf, sizeof buf, "'%c'", static_cast<char>(c));
  } else {
    std::snprintf(buf, sizeof buf, "byte 0x%02X", static_cast<unsigned>(c));
  }
  return buf;
}

// Recursive descent over one line. Positions are byte offsets; errors carry the offset of the
// offending byte, reported 1-based.
class Parser {
 public:
  Parser(std::string_view text, const Limits& limits) : s_(text), limits_(limits) {}

  std::variant<Value, ParseError> Run() {
    if (s_.size() > limits_.max_bytes) {
      return ParseError{1, "text longer than " + std::to_string(limits_.max_bytes) + " bytes"};
    }
    SkipSpace();
    if (AtEnd()) {
      Bad("expected a JSON value, found nothing");
      return *error_;
    }
    std::optional<Value> v = ParseValue(0);
    if (!v) return *error_;
    SkipSpace();
    if (!AtEnd()) {
      Bad("unexpected " + DescribeByte(Peek()) + " after the value");
      return *error_;
    }
    return std::move(*v);
  }

 private:
  bool AtEnd() const { return pos_ >= s_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(s_[pos_]); }

  // Records the first error; the nullopt it returns unwinds the descent.
  std::nullopt_t Bad(std::string message) { return Bad(pos_, std::move(message)); }
  std::nullopt_t Bad(size_t at, std::string message) {
    if (!error_) error_ = ParseError{at + 1, std::move(message)};
    return std::nullopt;
  }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++pos_;
    }
  }

  std::optional<Value> ParseValue(size_t depth) {
    if (AtEnd()) return Bad("unexpected end of text, expected a value");
    switch (Peek()) {
      case '{': return ParseObject(depth + 1);
      case '[': return ParseArray(depth + 1);
      case '"': {
        std::optional<std::u16string> s = ParseString();
        if (!s) return std::nullopt;
        return Value::String(std::move(*s));
      }
      case 't': return ParseLiteral("true", Value::Bool(true));
      case 'f': return ParseLiteral("false", Value::Bool(false));
      case 'n': return ParseLiteral("null", Value());
      default:
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return ParseNumber();
        return Bad("unexpected " + DescribeByte(Peek()) + ", expected a value");
    }
  }

  std::optional<Value> ParseLiteral(std::string_view word, Value v) {
    if (s_.substr(pos_, word.size()) != word) {
      return Bad("invalid literal, expected '" + std::string(word) + "'");
    }
    pos_ += word.size();
    return v;
  }

  bool Digits() {
    size_t start = pos_;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
    return pos_ > start;
  }

  std::optional<Value> ParseNumber() {
    size_t start = pos_;
    if (Peek() == '-') ++pos_;
    if (AtEnd() || Peek() < '0' || Peek() > '9') {
      return Bad("expected a digit in the number");
    }
    if (Peek() == '0') {
      ++pos_;
      if (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
        return Bad("leading zero in a number");
      }
    } else {
      Digits();
    }
    if (!AtEnd() && Peek() == '.') {
      ++pos_;
      if (!Digits()) return Bad("expected a digit after the decimal point");
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (!Digits()) return Bad("expected a digit in the exponent");
    }
    return Value::NumberText(std::string(s_.substr(start, pos_ - start)));
  }

  std::optional<Value> ParseArray(size_t depth) {
    if (depth > limits_.max_depth) {
      return Bad("nested deeper than " + std::to_string(limits_.max_depth) + " levels");
    }
    ++pos_;  // '['
    Array items;
    SkipSpace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      return Value::MakeArray(std::move(items));
    }
    for (;;) {
      SkipSpace();
      std::optional<Value> item = ParseValue(depth);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      SkipSpace();
      if (AtEnd()) return Bad("unexpected end of text in an array");
      if (Peek() == ']') {
        ++pos_;
        return Value::MakeArray(std::move(items));
      }
      if (Peek() != ',') {
        return Bad("expected ',' or ']' in an array, found " + DescribeByte(Peek()));
      }
      ++pos_;
    }
  }

  std::optional<Value> ParseObject(size_t depth) {
    if (depth > limits_.max_depth) {
      return Bad("nested deeper than " + std::to_string(limits_.max_depth) + " levels");
    }
    ++pos_;  // '{'
    Object members;
    SkipSpace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      return Value::MakeObject(std::move(members));
    }
    for (;;) {
      SkipSpace();
      if (AtEnd() || Peek() != '"') {
        return Bad(AtEnd() ? "unexpected end of text, expected an object key"
                           : "expected a string as object key, found " + DescribeByte(Peek()));
      }
      size_t key_at = pos_;
      std::optional<std::u16string> key = ParseString();
      if (!key) return std::nullopt;
      for (const auto& m : members) {
        if (m.first == *key) return Bad(key_at, "duplicate object key");
      }
      SkipSpace();
      if (AtEnd() || Peek() != ':') return Bad("expected ':' after an object key");
      ++pos_;
      SkipSpace();
      std::optional<Value> v = ParseValue(depth);
      if (!v) return std::nullopt;
      members.emplace_back(std::move(*key), std::move(*v));
      SkipSpace();
      if (AtEnd()) return Bad("unexpected end of text in an object");
      if (Peek() == '}') {
        ++pos_;
        return Value::MakeObject(std::move(members));
      }
      if (Peek() != ',') {
        return Bad("expected ',' or '}' in an object, found " + DescribeByte(Peek()));
      }
      ++pos_;
    }
  }

  std::optional<char16_t> Hex4() {
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      if (AtEnd()) return Bad("truncated \\u escape");
      unsigned char c = Peek();
      unsigned d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return Bad("invalid hex digit in a \\u escape");
      v = v * 16 + d;
      ++pos_;
    }
    return static_cast<char16_t>(v);
  }

  // One UTF-8 sequence, strictly: shortest form, no surrogates, at most U+10FFFF.
  bool DecodeUtf8(std::u16string& out) {
    const size_t at = pos_;
    const unsigned char b0 = Peek();
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
      Bad("invalid UTF-8 (" + DescribeByte(b0) + ")");
      return false;
    }
    ++pos_;
    for (int i = 0; i < extra; ++i) {
      if (AtEnd() || (Peek() & 0xC0) != 0x80) {
        Bad(at, "invalid UTF-8 (truncated sequence)");
        return false;
      }
      cp = (cp << 6) | (Peek() & 0x3F);
      ++pos_;
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      Bad(at, "invalid UTF-8 (overlong form, surrogate or beyond U+10FFFF)");
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    return true;
  }

  std::optional<std::u16string> ParseString() {
    ++pos_;  // opening quote
    std::u16string out;
    for (;;) {
      if (AtEnd()) return Bad("unterminated string");
      unsigned char c = Peek();
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) {
        return Bad("unescaped control character in a string");
      }
      if (c == '\\') {
        ++pos_;
        if (AtEnd()) return Bad("unterminated escape in a string");
        char e = static_cast<char>(Peek());
        ++pos_;
        switch (e) {
          case '"': out.push_back(u'"'); break;
          case '\\': out.push_back(u'\\'); break;
          case '/': out.push_back(u'/'); break;
          case 'b': out.push_back(u'\b'); break;
          case 'f': out.push_back(u'\f'); break;
          case 'n': out.push_back(u'\n'); break;
          case 'r': out.push_back(u'\r'); break;
          case 't': out.push_back(u'\t'); break;
          case 'u': {
            std::optional<char16_t> unit = Hex4();
            if (!unit) return std::nullopt;
            out.push_back(*unit);  // surrogates, paired or not, are kept as they are
            break;
          }
          default:
            pos_ -= 2;  // report the backslash
            return Bad("invalid escape \\" + DescribeByte(static_cast<unsigned char>(e)));
        }
        continue;
      }
      if (c < 0x80) {
        out.push_back(static_cast<char16_t>(c));
        ++pos_;
        continue;
      }
      if (!DecodeUtf8(out)) return std::nullopt;
    }
  }

  std::string_view s_;
  const Limits& limits_;
  size_t pos_ = 0;
  std::optional<ParseError> error_;
};

void AppendEscape(std::string& out, unsigned unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", unit);
  out += buf;
}

void WriteTo(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kNull: out += "null"; return;
    case Value::Kind::kBool: out += v.as_bool() ? "true" : "false"; return;
    case Value::Kind::kNumber: out += v.number_text(); return;
    case Value::Kind::kString: AppendString(out, v.as_string()); return;
    case Value::Kind::kArray: {
      out.push_back('[');
      bool first = true;
      for (const Value& item : v.as_array()) {
        if (!first) out.push_back(',');
        first = false;
        WriteTo(out, item);
      }
      out.push_back(']');
      return;
    }
    case Value::Kind::kObject: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, item] : v.as_object()) {
        if (!first) out.push_back(',');
        first = false;
        AppendString(out, key);
        out.push_back(':');
        WriteTo(out, item);
      }
      out.push_back('}');
      return;
    }
  }
}

}  // namespace

std::variant<Value, ParseError> Parse(std::string_view text, const Limits& limits) {
  return Parser(text, limits).Run();
}

void AppendString(std::string& out, std::u16string_view text) {
  out.push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    switch (c) {
      case u'"': out += "\\\""; continue;
      case u'\\': out += "\\\\"; continue;
      case u'\b': out += "\\b"; continue;
      case u'\f': out += "\\f"; continue;
      case u'\n': out += "\\n"; continue;
      case u'\r': out += "\\r"; continue;
      case u'\t': out += "\\t"; continue;
      default: break;
    }
    if (c < 0x20) {
      AppendEscape(out, c);
    } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += ToUtf8(text.substr(i, 2));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendEscape(out, c);  // a lone surrogate has no UTF-8 form
    } else {
      out += ToUtf8(text.substr(i, 1));
    }
  }
  out.push_back('"');
}

std::string Write(const Value& value) {
  std::string out;
  WriteTo(out, value);
  return out;
}

}  // namespace qs::json
