#include <gtest/gtest.h>

#include <string>

#include "resources/downloadable_resources.h"
#include "resources/format_text.h"
#include "resources/own_texts.h"

namespace qs {
namespace {

TEST(OwnTexts, EveryIdOfTheTableHasItsWording) {
  struct Row {
    uint32_t id;
    std::u16string_view text;
  };
  const Row rows[] = {
      {1, u"QSWebFileTransfer Control"},
      {2, u"QSWebFileTransfer Property Page"},
      {200, u"General"},
      {300, u"Select an Export Directory"},
      {301, u"Locate File (%s)"},
      {302, u"Select a Working Directory"},
      {303, u"Select a Folder"},
      {304, u"Select Files to Upload"},
      {306, u"Select a directory to download files to"},
      {307, u"Select File to Upload"},
      {308, u"Failed to run \"%s\", Error: %d"},
      {309, u"An attempt to access a file \"%s\" was made. Do you want to allow it?"},
      {310, u"An access was denied while retrieving a file to an unauthorized directory."},
      {311, u"An unhandled exception occured in ActiveX control."},
      {312, u"An error occured"},
      {313, u"An attempt to open or execute potentially harmful file was blocked."},
      {57344, u"Quillstone Web Client"},
  };
  DownloadableResources texts;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    ASSERT_TRUE(OwnText(row.id).has_value());
    EXPECT_EQ(*OwnText(row.id), row.text);
    EXPECT_EQ(texts.GetString(row.id), row.text);
  }
}

TEST(OwnTexts, UnknownIdsGiveEmptyText) {
  DownloadableResources texts;
  for (uint32_t id : {0u, 3u, 305u, 314u, 57343u, 57345u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(OwnText(id).has_value());
    EXPECT_EQ(texts.GetString(id), u"");
  }
}

TEST(OwnTexts, ApplicationTitleIsTheOwnText) {
  EXPECT_EQ(ApplicationTitle(), u"Quillstone Web Client");
}

TEST(FormatText, FillsPlaceholdersInOrder) {
  struct Row {
    std::u16string_view pattern;
    std::u16string expected;
  };
  const Row rows[] = {
      {u"Locate File (%s)", u"Locate File (a.txt)"},
      {u"Failed to run \"%s\", Error: %d", u"Failed to run \"a.txt\", Error: -5"},
      {u"no placeholders", u"no placeholders"},
      {u"100%% sure", u"100% sure"},
      {u"trailing %", u"trailing %"},
      {u"%x and %s", u"%x and a.txt"},
      {u"", u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.pattern.begin(), row.pattern.end()));
    EXPECT_EQ(FormatText(row.pattern, {u"a.txt", -5}), row.expected);
  }
}

TEST(FormatText, ArgumentsAreNeverReadAsPlaceholders) {
  // A file name chosen by a page may contain anything, including what looks like a format.
  EXPECT_EQ(FormatText(u"Locate File (%s)", {u"%s%d%n%%s"}), u"Locate File (%s%d%n%%s)");
  EXPECT_EQ(FormatText(u"Failed to run \"%s\", Error: %d", {u"100%", 5}),
            u"Failed to run \"100%\", Error: 5");
}

TEST(FormatText, MorePlaceholdersThanArgumentsStayLiteral) {
  // A language module's text may ask for more than the caller gives: nothing is read beyond.
  EXPECT_EQ(FormatText(u"%s %d %s %s", {u"a", 1}), u"a 1 %s %s");
  EXPECT_EQ(FormatText(u"%s", {}), u"%s");
}

TEST(FormatText, MismatchedKindsAreWrittenAsTheyAre) {
  EXPECT_EQ(FormatText(u"%s/%d", {42, u"x"}), u"42/x");
  EXPECT_EQ(FormatText(u"%d", {int64_t{-9223372036854775807LL - 1}}), u"-9223372036854775808");
}

TEST(DownloadableResources, FormatFillsTheTextOfAnId) {
  DownloadableResources texts;
  EXPECT_EQ(texts.Format(TextId::kAllowFileAccess, {u"/tmp/%s.txt"}),
            u"An attempt to access a file \"/tmp/%s.txt\" was made. Do you want to allow it?");
  EXPECT_EQ(texts.Format(TextId::kLocateFileTitle, {u""}), u"Locate File ()");
}

}  // namespace
}  // namespace qs
