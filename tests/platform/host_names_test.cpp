#include "platform/host_names.h"
#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <string>

namespace qs::platform {
namespace {

struct Converted {
  const char16_t* host;
  const char16_t* ascii;
};

TEST(HostNames, ConvertsInternationalHostsToLowerCaseXnLabels) {
  const Converted cases[] = {
      {u"b\u00fccher.example", u"xn--bcher-kva.example"},
      {u"B\u00dcCHER.Example", u"xn--bcher-kva.example"},  // case mapped, ASCII labels too
      {u"\u65e5\u672c\u8a9e.jp", u"xn--wgv71a119e.jp"},
      {u"fa\u00df.de", u"xn--fa-hia.de"},            // nontransitional: sharp s kept
      {u"\u00fc\u3002example", u"xn--tda.example"},  // ideographic full stop separates
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ascii, c.ascii + std::char_traits<char16_t>::length(c.ascii)));
    auto result = HostNameToAscii(c.host);
    ASSERT_TRUE(result.ok()) << result.code();
    EXPECT_EQ(*result, c.ascii);
  }
}

// An all-ASCII host is handed back as it is: not lower-cased, not checked, the library not
// asked (which would lower-case it and drop the underscore).
TEST(HostNames, AsciiHostsComeBackUnchanged) {
  for (const char16_t* host : {u"Host.EXAMPLE", u"a_b.example", u"", u"[::1]", u"bad space"}) {
    auto result = HostNameToAscii(host);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, host);
  }
}

// Characters outside the STD3 rules are refused, never dropped to give another host.
TEST(HostNames, RefusesHostsWithoutValidAsciiForm) {
  const char16_t* refused[] = {
      u"a_b\u00fc.example",  // "_": the library's STD3 mode would give the form of "ab\u00fc"
      u"bad space\u00fc",
      u"\u00fc.exa%mple",
      u"\u00fc/x",
      u"\u00fc:80",
      u"\u00fc\uff3fx",    // fullwidth low line maps to "_"
      u"\u00fc\uff0fx",    // fullwidth solidus maps to "/"
      u"\u00fc-.example",  // hyphen at a label's end
      u"-\u00fc.example",
      u"\u00fc..example",  // empty label
      u"\u00fc.example.",  // empty last label
      u"\u00fcaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.example",
      u"\ufffd.example",
  };
  for (const char16_t* host : refused) {
    SetLastError(0);
    auto result = HostNameToAscii(host);
    ASSERT_FALSE(result.ok()) << "accepted: " << result.code();
    EXPECT_EQ(result.code(), ToUint(ErrorCode::kInvalidName));
    EXPECT_EQ(LastError(), ToUint(ErrorCode::kInvalidName));
  }
}

TEST(HostNames, RefusesEmbeddedNul) {
  const std::u16string host(u"\u00fc.example\0.evil", 15);
  EXPECT_EQ(HostNameToAscii(host).code(), ToUint(ErrorCode::kInvalidName));
}

TEST(HostNames, IsAsciiHost) {
  EXPECT_TRUE(IsAsciiHost(u""));
  EXPECT_TRUE(IsAsciiHost(u"a.b\x7f"));
  EXPECT_FALSE(IsAsciiHost(u"a\u0080"));
  EXPECT_FALSE(IsAsciiHost(u"\U0001F600"));
}

}  // namespace
}  // namespace qs::platform
