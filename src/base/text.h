// Text conversion at the platform boundary. Inside the control text is UTF-16; the system,
// libraries and the wire speak UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace qs {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16. A malformed sequence becomes U+FFFD; nothing is dropped silently.
std::u16string FromUtf8(std::string_view text);
// One UTF-8 sequence read from `text` at `at`, strictly: no overlong forms, surrogates or code
// points past U+10FFFF. kTruncated: the text ends inside the sequence (a stream may bring the
// rest); kMalformed: `length` is the maximal ill-formed prefix, the bytes to step over.
enum class Utf8Status { kValid, kTruncated, kMalformed };
struct Utf8Sequence {
  Utf8Status status;
  char32_t code_point;
  size_t length;
};
Utf8Sequence ReadUtf8Sequence(std::string_view text, size_t at);
// ASCII-only convenience for literals and numbers.
std::u16string FromAscii(std::string_view text);

// Case-insensitive comparison of UTF-16 text, folding ASCII and the Latin-1/Latin Extended-A
// letters the way the platform's ordinal case-insensitive compare does for these ranges.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
char16_t ToUpper(char16_t c);
char16_t ToLower(char16_t c);
std::u16string ToLowerAscii(std::u16string_view text);

// `text` for showing to a user who is to judge it: nothing in it may hide or reorder the rest.
// C0 controls and DEL become their Control Pictures (U+2400 to U+241F, U+2421: a line break
// shows as one visible symbol and cannot push the rest of a path out of sight); C1 controls,
// bidirectional and other invisible format characters, line and paragraph separators and
// unpaired surrogates become "<U+XXXX>". Everything else is kept.
std::u16string VisibleControls(std::u16string_view text);

}  // namespace qs
