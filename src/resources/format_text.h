// Filling the placeholders of a message text.
//
// Texts come from our own table and, later, from downloaded language modules, so a text is
// never trusted as a printf format: this routine reads it as data. "%s" and "%d" each take the
// next argument ("%s" a text, "%d" a number; an argument of the other kind is written as it is),
// "%%" is one percent sign, and every other "%" stays as it stands. A placeholder without an
// argument left stays literally in the result. Arguments are inserted as they are and never
// scanned for placeholders themselves.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace qs {

class TextArg {
 public:
  TextArg(std::u16string_view text) : value_(text) {}  // NOLINT: implicit on purpose
  TextArg(const std::u16string& text) : value_(std::u16string_view(text)) {}  // NOLINT
  TextArg(const char16_t* text) : value_(std::u16string_view(text)) {}        // NOLINT
  TextArg(int64_t number) : value_(number) {}                                 // NOLINT
  TextArg(int32_t number) : value_(int64_t{number}) {}                        // NOLINT
  TextArg(uint32_t number) : value_(int64_t{number}) {}                       // NOLINT

  void AppendTo(std::u16string& out) const;

 private:
  std::variant<std::u16string_view, int64_t> value_;
};

std::u16string FormatText(std::u16string_view pattern, std::span<const TextArg> args);
inline std::u16string FormatText(std::u16string_view pattern, std::initializer_list<TextArg> args) {
  return FormatText(pattern, std::span<const TextArg>(args.begin(), args.size()));
}

// Decimal text of a signed number, as "%d" writes it.
std::u16string DecimalText(int64_t number);

}  // namespace qs
