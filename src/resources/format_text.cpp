#include "resources/format_text.h"

#include <charconv>

namespace qs {

std::u16string DecimalText(int64_t number) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
  (void)ec;  // 24 characters always hold a 64-bit number
  return std::u16string(buffer, end);
}

void TextArg::AppendTo(std::u16string& out) const {
  if (const auto* text = std::get_if<std::u16string_view>(&value_)) {
    out.append(*text);
  } else {
    out.append(DecimalText(std::get<int64_t>(value_)));
  }
}

std::u16string FormatText(std::u16string_view pattern, std::span<const TextArg> args) {
  std::u16string out;
  out.reserve(pattern.size());
  size_t next_arg = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char16_t c = pattern[i];
    if (c != u'%' || i + 1 == pattern.size()) {
      out.push_back(c);
      continue;
    }
    char16_t directive = pattern[i + 1];
    if (directive == u'%') {
      out.push_back(u'%');
      ++i;
    } else if ((directive == u's' || directive == u'd') && next_arg < args.size()) {
      args[next_arg++].AppendTo(out);
      ++i;
    } else {
      out.push_back(c);  // not ours, or no argument left: kept as written
    }
  }
  return out;
}

}  // namespace qs
