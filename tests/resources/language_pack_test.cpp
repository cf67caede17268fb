// The pack content as data: what the reader accepts and everything it must refuse, the version a
// page asks for, and the names that decide where a pack is stored.
#include "resources/language_pack.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/text.h"
#include "resources/downloadable_resources.h"
#include "support/scoped_env.h"

namespace qs {
namespace {

LanguagePack Sample() {
  return LanguagePack{PackVersion(2, 1, 5, 300),
                      {{0, u"zero"}, {300, u"Titel %s"}, {301, u""}, {65535, u"last"}}};
}

TEST(LanguagePackTest, RoundTripsAndRefusesEveryTruncationAndEveryAddedByte) {
  const std::string content = EncodeLanguagePack(Sample());
  auto decoded = DecodeLanguagePack(content);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->version, 0x000200010005012Cull);
  EXPECT_EQ(decoded->texts, Sample().texts);
  for (size_t size = 0; size < content.size(); ++size) {
    EXPECT_FALSE(DecodeLanguagePack(content.substr(0, size))) << size;
  }
  EXPECT_FALSE(DecodeLanguagePack(content + '\0'));
}

TEST(LanguagePackTest, RefusesMalformedTables) {
  auto with = [](auto edit) {
    std::string content = EncodeLanguagePack(LanguagePack{7, {{1, u"a"}, {2, u"b"}}});
    edit(content);
    return DecodeLanguagePack(content).has_value();
  };
  EXPECT_TRUE(with([](std::string&) {}));
  EXPECT_FALSE(with([](std::string& c) { c[0] = 'X'; }));  // not a pack
  EXPECT_FALSE(with([](std::string& c) { c[4] = 2; }));    // unknown layout
  EXPECT_FALSE(with([](std::string& c) { c[16] = 3; }));   // more entries than held
  EXPECT_FALSE(with([](std::string& c) {
    c[18] = static_cast<char>(0xFF);
    c[19] = 0x7F;
  }));
  EXPECT_FALSE(with([](std::string& c) { c[26] = 1; }));     // the same id twice
  EXPECT_FALSE(with([](std::string& c) { c[26] = 0; }));     // ids out of order
  EXPECT_FALSE(with([](std::string& c) { c[22] = 0x7F; }));  // length beyond the end
  // A count beyond any id range, and a text over the longest accepted.
  std::string huge = EncodeLanguagePack(LanguagePack{7, {}});
  huge[18] = 0x01;
  huge[19] = 0x01;
  EXPECT_FALSE(DecodeLanguagePack(huge));
  EXPECT_TRUE(DecodeLanguagePack(
      EncodeLanguagePack(LanguagePack{7, {{1, std::u16string(kMaxPackTextLength, u'x')}}})));
  EXPECT_FALSE(DecodeLanguagePack(
      EncodeLanguagePack(LanguagePack{7, {{1, std::u16string(kMaxPackTextLength + 1, u'x')}}})));
}

TEST(LanguagePackTest, ResourceVersionReadsLikeTheUnsignedHexConversion) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  struct Case {
    std::u16string_view text;
    uint64_t value;
  } cases[] = {
      {u"000200010005012C", 0x000200010005012Cull},
      {u"000200010005012c", 0x000200010005012Cull},
      {u"  \t0x12", 0x12},
      {u"+ff", 0xFF},
      {u"-1", kMax},
      {u"12zz34", 0x12},
      {u"zz", 0},
      {u"0x", 0},
      {u"0xg", 0},
      {u"", 0},
      {u"FFFFFFFFFFFFFFFF", kMax},
      {u"10000000000000000", kMax},
      {u"123456789012345678901234", kMax},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseResourceVersion(c.text), c.value) << ToUtf8(c.text);
}

TEST(LanguagePackTest, OnlyPlainLanguagesAndModuleNamesMakeAPath) {
  testing::ScopedEnv data("XDG_DATA_HOME", "/data");
  EXPECT_EQ(BuildModulePath(u"de", u"http://h/app/download?file=res.qslp"),
            u"/data/Tarnholt/Quillstone/Resources/de/download?file=res.qslp");
  EXPECT_EQ(BuildModulePath(u"pt-BR_x9", u"http://h/res.dll"),
            u"/data/Tarnholt/Quillstone/Resources/pt-BR_x9/res.dll");
  EXPECT_EQ(BuildModulePath(std::u16string(35, u'a'), u"http://h/r"),
            u"/data/Tarnholt/Quillstone/Resources/" + std::u16string(35, u'a') + u"/r");
  // The name after the last "/", query included.
  EXPECT_EQ(ModuleNameOf(u"http://h/d?f=a/b.qslp"), u"b.qslp");
  for (std::u16string_view language :
       {u"../x", u"..", u".", u"a/b", u"a\\b", u"", u"de DE", u"d\u00e9", u"de%2F"}) {
    EXPECT_FALSE(BuildModulePath(language, u"http://h/r")) << ToUtf8(language);
  }
  EXPECT_FALSE(BuildModulePath(std::u16string(36, u'a'), u"http://h/r"));
  for (std::u16string_view url :
       {u"http://h/", u"http://h/a/.", u"http://h/a/..", u"http://h/a\\..\\..\\x"}) {
    EXPECT_FALSE(BuildModulePath(u"de", url)) << ToUtf8(url);
  }
}

}  // namespace
}  // namespace qs
