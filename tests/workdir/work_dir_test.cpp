#include "workdir/work_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "workdir_fixture.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using platform::DialogKind;
using platform::scripted::Cancel;
using platform::scripted::Folder;
using Sites = std::vector<std::string>;

constexpr std::u16string_view kDefaultTemplate =
    u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%";
constexpr const char* kHost = "docs.example.com";

class ResolveWorkDirTest : public testing::WorkDirTest {
 protected:
  void SetUp() override { user_work_dir_ = kDefaultTemplate; }
};

// --- New pairs --------------------------------------------------------------------------------

TEST_F(ResolveWorkDirTest, CheckCreatesTheSafeDefaultStoresItAndTakesIt) {
  const std::string expected = SafeDir("DS1");
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kCheck)), expected);
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_EQ(StoredDir(), expected);
  EXPECT_EQ(Stored(kUserWorkDir)->type, platform::kRegSz);
  EXPECT_EQ(StoredSites(), Sites{kHost});
  EXPECT_EQ(ToUtf8(user_work_dir_), expected);  // the page reads the result from the property
  EXPECT_TRUE(dialogs_.Shown().empty());
}

TEST_F(ResolveWorkDirTest, ChooseTakesTheSafeDefaultWithoutAsking) {
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChoose)), SafeDir("DS1"));
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_EQ(StoredSites(), Sites{kHost});
}

TEST_F(ResolveWorkDirTest, CheckRefusesADefaultThatAlreadyExists) {
  fs::create_directories(SafeDir("DS1"));
  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
  EXPECT_FALSE(KeyExists());
  EXPECT_EQ(user_work_dir_, kDefaultTemplate);
}

TEST_F(ResolveWorkDirTest, ChooseAsksForAnExistingDefault) {
  fs::create_directories(SafeDir("DS1"));
  const std::string picked = (dir_.path() / "picked").string();
  dialogs_.Queue(Folder{FromUtf8(picked)});
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChoose)), picked);
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogKind::kFolder);
  EXPECT_EQ(shown[0].title, u"Select a Working Directory");
  EXPECT_EQ(ToUtf8(shown[0].start), SafeDir("DS1"));
  EXPECT_EQ(StoredDir(), picked);
  EXPECT_EQ(StoredSites(), Sites{kHost});
}

TEST_F(ResolveWorkDirTest, DefaultOutsideEverySafeLocationIsCreatedButNotTakenUnasked) {
  const std::string outside = (dir_.path() / "elsewhere/work").string();
  user_work_dir_ = FromUtf8(outside);
  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
  EXPECT_TRUE(fs::is_directory(outside));  // stays on disk
  EXPECT_FALSE(KeyExists());

  // Now it exists: Choose proposes it and the user confirms.
  dialogs_.Queue(Folder{FromUtf8(outside)});
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChoose)), outside);
  EXPECT_EQ(ToUtf8(dialogs_.Shown().at(0).start), outside);
}

TEST_F(ResolveWorkDirTest, ChooseWithAnEmptyTemplateOpensThePickerWithoutStart) {
  user_work_dir_.clear();
  dialogs_.Queue(Cancel{});
  EXPECT_EQ(Resolve(WorkDirMode::kChoose), u"");
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].start, u"");
  EXPECT_FALSE(KeyExists());
  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
}

TEST_F(ResolveWorkDirTest, DatasourceColonBecomesUnderscoreInThePathOnly) {
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kCheck, u"srv:DS1")), SafeDir("srv_DS1"));
  EXPECT_EQ(StoredDir(u"srv:DS1"), SafeDir("srv_DS1"));  // the key name keeps the ":"
  EXPECT_FALSE(KeyExists(u"srv_DS1"));
}

TEST_F(ResolveWorkDirTest, TemplateMacrosUseTheUser) {
  user_work_dir_ = u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%\\%User%";
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kCheck)), SafeDir("DS1") + "/alice");
}

// --- Sound behaviour where a plain prefix test would be wrong --------------------------------

TEST_F(ResolveWorkDirTest, SiblingWhoseNameExtendsTheSafeLocationIsNotSafe) {
  // The safe location of DS1 is .../WebWorkDir/DS1; .../WebWorkDir/DS10 is another datasource's.
  user_work_dir_ = u"%LocalAppData%\\Quillstone\\WebWorkDir\\DS10";
  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
  EXPECT_TRUE(fs::is_directory(SafeDir("DS10")));
  EXPECT_FALSE(KeyExists());
}

TEST_F(ResolveWorkDirTest, DatasourceWithASeparatorIsRefusedEverywhere) {
  for (const std::u16string ds : {u"a\\b", u"a/b", u"../../../tmp", u"/", u"\\"}) {
    for (const auto mode : {WorkDirMode::kCheck, WorkDirMode::kChoose, WorkDirMode::kChange}) {
      dialogs_.Queue(Folder{FromUtf8(dir_.path().string())});
      EXPECT_EQ(Resolve(mode, ds), u"") << ToUtf8(ds);
      dialogs_.Clear();
    }
  }
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_FALSE(fs::exists(dir_.path() / "config/quillstone/registry.db") &&
               platform::SettingsKey::Open(u"SOFTWARE").ok());
  EXPECT_FALSE(fs::exists(dir_.path() / "data/Quillstone"));
  EXPECT_EQ(user_work_dir_, kDefaultTemplate);
}

TEST_F(ResolveWorkDirTest, MissingInputsGiveNothing) {
  struct Case {
    std::u16string ds, user;
    std::optional<std::u16string> url;
  };
  const std::vector<Case> cases = {
      {u"", u"alice", u"https://docs.example.com/"},
      {u"DS1", u"", u"https://docs.example.com/"},
      {u"DS1", u"alice", std::nullopt},                  // no page
      {u"DS1", u"alice", u"file:///home/alice/x.html"},  // no host
      {u"DS1", u"alice", u"not a url"},
  };
  for (const auto& c : cases) {
    for (const auto mode : {WorkDirMode::kCheck, WorkDirMode::kChoose, WorkDirMode::kChange}) {
      EXPECT_EQ(Resolve(mode, c.ds, c.user, c.url), u"");
    }
  }
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_FALSE(fs::exists(dir_.path() / "data/Quillstone"));
}

TEST_F(ResolveWorkDirTest, KeyPathTooLongIsRefusedBeforeAnythingHappens) {
  const std::u16string ds(250, u'd');  // the key path would exceed 255 characters
  for (const auto mode : {WorkDirMode::kCheck, WorkDirMode::kChoose, WorkDirMode::kChange}) {
    EXPECT_EQ(Resolve(mode, ds), u"");
  }
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_FALSE(fs::exists(dir_.path() / "data"));
}

// --- Stored pairs ------------------------------------------------------------------------------

TEST_F(ResolveWorkDirTest, StoredForThisSiteIsTakenAsStored) {
  const std::string stored = (dir_.path() / "mine").string();
  fs::create_directories(stored);
  const std::vector<std::u16string> sites = {u"other.example.com", u"DOCS.Example.COM"};
  StoreSettings(stored + "//", &sites);  // returned exactly as stored, not qualified
  for (const auto mode : {WorkDirMode::kCheck, WorkDirMode::kChoose}) {
    EXPECT_EQ(ToUtf8(Resolve(mode)), stored + "//");
  }
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_EQ(StoredSites(), (Sites{"other.example.com", "DOCS.Example.COM"}));
}

TEST_F(ResolveWorkDirTest, StoredWithoutSitesBelongsToTheFirstSite) {
  const std::string stored = (dir_.path() / "mine").string();
  fs::create_directories(stored);
  StoreSettings(stored, nullptr);
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChoose)), stored);
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_EQ(StoredSites(), Sites{kHost});
  // A second site is now a stranger.
  EXPECT_EQ(Resolve(WorkDirMode::kCheck, u"DS1", u"alice", u"https://intruder.example/"), u"");
}

TEST_F(ResolveWorkDirTest, StoredForAnotherSiteOnly) {
  const std::string stored = (dir_.path() / "theirs").string();
  fs::create_directories(stored);
  const std::vector<std::u16string> sites = {u"other.example.com"};
  StoreSettings(stored, &sites);
  fs::create_directories(SafeDir("DS1"));  // the default exists: nothing new to take

  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
  EXPECT_EQ(StoredDir(), stored);

  const std::string picked = (dir_.path() / "picked").string();
  dialogs_.Queue(Folder{FromUtf8(picked)});
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChoose)), picked);
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(ToUtf8(shown[0].start), SafeDir("DS1"));  // the default, not their directory
  // One directory per pair: the choice replaces it for every site.
  EXPECT_EQ(StoredDir(), picked);
  EXPECT_EQ(StoredSites(), (Sites{"other.example.com", kHost}));
}

TEST_F(ResolveWorkDirTest, StoredForAnotherSiteCheckTakesANewSafeDefault) {
  const std::vector<std::u16string> sites = {u"other.example.com"};
  StoreSettings((dir_.path() / "theirs").string(), &sites);
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kCheck)), SafeDir("DS1"));
  EXPECT_EQ(StoredSites(), (Sites{"other.example.com", kHost}));
}

TEST_F(ResolveWorkDirTest, AllowedSitesOfAnotherTypeHoldsNoHost) {
  const std::string stored = (dir_.path() / "mine").string();
  fs::create_directories(stored);
  StoreSettings(stored, nullptr);
  auto key = platform::SettingsKey::Open(KeyPath()).value();
  ASSERT_TRUE(key.Set(kAllowedSites, platform::kRegSz, SzData(u"docs.example.com")).ok());
  fs::create_directories(SafeDir("DS1"));
  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
  dialogs_.Queue(Folder{FromUtf8(stored)});
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChoose)), stored);
  // The append replaced the odd value by a proper one-entry list.
  EXPECT_EQ(Stored(kAllowedSites)->type, platform::kRegMultiSz);
  EXPECT_EQ(StoredSites(), Sites{kHost});
}

TEST_F(ResolveWorkDirTest, ChangeStartsFromTheStoredDirectory) {
  const std::string stored = (dir_.path() / "mine").string();
  fs::create_directories(stored);
  const std::vector<std::u16string> sites = {u"docs.example.com"};
  StoreSettings(stored, &sites);
  const std::string picked = (dir_.path() / "new").string();
  dialogs_.Queue(Folder{FromUtf8(picked)});
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kChange)), picked);
  EXPECT_EQ(ToUtf8(dialogs_.Shown().at(0).start), stored);
  EXPECT_EQ(StoredDir(), picked);
  EXPECT_EQ(StoredSites(), Sites{kHost});  // not listed twice
}

TEST_F(ResolveWorkDirTest, ChangeCancelledChangesNothing) {
  const std::string stored = (dir_.path() / "mine").string();
  fs::create_directories(stored);
  const std::vector<std::u16string> sites = {u"docs.example.com"};
  StoreSettings(stored, &sites);
  user_work_dir_ = FromUtf8(stored);
  dialogs_.Queue(Cancel{});
  EXPECT_EQ(Resolve(WorkDirMode::kChange), u"");
  EXPECT_EQ(ToUtf8(user_work_dir_), stored);
  EXPECT_EQ(StoredDir(), stored);
  EXPECT_EQ(StoredSites(), Sites{kHost});
  EXPECT_EQ(dialogs_.Shown().size(), 1u);
}

TEST_F(ResolveWorkDirTest, ChangeForANewPairNeverCreatesTheDefault) {
  dialogs_.Queue(Cancel{});
  EXPECT_EQ(Resolve(WorkDirMode::kChange), u"");
  EXPECT_EQ(dialogs_.Shown().at(0).start, u"");
  EXPECT_FALSE(fs::exists(SafeDir("DS1")));
  EXPECT_FALSE(KeyExists());
}

TEST_F(ResolveWorkDirTest, VanishedStoredDirectory) {
  const std::string gone = (dir_.path() / "gone").string();
  const std::vector<std::u16string> sites = {u"docs.example.com"};
  // Stored with another type, so that writing it again shows.
  StoreSettings(gone, &sites, platform::kRegExpandSz);
  fs::create_directories(SafeDir("DS1"));  // no new safe default to take

  // Check keeps the stored path and writes it again.
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kCheck)), gone);
  EXPECT_EQ(StoredDir(), gone);
  EXPECT_EQ(Stored(kUserWorkDir)->type, platform::kRegSz);
  EXPECT_TRUE(dialogs_.Shown().empty());

  // Choose proposes the default instead...
  user_work_dir_ = kDefaultTemplate;
  dialogs_.Queue(Cancel{});
  EXPECT_EQ(Resolve(WorkDirMode::kChoose), u"");
  EXPECT_EQ(ToUtf8(dialogs_.Shown().at(0).start), SafeDir("DS1"));

  // ...and, with no template, the stored path.
  user_work_dir_.clear();
  dialogs_.Queue(Cancel{});
  EXPECT_EQ(Resolve(WorkDirMode::kChoose), u"");
  EXPECT_EQ(ToUtf8(dialogs_.Shown().at(0).start), gone);
  EXPECT_EQ(StoredDir(), gone);
}

TEST_F(ResolveWorkDirTest, EmptyStoredValueCountsAsNotSet) {
  auto key = platform::SettingsKey::Create(KeyPath()).value();
  ASSERT_TRUE(key.Set(kUserWorkDir, platform::kRegSz, {}).ok());
  EXPECT_EQ(ToUtf8(Resolve(WorkDirMode::kCheck)), SafeDir("DS1"));
}

TEST_F(ResolveWorkDirTest, UnusableStoreGivesNothingAndIsNotRepaired) {
  // The store's folder is a plain file: nothing can be read or written.
  testing::ScopedEnv config("XDG_CONFIG_HOME", (dir_.path() / "plain-file").string());
  testing::WriteFile(dir_.path() / "plain-file", "x");
  EXPECT_EQ(Resolve(WorkDirMode::kCheck), u"");
  EXPECT_EQ(user_work_dir_, kDefaultTemplate);
  EXPECT_EQ(testing::ReadFile(dir_.path() / "plain-file"), "x");
}

// --- Safe locations ---------------------------------------------------------------------------

class SafeWorkDirTest : public testing::WorkDirTest {
 protected:
  void SetPolicy(const std::vector<std::pair<std::u16string, std::u16string>>& values) {
    auto key = platform::SettingsKey::Create(PolicyKeyPath(kSafeWorkDirs)).value();
    for (const auto& [name, value] : values) {
      ASSERT_TRUE(key.Set(name, platform::kRegSz, SzData(value)).ok());
    }
  }
  bool Safe(const std::string& path, std::u16string_view ds = u"DS1") {
    return IsSafeWorkDir(FromUtf8(path), WorkDirMacros(ds, u"alice"));
  }
};

TEST_F(SafeWorkDirTest, BuiltInLocationCoversItselfAndBelowOnly) {
  const std::string base = SafeDir("DS1");
  EXPECT_TRUE(Safe(base));
  EXPECT_TRUE(Safe(base + "/"));
  EXPECT_TRUE(Safe(base + "/sub/deeper"));
  EXPECT_TRUE(Safe(base + "/sub/../other"));
  EXPECT_FALSE(Safe(base + "0"));  // DS10 is not DS1's
  EXPECT_FALSE(Safe(base + "-old/x"));
  EXPECT_FALSE(Safe(base + "/.."));    // .../WebWorkDir itself
  EXPECT_FALSE(Safe(SafeDir("ds1")));  // names are case-sensitive
  EXPECT_FALSE(Safe(base, u"DS2"));    // another datasource's location
  EXPECT_TRUE(Safe(SafeDir("a_b"), u"a:b"));
  EXPECT_FALSE(Safe(std::string(300, 'x')));
}

TEST_F(SafeWorkDirTest, PolicyLocationsAreExpandedAndBoundaryChecked) {
  SetPolicy({{u"1", u"/srv/work\\%Datasource%"}, {u"2", u"/srv/shared/"}, {u"4", u"/opt"}});
  EXPECT_TRUE(Safe("/srv/work/DS1"));
  EXPECT_TRUE(Safe("/srv/work/DS1/x"));
  EXPECT_FALSE(Safe("/srv/work/DS10"));
  EXPECT_FALSE(Safe("/srv/work"));
  EXPECT_TRUE(Safe("/srv/shared/anything"));
  EXPECT_TRUE(Safe("/srv/shared"));  // equals the location once qualified with its "/"
  EXPECT_FALSE(Safe("/srv/sharedx"));
  EXPECT_FALSE(Safe("/opt/x"));  // "3" is missing: the list ends at "2"
}

TEST_F(SafeWorkDirTest, EmptyPolicyEntryNeverMatches) {
  SetPolicy({{u"1", u"%Undefined%"}, {u"2", u"%User%"}});
  // "%Undefined%" stays as written and "alice" is relative: neither covers an absolute path.
  EXPECT_FALSE(Safe("/tmp/anything"));
  auto key = platform::SettingsKey::Create(PolicyKeyPath(kSafeWorkDirs)).value();
  ASSERT_TRUE(key.Set(u"1", platform::kRegSz, SzData(u"")).ok());
  EXPECT_FALSE(Safe("/tmp/anything"));
}

TEST_F(SafeWorkDirTest, PolicyMakesAFreshDefaultTakenWithoutAsking) {
  const std::string location = (dir_.path() / "policy").string();
  SetPolicy({{u"1", FromUtf8(location)}});
  user_work_dir_ = FromUtf8(location + "\\%Datasource%");
  WorkDirContext context;
  context.datasource = u"DS1";
  context.user = u"alice";
  context.page_url = u"http://docs.example.com/";
  EXPECT_EQ(ToUtf8(ResolveWorkDir(context, user_work_dir_, WorkDirMode::kCheck)),
            location + "/DS1");
}

TEST_F(SafeWorkDirTest, LocalAppDataFollowsXdgDataHome) {
  EXPECT_EQ(ToUtf8(WorkDirMacros(u"DS1", u"alice").Expand(u"%LocalAppData%")),
            (dir_.path() / "data").string());
}

}  // namespace
}  // namespace qs
