#include "base/text.h"

#include <gtest/gtest.h>

namespace qs {
namespace {

TEST(Text, RoundTripsAllPlanes) {
  const std::u16string text = u"a\u00e9\u4e2d\U0001F600z";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(text), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
}

TEST(Text, MalformedInputBecomesReplacementNotLoss) {
  EXPECT_EQ(FromUtf8("a\xff" "b"), u"a\ufffdb");
  EXPECT_EQ(FromUtf8("\xe4\xb8"), u"\ufffd");           // truncated sequence
  EXPECT_EQ(FromUtf8("\xc0\xaf").find(u'/'), std::u16string::npos);  // overlong "/"
  EXPECT_EQ(FromUtf8("\xed\xa0\x80"), u"\ufffd");  // encoded surrogate
  const std::u16string lone = {u'x', 0xD800, u'y'};
  EXPECT_EQ(ToUtf8(lone), "x\xef\xbf\xbdy");
}

TEST(Text, CaseInsensitiveCompare) {
  EXPECT_TRUE(EqualsIgnoreCase(u"GetTransferStatus", u"gettransferstatus"));
  EXPECT_TRUE(EqualsIgnoreCase(u"\u00c9T\u00c9", u"\u00e9t\u00e9"));
  EXPECT_TRUE(EqualsIgnoreCase(u"\u0100", u"\u0101"));
  EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"abd"));
  EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"ab"));
}

}  // namespace
}  // namespace qs
