#include "dialogs/native_dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "dialogs/scripted_dialogs.h"

namespace qs {
namespace {

using platform::FileSelection;
using platform::ScriptedDialogs;
namespace scripted = platform::scripted;
using Paths = std::vector<std::u16string>;

std::u16string Texts(TextId id) {
  return id == TextId::kErrorOccurred ? u"An error occured" : u"?";
}

TEST(MakePickerFailureResult, TellsCancelFromFailures) {
  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Cancel{}, scripted::Failure{12290}, scripted::Failure{0x3001},
                 scripted::Failure{2}});
  const auto invalid_name = SystemErrorMessage(ToUint(ErrorCode::kInvalidName));
  ASSERT_TRUE(invalid_name.has_value());

  struct Case {
    const char* name;
    Variant expected;
  };
  const Case cases[] = {
      {"cancel gives the integer 0", Variant::Int(0)},
      {"name buffer too small gives the system's text for 123", Variant::String(*invalid_name)},
      {"another code gives text 312 and the code", Variant::String(u"An error occured (12289)")},
      {"a small code", Variant::String(u"An error occured (2)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Paths picked;
    PickerStatus status =
        ShowFilePicker(&dialogs, u"Select Files to Upload", picked, u"", FileSelection::kMultiple);
    EXPECT_FALSE(status.chosen());
    EXPECT_TRUE(picked.empty());
    EXPECT_EQ(MakePickerFailureResult(status, Texts), c.expected);
  }
}

TEST(MakePickerFailureResult, NoBackendCountsAsCancel) {
  Paths picked;
  PickerStatus status = ShowFilePicker(nullptr, u"T", picked, u"", FileSelection::kSingle);
  EXPECT_FALSE(status);
  EXPECT_EQ(MakePickerFailureResult(status, Texts), Variant::Int(0));
  std::u16string folder = u"/keep";
  EXPECT_FALSE(ShowFolderPicker(nullptr, u"T", folder));
  EXPECT_EQ(folder, u"/keep");
}

TEST(ShowFilePicker, AppendsEveryChosenFileInTheDialogsOrder) {
  ScriptedDialogs dialogs;
  dialogs.Queue(scripted::Files{{u"/d/c.txt", u"/d/a.txt", u"/d/b.txt"}});
  Paths picked = {u"/earlier"};
  ASSERT_TRUE(ShowFilePicker(&dialogs, u"Select Files to Upload", picked, u"/start",
                             FileSelection::kMultiple));
  EXPECT_EQ(picked, (Paths{u"/earlier", u"/d/c.txt", u"/d/a.txt", u"/d/b.txt"}));
  auto shown = dialogs.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, platform::DialogKind::kFiles);
  EXPECT_EQ(shown[0].title, u"Select Files to Upload");
  EXPECT_EQ(shown[0].start, u"/start");
}

TEST(ShowFilePicker, ManyFilesComeBackWhole) {
  Paths many;
  for (int i = 0; i < 5000; ++i) {
    many.push_back(u"/data/folder with a long name/file number " +
                   std::u16string(1, u'a' + i % 26) + u"-" + std::u16string(i % 300, u'x'));
  }
  ScriptedDialogs dialogs;
  dialogs.Queue(scripted::Files{many});
  Paths picked;
  ASSERT_TRUE(ShowFilePicker(&dialogs, u"T", picked, u"", FileSelection::kMultiple));
  EXPECT_EQ(picked, many);
}

TEST(ShowFolderPicker, StartFolderIsShownAndReplacedOnlyByAChoice) {
  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Cancel{}, scripted::Folder{u"/chosen"}});
  std::u16string folder = u"/home/u/WebWorkDir/DS1";
  EXPECT_FALSE(ShowFolderPicker(&dialogs, u"Select a Working Directory", folder));
  EXPECT_EQ(folder, u"/home/u/WebWorkDir/DS1");
  EXPECT_TRUE(ShowFolderPicker(&dialogs, u"Select a Working Directory", folder));
  EXPECT_EQ(folder, u"/chosen");

  auto shown = dialogs.Shown();
  ASSERT_EQ(shown.size(), 2u);
  for (const auto& d : shown) {
    EXPECT_EQ(d.kind, platform::DialogKind::kFolder);
    EXPECT_EQ(d.title, u"Select a Working Directory");
    EXPECT_EQ(d.start, u"/home/u/WebWorkDir/DS1");
  }
}

TEST(PickFileToLocate, SplitsThePageGivenPathIntoStartDirectoryAndTitle) {
  struct Case {
    const char* name;
    std::u16string path;
    std::u16string start;
    std::u16string title;
  };
  const Case cases[] = {
      {"forward slashes", u"/w/docs/report.odt", u"/w/docs/", u"Locate File (report.odt)"},
      {"backslashes", u"C:\\w\\docs\\report.odt", u"C:/w/docs/", u"Locate File (report.odt)"},
      {"mixed", u"/w\\docs/sub\\r.txt", u"/w/docs/sub/", u"Locate File (r.txt)"},
      {"bare name is the start", u"report.odt", u"report.odt", u"Locate File ()"},
      {"empty path", u"", u"", u"Locate File ()"},
      {"placeholders in the name stay literal", u"/w/%s%d.txt", u"/w/", u"Locate File (%s%d.txt)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDialogs dialogs;
    dialogs.Queue(scripted::Files{{u"/else/where/other.odt"}});
    std::u16string path = c.path;
    ASSERT_TRUE(PickFileToLocate(&dialogs, u"Locate File (%s)", path));
    EXPECT_EQ(path, u"/else/where/other.odt");
    auto shown = dialogs.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, platform::DialogKind::kFile);
    EXPECT_EQ(shown[0].start, c.start);
    EXPECT_EQ(shown[0].title, c.title);
  }
}

TEST(PickFileToLocate, CancelOrFailureLeavesThePath) {
  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Cancel{}, scripted::Failure{12290}});
  std::u16string path = u"/w/a.txt";
  PickerStatus cancelled = PickFileToLocate(&dialogs, u"Locate File (%s)", path);
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(cancelled.dialog_error(), 0u);
  PickerStatus failed = PickFileToLocate(&dialogs, u"Locate File (%s)", path);
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.dialog_error(), 12290u);
  EXPECT_EQ(path, u"/w/a.txt");
}

}  // namespace
}  // namespace qs
