// The encoding of text in the query of an upload request.
#pragma once

#include <string>
#include <string_view>

namespace qs {

// The UTF-8 bytes of `text`, each ASCII letter and digit as it is and every other byte as "%"
// followed by two upper-case hexadecimal digits: "-", "_", ".", "~", the space and "/" are
// encoded too ("a b" gives "a%20b", "é" gives "%C3%A9"). An unpaired surrogate is encoded as
// U+FFFD.
std::u16string UrlEncode(std::u16string_view text);

}  // namespace qs
