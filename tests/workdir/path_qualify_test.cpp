#include "workdir/path_qualify.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/text.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

struct QualifyCase {
  const char* input;
  const char* expected;  // "" means refused
};

class QualifyAgainstCwd : public ::testing::TestWithParam<QualifyCase> {};

TEST_P(QualifyAgainstCwd, GivesCanonicalForm) {
  const auto& c = GetParam();
  EXPECT_EQ(ToUtf8(QualifyPath(FromUtf8(c.input), u"/home/u/work")), c.expected)
      << "input: " << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Table, QualifyAgainstCwd,
    ::testing::Values(
        // Absolute paths, both separators.
        QualifyCase{"/a/b/c", "/a/b/c"}, QualifyCase{"\\a\\b\\c", "/a/b/c"},
        QualifyCase{"/a\\b/c", "/a/b/c"},
        // Repeated separators collapse.
        QualifyCase{"//a///b", "/a/b"}, QualifyCase{"\\\\server\\share\\f", "/server/share/f"},
        // Trailing separator kept, whatever its kind.
        QualifyCase{"/a/b/", "/a/b/"}, QualifyCase{"/a/b\\", "/a/b/"},
        QualifyCase{"/a/b//", "/a/b/"},
        // "." and "..", lexically.
        QualifyCase{"/a/./b", "/a/b"}, QualifyCase{"/a/b/../c", "/a/c"},
        QualifyCase{"/a/b/..", "/a"}, QualifyCase{"/a/b/.", "/a/b"}, QualifyCase{"/a/b/../", "/a/"},
        QualifyCase{"/..", "/"}, QualifyCase{"/../../x", "/x"}, QualifyCase{"/a/../../b", "/b"},
        QualifyCase{"/", "/"}, QualifyCase{"\\", "/"}, QualifyCase{"/.", "/"},
        // Names that merely contain dots are ordinary.
        QualifyCase{"/a/...", "/a/..."}, QualifyCase{"/a/..b/.c", "/a/..b/.c"},
        // Relative paths are taken against the current directory.
        QualifyCase{"x", "/home/u/work/x"}, QualifyCase{"x\\y", "/home/u/work/x/y"},
        QualifyCase{".", "/home/u/work"}, QualifyCase{"./", "/home/u/work/"},
        QualifyCase{"..", "/home/u"}, QualifyCase{"..\\..\\..\\..\\etc", "/etc"},
        QualifyCase{"C:\\Docs", "/home/u/work/C:/Docs"},
        // Text that is not a path.
        QualifyCase{"", ""}));

TEST(QualifyPath, RefusesEmbeddedNul) {
  const std::u16string with_nul(u"/tmp/a\0b", 8);
  EXPECT_EQ(QualifyPath(with_nul, u"/"), u"");
  EXPECT_EQ(QualifyPath(with_nul), u"");
}

TEST(QualifyPath, LengthLimitIsOnTheResult) {
  // "/" + 258 letters = 259 units: the longest accepted.
  const std::u16string longest = u"/" + std::u16string(258, u'a');
  EXPECT_EQ(QualifyPath(longest, u"/"), longest);
  EXPECT_EQ(QualifyPath(longest + u"b", u"/"), u"");
  // A trailing separator counts towards the limit.
  EXPECT_EQ(QualifyPath(longest + u"/", u"/"), u"");
  // A long input that resolves to a short result is fine.
  const std::u16string detour = u"/" + std::u16string(300, u'x') + u"/../short";
  EXPECT_EQ(QualifyPath(detour, u"/"), u"/short");
  // A short relative path can overflow through a long current directory.
  const std::u16string deep_cwd = u"/" + std::u16string(255, u'd');
  EXPECT_EQ(QualifyPath(u"abc", deep_cwd), u"");
  EXPECT_EQ(QualifyPath(u"ab", deep_cwd), deep_cwd + u"/ab");
}

TEST(QualifyPath, LimitCountsUtf16Units) {
  // U+1F600 is two UTF-16 units: 129 of them plus "/" make 259 units.
  std::u16string emoji;
  for (int i = 0; i < 129; ++i) emoji += u"\U0001F600";
  EXPECT_EQ(QualifyPath(u"/" + emoji, u"/").size(), 259u);
  EXPECT_EQ(QualifyPath(u"/" + emoji + u"x", u"/"), u"");
}

TEST(QualifyPath, RelativePathUsesTheProcessCurrentDirectory) {
  testing::TempDir dir;
  const std::string before = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const std::u16string qualified = QualifyPath(u"sub\\file.txt");
  ASSERT_EQ(::chdir(before.c_str()), 0);
  EXPECT_EQ(ToUtf8(qualified), dir.path().string() + "/sub/file.txt");
}

TEST(QualifyPath, RelativeAgainstInvalidCurrentDirectoryFails) {
  EXPECT_EQ(QualifyPath(u"x", u""), u"");
  EXPECT_EQ(QualifyPath(u"x", u"relative"), u"");
}

TEST(PathSeparators, LastSeparatorAndDirectoryPart) {
  EXPECT_EQ(FindLastSeparator(u"/a/b\\c"), 4u);
  EXPECT_EQ(FindLastSeparator(u"name"), std::u16string_view::npos);
  EXPECT_EQ(DirectoryPart(u"/a/b\\c"), u"/a/b\\");
  EXPECT_EQ(DirectoryPart(u"/a/b/"), u"/a/b/");
  EXPECT_EQ(DirectoryPart(u"name"), u"");
  EXPECT_TRUE(EndsWithSeparator(u"/a\\"));
  EXPECT_TRUE(EndsWithSeparator(u"/"));
  EXPECT_FALSE(EndsWithSeparator(u"/a"));
  EXPECT_FALSE(EndsWithSeparator(u""));
}

}  // namespace
}  // namespace qs
