#include "resources/language_pack.h"

#include <limits>

namespace qs {

namespace {

constexpr std::string_view kMagic = "QSLP";
constexpr size_t kMaxEntries = 65536;

void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Reads little-endian numbers from a bounded span; every read checks what is left.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool Read(int bytes, uint64_t& value) {
    if (data_.size() - pos_ < static_cast<size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) {
      value |= uint64_t{static_cast<unsigned char>(data_[pos_ + static_cast<size_t>(i)])}
               << (8 * i);
    }
    pos_ += static_cast<size_t>(bytes);
    return true;
  }
  size_t left() const { return data_.size() - pos_; }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

std::string EncodeLanguagePack(const LanguagePack& pack) {
  std::string out(kMagic);
  PutLe(out, kPackLayout, 4);
  PutLe(out, pack.version, 8);
  PutLe(out, pack.texts.size(), 4);
  for (const auto& [id, text] : pack.texts) {
    PutLe(out, id, 2);
    PutLe(out, text.size(), 2);
    for (char16_t unit : text) PutLe(out, unit, 2);
  }
  return out;
}

std::optional<LanguagePack> DecodeLanguagePack(std::string_view content) {
  if (content.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  Reader in(content.substr(kMagic.size()));
  uint64_t layout = 0;
  uint64_t count = 0;
  LanguagePack pack;
  if (!in.Read(4, layout) || layout != kPackLayout || !in.Read(8, pack.version) ||
      !in.Read(4, count) || count > kMaxEntries) {
    return std::nullopt;
  }
  int64_t previous_id = -1;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t id = 0;
    uint64_t length = 0;
    if (!in.Read(2, id) || !in.Read(2, length) || static_cast<int64_t>(id) <= previous_id ||
        length > kMaxPackTextLength || in.left() < 2 * length) {
      return std::nullopt;
    }
    previous_id = static_cast<int64_t>(id);
    std::u16string text(length, u'\0');
    for (char16_t& unit : text) {
      uint64_t value = 0;
      in.Read(2, value);  // length checked above
      unit = static_cast<char16_t>(value);
    }
    pack.texts.emplace_hint(pack.texts.end(), static_cast<uint16_t>(id), std::move(text));
  }
  if (in.left() != 0) return std::nullopt;
  return pack;
}

uint64_t ParseResourceVersion(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i + 2 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
      HexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
    if (value > std::numeric_limits<uint64_t>::max() >> 4) overflow = true;
    value = value << 4 | static_cast<uint64_t>(HexDigit(text[i]));
  }
  if (overflow) return std::numeric_limits<uint64_t>::max();
  return negative ? 0 - value : value;
}

bool IsPlainLanguageTag(std::u16string_view language) {
  if (language.empty() || language.size() > 35) return false;
  for (char16_t c : language) {
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
    if (!plain) return false;
  }
  return true;
}

std::u16string_view ModuleNameOf(std::u16string_view url) {
  const size_t slash = url.rfind(u'/');
  return slash == std::u16string_view::npos ? url : url.substr(slash + 1);
}

bool IsPlainFileName(std::u16string_view name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(std::u16string_view(u"/\\\0", 3)) == std::u16string_view::npos;
}

}  // namespace qs
