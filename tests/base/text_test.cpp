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
  EXPECT_EQ(FromUtf8("a\xff"
                     "b"),
            u"a\ufffdb");
  EXPECT_EQ(FromUtf8("\xe4\xb8"), u"\ufffd");                        // truncated sequence
  EXPECT_EQ(FromUtf8("\xc0\xaf").find(u'/'), std::u16string::npos);  // overlong "/"
  EXPECT_EQ(FromUtf8("\xed\xa0\x80"), u"\ufffd");                    // encoded surrogate
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

namespace qs {
namespace {

TEST(Text, VisibleControlsShowsWhatWouldHideOrReorderText) {
  EXPECT_EQ(VisibleControls(u"/home/u/report.pdf"), u"/home/u/report.pdf");
  EXPECT_EQ(VisibleControls(u"a\nb\tc\rd"), u"a\u240Ab\u2409c\u240Dd");
  EXPECT_EQ(VisibleControls(std::u16string(u"x\0y\x7F", 4)), u"x\u2400y\u2421");
  EXPECT_EQ(VisibleControls(u"report\u202Efdp.exe"), u"report<U+202E>fdp.exe");
  EXPECT_EQ(VisibleControls(u"a\u200Bb\u2028c\u0085d\uFEFF"),
            u"a<U+200B>b<U+2028>c<U+0085>d<U+FEFF>");
  EXPECT_EQ(VisibleControls(u"\U0001F600 \xD800x"), u"\U0001F600 <U+D800>x");
  EXPECT_EQ(VisibleControls(u"Übersicht – 東京"), u"Übersicht – 東京");
}

}  // namespace
}  // namespace qs
