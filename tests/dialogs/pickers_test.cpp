// The picker methods over scripted dialogs and a real folder tree: what they return, which
// titles they show, and which grants they leave in the access guard.
#include "dialogs/pickers.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "dialogs/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "workdir/operation_scope.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
namespace scripted = platform::scripted;
using testing::TempDir;
using testing::WriteFile;
using Paths = std::vector<std::u16string>;

std::u16string U(const fs::path& p) { return FromUtf8(p.string()); }

// The names in `dir` as the file system lists them, without "." and "..".
std::vector<std::string> RawOrder(const fs::path& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.emplace_back(e->d_name);
    }
  }
  ::closedir(d);
  return names;
}

class PickersTest : public ::testing::Test {
 protected:
  PickersTest() : guard_([] { return std::u16string(); }) {
    // tree/ holds files, a hidden file, two sub-folders (one nested) and links.
    tree_ = dir_.path() / "tree";
    for (const char* name : {"b.txt", ".hidden", "a.txt", "z.doc"}) WriteFile(tree_ / name, name);
    WriteFile(tree_ / "sub" / "s1.txt", "s1");
    WriteFile(tree_ / "sub" / "deep" / "d1.txt", "d1");
    fs::create_directories(tree_ / "empty");
    fs::create_symlink(tree_ / "sub", tree_ / "link-to-dir");
    fs::create_symlink(tree_ / "a.txt", tree_ / "link-to-file");
    context_.dialogs = &dialogs_;
    context_.guard = &guard_;
    context_.texts = [](TextId id) {
      switch (id) {
        case TextId::kLocateFileTitle: return std::u16string(u"Locate File (%s)");
        case TextId::kErrorOccurred: return std::u16string(u"An error occured");
        default: return u"title " + FromAscii(std::to_string(ToUint(id)));
      }
    };
  }

  // Lists `dir` by hand in the file system's order, as CollectFiles should.
  void ExpectedFiles(const fs::path& dir, bool recursively, Paths& out) {
    for (const auto& name : RawOrder(dir)) {
      if (name.starts_with('.')) continue;
      const fs::path p = dir / name;
      if (fs::is_symlink(p)) {
        if (fs::is_regular_file(p)) out.push_back(U(p));
      } else if (fs::is_directory(p)) {
        if (recursively) ExpectedFiles(p, true, out);
      } else {
        out.push_back(U(p));
      }
    }
  }

  TempDir dir_;
  fs::path tree_;
  platform::ScriptedDialogs dialogs_;
  AccessGuard guard_;
  PickerContext context_;
};

TEST_F(PickersTest, CollectFilesFollowsTheFileSystemsOrderDepthFirst) {
  for (const bool recursively : {false, true}) {
    SCOPED_TRACE(recursively);
    Paths expected;
    ExpectedFiles(tree_, recursively, expected);
    Paths listed;
    CollectFiles(U(tree_), listed, recursively);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(std::find(listed.begin(), listed.end(), U(tree_ / ".hidden")), listed.end());
    EXPECT_NE(std::find(listed.begin(), listed.end(), U(tree_ / "link-to-file")), listed.end());
    const bool has_deep =
        std::find(listed.begin(), listed.end(), U(tree_ / "sub/deep/d1.txt")) != listed.end();
    EXPECT_EQ(has_deep, recursively);
    // The linked folder is never entered.
    for (const auto& p : listed) EXPECT_EQ(p.find(u"link-to-dir"), std::u16string::npos);
  }
  Paths listed{u"kept"};
  CollectFiles(U(tree_ / "empty"), listed, true);
  CollectFiles(U(tree_ / "missing"), listed, true);
  EXPECT_EQ(listed, Paths{u"kept"});
}

TEST_F(PickersTest, SelectFilesInFolderGivesTheBaseThenTheFilesAndGrantsOnlyThePickedFolder) {
  dialogs_.Queue({scripted::Folder{U(tree_)}, scripted::Folder{U(tree_ / "empty")}});
  WriteFile(dir_.path() / "taxes.txt", "beside the picked folder");
  WriteFile(dir_.path() / "sibling" / "s.txt", "in a sibling");
  Paths expected{U(dir_.path()) + u"/"};
  ExpectedFiles(tree_, false, expected);
  EXPECT_EQ(SelectFilesInFolder(context_, false), Variant::List(expected));
  EXPECT_EQ(guard_.scope().kind, ScopeKind::kPickedFolder);
  EXPECT_EQ(guard_.scope().dir, U(tree_));
  EXPECT_TRUE(guard_.CheckAccess(U(tree_ / "sub/s1.txt"), access_mask::kUpload));
  EXPECT_FALSE(guard_.CheckAccess(U(tree_ / "sub/s1.txt"), access_mask::kDelete));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "taxes.txt"), access_mask::kUpload));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "sibling/s.txt"), access_mask::kUpload));

  EXPECT_EQ(SelectFilesInFolder(context_, true), Variant::List({U(tree_) + u"/"}));
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].title, u"title 303");
  EXPECT_EQ(shown[0].start, u"");
}

// The page uploads what the listing gives it: every file listed is one the grant allows, and
// hidden files and folders, which no folder grant reaches, are not listed.
TEST_F(PickersTest, SelectFilesInFolderListsOnlyFilesItsGrantAllows) {
  WriteFile(tree_ / ".config" / "c.txt", "in a hidden folder");
  WriteFile(tree_ / "sub" / ".s1", "hidden below a sub-folder");
  for (const bool recursively : {false, true}) {
    SCOPED_TRACE(recursively);
    dialogs_.Queue(scripted::Folder{U(tree_)});
    const Variant result = SelectFilesInFolder(context_, recursively);
    ASSERT_EQ(result.type(), Variant::Type::kStringList);
    const Paths& listed = result.as_list();
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.size(), recursively ? 7u : 5u);  // the base, a b z link-to-file, s1 d1
    for (size_t i = 1; i < listed.size(); ++i) {
      EXPECT_TRUE(guard_.CheckAccess(listed[i], access_mask::kUpload)) << ToUtf8(listed[i]);
      EXPECT_EQ(listed[i].find(u"/.", U(tree_).size()), std::u16string::npos) << ToUtf8(listed[i]);
    }
  }
}

TEST_F(PickersTest, APickedRootIsItsOwnBase) {
  dialogs_.Queue(scripted::Folder{u"/"});
  // The root's files would be many; only the first entry matters here.
  const Variant result = SelectFilesInFolder(context_, false);
  ASSERT_EQ(result.type(), Variant::Type::kStringList);
  EXPECT_EQ(result.as_list().front(), u"/");
  for (size_t i = 1; i < result.as_list().size(); ++i) {
    EXPECT_FALSE(result.as_list()[i].starts_with(u"//")) << ToUtf8(result.as_list()[i]);
  }
}

TEST_F(PickersTest, ListPickersGiveTheFailureResultWhenNothingIsChosen) {
  dialogs_.Queue({scripted::Cancel{}, scripted::Failure{0x3001}, scripted::Cancel{},
                  scripted::Failure{0x3002}});
  EXPECT_EQ(SelectFilesInFolder(context_, true), Variant::Int(0));
  EXPECT_EQ(SelectFiles(context_), Variant::String(u"An error occured (12289)"));
  EXPECT_EQ(SelectFiles(context_), Variant::Int(0));
  const auto invalid_name = SystemErrorMessage(ToUint(ErrorCode::kInvalidName));
  EXPECT_EQ(SelectFiles(context_), Variant::String(*invalid_name));
  EXPECT_EQ(guard_.scope(), OperationScope{});
}

TEST_F(PickersTest, FilePickersGrantEachChosenFileExactly) {
  const Paths chosen{U(tree_ / "b.txt"), U(tree_ / "a.txt")};
  dialogs_.Queue({scripted::Files{chosen}, scripted::Files{{U(tree_ / "z.doc")}}});
  EXPECT_EQ(SelectFiles(context_), Variant::List(chosen));
  EXPECT_EQ(SelectFile(context_), U(tree_ / "z.doc"));
  for (const auto& p : {chosen[0], chosen[1], U(tree_ / "z.doc")}) {
    EXPECT_TRUE(guard_.CheckAccess(p, access_mask::kUpload)) << ToUtf8(p);
  }
  EXPECT_FALSE(guard_.CheckAccess(U(tree_ / ".hidden"), access_mask::kUpload));
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, platform::DialogKind::kFiles);
  EXPECT_EQ(shown[0].title, u"title 304");
  EXPECT_EQ(shown[1].kind, platform::DialogKind::kFile);
  EXPECT_EQ(shown[1].title, u"title 307");

  // Files accumulate until a directory picker replaces the scope.
  dialogs_.Queue(scripted::Folder{U(dir_.path())});
  ASSERT_TRUE(SelectDownloadDir(context_).has_value());
  EXPECT_TRUE(guard_.scope().picked_files.empty());
}

TEST_F(PickersTest, FolderPickersGrantTheirKindAndACancelKeepsThePreviousGrant) {
  dialogs_.Queue(
      {scripted::Folder{U(tree_)}, scripted::Cancel{}, scripted::Folder{U(tree_ / "sub")}});
  EXPECT_EQ(SelectExportDir(context_), U(tree_));
  EXPECT_EQ(guard_.scope().kind, ScopeKind::kExportDir);
  EXPECT_EQ(SelectExportDir(context_), std::nullopt);
  EXPECT_EQ(guard_.scope().kind, ScopeKind::kExportDir);
  EXPECT_EQ(guard_.scope().dir, U(tree_));
  EXPECT_EQ(SelectDownloadDir(context_), U(tree_ / "sub"));
  EXPECT_EQ(guard_.scope().kind, ScopeKind::kDownloadDir);
  EXPECT_EQ(guard_.scope().dir, U(tree_ / "sub"));
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].title, u"title 300");
  EXPECT_EQ(shown[2].title, u"title 306");
}

TEST_F(PickersTest, LocateFileNamesTheFileAndGrantsTheChosenFilesFolder) {
  const fs::path elsewhere = dir_.path() / "elsewhere";
  WriteFile(elsewhere / "renamed.txt", "r");
  WriteFile(elsewhere / "neighbour.txt", "n");
  dialogs_.Queue(
      {scripted::Files{{U(elsewhere / "renamed.txt")}}, scripted::Cancel{}, scripted::Cancel{}});
  EXPECT_EQ(LocateFile(context_, u"a/b/report.txt"), U(elsewhere) + u"/");
  EXPECT_EQ(guard_.scope().kind, ScopeKind::kLocatedDir);
  EXPECT_TRUE(guard_.CheckAccess(U(elsewhere / "neighbour.txt"), access_mask::kExist));

  EXPECT_EQ(LocateFile(context_, u"C:\\docs\\old.txt"), std::nullopt);
  EXPECT_EQ(LocateFile(context_, u"barename"), std::nullopt);
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].title, u"Locate File (report.txt)");
  EXPECT_EQ(shown[0].start, u"a/b/");
  EXPECT_EQ(shown[1].title, u"Locate File (old.txt)");
  EXPECT_EQ(shown[1].start, u"C:/docs/");
  EXPECT_EQ(shown[2].title, u"Locate File ()");
  EXPECT_EQ(shown[2].start, u"barename");
  EXPECT_EQ(guard_.scope().dir, U(elsewhere) + u"/");  // cancels left the grant
}

TEST_F(PickersTest, WithoutDialogsEveryPickerCountsAsCancelled) {
  context_.dialogs = nullptr;
  EXPECT_EQ(SelectExportDir(context_), std::nullopt);
  EXPECT_EQ(SelectDownloadDir(context_), std::nullopt);
  EXPECT_EQ(SelectFilesInFolder(context_, false), Variant::Int(0));
  EXPECT_EQ(SelectFiles(context_), Variant::Int(0));
  EXPECT_EQ(SelectFile(context_), std::nullopt);
  EXPECT_EQ(LocateFile(context_, u"a/b.txt"), std::nullopt);
  EXPECT_EQ(guard_.scope(), OperationScope{});
}

}  // namespace
}  // namespace qs
