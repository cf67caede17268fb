// The three working-directory methods through the method table, with a private settings store
// and application-data folder and scripted dialogs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "control/client_site.h"
#include "control/control.h"
#include "control/control_test_support.h"
#include "dialogs/scripted_dialogs.h"
#include "platform/settings_store.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using platform::scripted::Cancel;
using platform::scripted::Folder;
using testing::ScopedEnv;
using testing::ScriptedSite;

class WorkDirMethodsTest : public ::testing::Test {
 protected:
  WorkDirMethodsTest()
      : config_("XDG_CONFIG_HOME", (dir_.path() / "config").string()),
        data_("XDG_DATA_HOME", (dir_.path() / "data").string()) {}

  // A control on a page of `url` for datasource `ds` and user "alice", with the web client's
  // usual template.
  std::unique_ptr<CQSFileTransferCtrl> MakeControl(std::u16string ds,
                                                   std::u16string url = u"https://dms.example/wc") {
    site_ = std::make_shared<ScriptedSite>(PageIdentity{std::move(url), 3});
    auto control = std::make_unique<CQSFileTransferCtrl>(site_);
    control->ResetProperties();
    Put(*control, u"DatasourceName", std::move(ds));
    Put(*control, u"User", u"alice");
    Put(*control, u"UserWorkDir", u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%");
    return control;
  }
  static void Put(CQSFileTransferCtrl& c, std::u16string_view name, std::u16string value) {
    ASSERT_TRUE(c.Invoke(name, InvokeKind::kPropertyPut, {Variant::String(std::move(value))}).ok());
  }
  static Variant Call(CQSFileTransferCtrl& c, std::u16string_view name) {
    InvokeResult r = c.Invoke(name, InvokeKind::kMethod, {});
    EXPECT_TRUE(r.ok());
    return r.value;
  }
  static std::string WorkDirProperty(CQSFileTransferCtrl& c) {
    return ToUtf8(c.Invoke(u"UserWorkDir", InvokeKind::kPropertyGet, {}).value.as_string());
  }
  std::string SafeDir(const std::string& ds) const {
    return (dir_.path() / "data/Quillstone/WebWorkDir" / ds).string();
  }
  std::optional<std::string> StoredDir(std::u16string_view ds) {
    auto key = platform::SettingsKey::Open(DatasourceKeyPath(ds, u"alice").value());
    if (!key.ok()) return std::nullopt;
    auto data = ReadRegValue(*key, kUserWorkDir);
    if (!data.ok()) return std::nullopt;
    return ToUtf8(TextFromData(*data));
  }
  void StoreFor(std::u16string_view ds, const std::string& dir, std::u16string_view site) {
    auto key = platform::SettingsKey::Create(DatasourceKeyPath(ds, u"alice").value()).value();
    ASSERT_TRUE(key.Set(kUserWorkDir, platform::kRegSz, SzData(FromUtf8(dir))).ok());
    ASSERT_TRUE(MultiSzAppend(key, kAllowedSites, site).ok());
  }

  testing::TempDir dir_;
  ScopedEnv config_;
  ScopedEnv data_;
  std::shared_ptr<ScriptedSite> site_;
};

const Variant kTrue = Variant::Bool(true);
const Variant kFalse = Variant::Bool(false);

TEST_F(WorkDirMethodsTest, CheckForANewPairCreatesStoresAndAnswersTrue) {
  auto control = MakeControl(u"DS1");
  EXPECT_EQ(Call(*control, u"CheckWorkDir"), kTrue);
  EXPECT_TRUE(fs::is_directory(SafeDir("DS1")));
  EXPECT_EQ(StoredDir(u"DS1"), SafeDir("DS1"));
  EXPECT_EQ(WorkDirProperty(*control), SafeDir("DS1"));
  EXPECT_TRUE(site_->dialogs.Shown().empty());
  // From now on the stored directory answers, also for a new control of the same page.
  auto again = MakeControl(u"DS1");
  EXPECT_EQ(Call(*again, u"ChooseWorkDir"), kTrue);
  EXPECT_EQ(WorkDirProperty(*again), SafeDir("DS1"));
  EXPECT_TRUE(site_->dialogs.Shown().empty());
}

TEST_F(WorkDirMethodsTest, ChooseForAPairOfAnotherSiteShowsThePickerOnTheDefault) {
  const std::string theirs = (dir_.path() / "theirs").string();
  fs::create_directories(theirs);
  StoreFor(u"DS1", theirs, u"other.example");
  fs::create_directories(SafeDir("DS1"));
  auto control = MakeControl(u"DS1");
  const std::string picked = (dir_.path() / "picked").string();
  site_->dialogs.Queue(Folder{FromUtf8(picked)});
  EXPECT_EQ(Call(*control, u"ChooseWorkDir"), kTrue);
  const auto shown = site_->dialogs.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, platform::DialogKind::kFolder);
  EXPECT_EQ(shown[0].title, u"Select a Working Directory");
  EXPECT_EQ(ToUtf8(shown[0].start), SafeDir("DS1"));
  EXPECT_EQ(StoredDir(u"DS1"), picked);
  EXPECT_EQ(WorkDirProperty(*control), picked);
}

TEST_F(WorkDirMethodsTest, ChangeCancelledChangesNothing) {
  const std::string mine = (dir_.path() / "mine").string();
  fs::create_directories(mine);
  StoreFor(u"DS1", mine, u"dms.example");
  auto control = MakeControl(u"DS1");
  ASSERT_EQ(Call(*control, u"CheckWorkDir"), kTrue);
  site_->dialogs.Queue(Cancel{});
  EXPECT_EQ(Call(*control, u"ChangeWorkDir"), kFalse);
  EXPECT_EQ(ToUtf8(site_->dialogs.Shown().at(0).start), mine);
  EXPECT_EQ(StoredDir(u"DS1"), mine);
  EXPECT_EQ(WorkDirProperty(*control), mine);
}

TEST_F(WorkDirMethodsTest, DatasourceWithASeparatorMakesAllThreeFalse) {
  for (const std::u16string ds : {u"..\\evil", u"../evil"}) {
    auto control = MakeControl(ds);
    for (auto method : {u"CheckWorkDir", u"ChooseWorkDir", u"ChangeWorkDir"}) {
      site_->dialogs.Queue(Folder{FromUtf8(dir_.path().string())});
      EXPECT_EQ(Call(*control, method), kFalse);
      site_->dialogs.Clear();
    }
    EXPECT_TRUE(site_->dialogs.Shown().empty());
  }
  EXPECT_FALSE(platform::SettingsKey::Open(kClientKey).ok());
  EXPECT_FALSE(fs::exists(dir_.path() / "data"));
}

TEST_F(WorkDirMethodsTest, PageWithoutHostMakesAllThreeFalse) {
  auto control = MakeControl(u"DS1", u"file:///home/alice/page.html");
  for (auto method : {u"CheckWorkDir", u"ChooseWorkDir", u"ChangeWorkDir"}) {
    EXPECT_EQ(Call(*control, method), kFalse);
  }
  EXPECT_TRUE(site_->dialogs.Shown().empty());
  EXPECT_FALSE(platform::SettingsKey::Open(kClientKey).ok());
}

TEST_F(WorkDirMethodsTest, NoSiteMeansNoWorkDir) {
  CQSFileTransferCtrl control(nullptr);
  control.ResetProperties();
  Put(control, u"DatasourceName", u"DS1");
  Put(control, u"User", u"alice");
  EXPECT_EQ(Call(control, u"CheckWorkDir"), kFalse);
  EXPECT_EQ(Call(control, u"ChooseWorkDir"), kFalse);
}

}  // namespace
}  // namespace qs
