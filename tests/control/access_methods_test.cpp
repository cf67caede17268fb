// The scope, local-file and picker methods through the method table: grants from the working
// directory and the pickers, the hand-over of a scope between controls, and paths too long to
// qualify.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "control/client_site.h"
#include "control/control.h"
#include "control/control_test_support.h"
#include "dialogs/scripted_dialogs.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "workdir/operation_scope.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
namespace scripted = platform::scripted;
using testing::ScopedEnv;
using testing::ScriptedSite;
using testing::WriteFile;

std::u16string U(const fs::path& p) { return FromUtf8(p.string()); }

const Variant kTrue = Variant::Bool(true);
const Variant kFalse = Variant::Bool(false);

class AccessMethodsTest : public ::testing::Test {
 protected:
  AccessMethodsTest()
      : config_("XDG_CONFIG_HOME", (dir_.path() / "config").string()),
        data_("XDG_DATA_HOME", (dir_.path() / "data").string()) {
    work_ = dir_.path() / "data/Quillstone/WebWorkDir/DS1";
  }

  // A control of datasource `ds` whose working directory is the default, created on first need
  // in the safe location.
  std::unique_ptr<CQSFileTransferCtrl> MakeControl(std::u16string ds = u"DS1") {
    auto site = std::make_shared<ScriptedSite>(u"https://dms.example/wc/page");
    sites_.push_back(site);
    auto control = std::make_unique<CQSFileTransferCtrl>(site);
    control->ResetProperties();
    Put(*control, u"DatasourceName", std::move(ds));
    Put(*control, u"User", u"alice");
    Put(*control, u"UserWorkDir", u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%");
    return control;
  }
  static void Put(CQSFileTransferCtrl& c, std::u16string_view name, std::u16string value) {
    ASSERT_TRUE(c.Invoke(name, InvokeKind::kPropertyPut, {Variant::String(std::move(value))}).ok());
  }
  static Variant Call(CQSFileTransferCtrl& c, std::u16string_view name,
                      std::vector<Variant> args = {}) {
    InvokeResult r = c.Invoke(name, InvokeKind::kMethod, args);
    EXPECT_TRUE(r.ok()) << ToUtf8(name) << ": " << ToUtf8(r.message);
    return r.value;
  }
  static Variant Call(CQSFileTransferCtrl& c, std::u16string_view name, const fs::path& path) {
    return Call(c, name, {Variant::String(U(path))});
  }
  platform::ScriptedDialogs& Dialogs(size_t i) { return sites_.at(i)->dialogs; }

  testing::TempDir dir_;
  ScopedEnv config_;
  ScopedEnv data_;
  fs::path work_;
  std::vector<std::shared_ptr<ScriptedSite>> sites_;
};

TEST_F(AccessMethodsTest, TheWorkingDirectoryGrantsItsOwnTreeOnly) {
  auto control = MakeControl();
  ASSERT_EQ(Call(*control, u"CheckWorkDir"), kTrue);  // creates the default in the safe location
  ASSERT_TRUE(fs::is_directory(work_));
  WriteFile(work_ / "doc.txt", "d");
  WriteFile(work_.parent_path() / "DS10" / "doc.txt", "another datasource");
  EXPECT_EQ(Call(*control, u"FileExist", work_ / "doc.txt"), kTrue);
  EXPECT_EQ(Call(*control, u"FolderExist", work_ / "doc.txt"), kFalse);
  EXPECT_EQ(Call(*control, u"FolderExist", {Variant::String(U(work_) + u"/")}), kTrue);
  EXPECT_EQ(Call(*control, u"FolderExist", work_), kFalse);  // judged by its parent
  EXPECT_EQ(Call(*control, u"FileExist", work_.parent_path() / "DS10" / "doc.txt"), kFalse);
  EXPECT_EQ(Call(*control, u"FileExist", work_.parent_path() / "ds1" / "doc.txt"), kFalse);
}

TEST_F(AccessMethodsTest, AnExportFolderAllowsDeletingButNotUploading) {
  auto control = MakeControl(u"DSX");
  const fs::path exported = dir_.path() / "export";
  WriteFile(exported / "sub" / "doc.txt", "d");
  Dialogs(0).Queue(scripted::Folder{U(exported)});
  EXPECT_EQ(Call(*control, u"SelectExportDir"), Variant::String(U(exported)));
  const std::u16string doc = U(exported / "sub/doc.txt");
  EXPECT_EQ(Call(*control, u"FileExist", {Variant::String(doc)}), kTrue);
  EXPECT_TRUE(control->access_guard().CheckAccess(doc, access_mask::kDelete));
  EXPECT_FALSE(control->access_guard().CheckAccess(doc, access_mask::kUpload));

  // A cancelled picker leaves the grant.
  Dialogs(0).Queue(scripted::Cancel{});
  EXPECT_EQ(Call(*control, u"SelectExportDir"), Variant::Null());
  EXPECT_EQ(Call(*control, u"FileExist", {Variant::String(doc)}), kTrue);
}

TEST_F(AccessMethodsTest, AScopeIsHandedOverOnceAndWithdrawnByFinishOrDestruction) {
  auto a = MakeControl(u"DSX");
  auto b = MakeControl(u"DSX");
  auto c = MakeControl(u"DSX");
  const fs::path picked = dir_.path() / "downloads";
  WriteFile(picked / "f.txt", "f");
  Dialogs(0).Queue(scripted::Folder{U(picked)});
  ASSERT_EQ(Call(*a, u"SelectDownloadDir"), Variant::String(U(picked)));

  const Variant id = Call(*a, u"GetOperationScope");
  ASSERT_TRUE(id.is_string());
  EXPECT_EQ(id.as_string().size(), 36u);
  EXPECT_EQ(Call(*b, u"FileExist", picked / "f.txt"), kFalse);
  Call(*b, u"SetOperationScope", {id});
  EXPECT_EQ(Call(*b, u"FileExist", picked / "f.txt"), kTrue);
  Call(*c, u"SetOperationScope", {id});
  EXPECT_EQ(Call(*c, u"FileExist", picked / "f.txt"), kFalse);

  // FinishOperation ends the scope and withdraws what was published.
  const Variant second = Call(*a, u"GetOperationScope");
  Call(*a, u"FinishOperation");
  EXPECT_EQ(Call(*a, u"FileExist", picked / "f.txt"), kFalse);
  Call(*c, u"SetOperationScope", {second});
  EXPECT_EQ(Call(*c, u"FileExist", picked / "f.txt"), kFalse);

  // So does the publisher's destruction.
  const Variant third = Call(*b, u"GetOperationScope");
  b.reset();
  Call(*c, u"SetOperationScope", {third});
  EXPECT_EQ(Call(*c, u"FileExist", picked / "f.txt"), kFalse);
  Call(*c, u"SetOperationScope", {Variant::Null()});
  Call(*c, u"SetOperationScope", {Variant::String(u"")});
}

TEST_F(AccessMethodsTest, LocateFileShowsTheNameAndGivesTheChosenFilesFolder) {
  auto control = MakeControl(u"DSX");
  const fs::path found = dir_.path() / "found";
  WriteFile(found / "report-final.txt", "r");
  WriteFile(found / "sibling.txt", "s");
  Dialogs(0).Queue(scripted::Files{{U(found / "report-final.txt")}});
  EXPECT_EQ(Call(*control, u"LocateFile", {Variant::String(u"a/b/report.txt")}),
            Variant::String(U(found) + u"/"));
  const auto shown = Dialogs(0).Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, u"Locate File (report.txt)");
  EXPECT_EQ(shown[0].start, u"a/b/");
  EXPECT_EQ(Call(*control, u"FileExist", found / "sibling.txt"), kTrue);
}

TEST_F(AccessMethodsTest, PathsOf260UnitsOrMoreAreRefusedByEveryMethod) {
  auto control = MakeControl();
  ASSERT_EQ(Call(*control, u"CheckWorkDir"), kTrue);  // creates the default in the safe location
  ASSERT_TRUE(fs::is_directory(work_));
  // A real file whose full path is 260 units long, inside the working directory.
  const std::string base = work_.string() + "/";
  const fs::path long_file = base + std::string(260 - base.size() - 4, 'n') + ".txt";
  ASSERT_EQ(long_file.string().size(), 260u);
  WriteFile(long_file, "long");
  const fs::path short_file = base + std::string(259 - base.size() - 4, 'n') + ".txt";
  WriteFile(short_file, "short");
  const int64_t unix_seconds = 1000000000;
  const std::u16string time =
      FromAscii(std::to_string((unix_seconds + 11644473600LL) * 10000000LL));

  EXPECT_EQ(Call(*control, u"FileExist", short_file), kTrue);
  EXPECT_EQ(Call(*control, u"FileExist", long_file), kFalse);
  EXPECT_EQ(Call(*control, u"FolderExist",
                 {Variant::String(U(long_file.parent_path()) + u"/" + std::u16string(260, u'd'))}),
            kFalse);
  EXPECT_EQ(Call(*control, u"FileChanged", {Variant::String(U(long_file)), Variant::String(u"1")}),
            kFalse);
  Call(*control, u"UpdateFileTime", {Variant::String(U(long_file)), Variant::String(time)});
  Call(*control, u"DeleteFile", long_file);
  Call(*control, u"Open", long_file);
  struct stat info {};
  ASSERT_EQ(::stat(long_file.c_str(), &info), 0);
  EXPECT_NE(info.st_mtim.tv_sec, unix_seconds);
  EXPECT_TRUE(Dialogs(0).Shown().empty());

  Call(*control, u"UpdateFileTime", {Variant::String(U(short_file)), Variant::String(time)});
  ASSERT_EQ(::stat(short_file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, unix_seconds);
}

TEST_F(AccessMethodsTest, NullArgumentsAreRefusedQuietly) {
  auto control = MakeControl();
  ASSERT_EQ(Call(*control, u"CheckWorkDir"), kTrue);  // creates the default in the safe location
  ASSERT_TRUE(fs::is_directory(work_));
  WriteFile(work_ / "doc.txt", "d");
  EXPECT_EQ(Call(*control, u"FileExist", {Variant::Null()}), kFalse);
  EXPECT_EQ(Call(*control, u"FileChanged", {Variant::Null(), Variant::String(u"1")}), kFalse);
  EXPECT_EQ(
      Call(*control, u"FileChanged", {Variant::String(U(work_ / "doc.txt")), Variant::Null()}),
      kFalse);
  Call(*control, u"Open", {Variant::Null()});
  EXPECT_TRUE(Dialogs(0).Shown().empty());
}

}  // namespace
}  // namespace qs
