// The access decision: boundaries and letter case of directory grants, the masks of the
// operations, the operation scope and its hand-over, and page-given paths that try to climb out
// of their grants.
#include "workdir/access_guard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "support/temp_dir.h"
#include "workdir/local_files.h"
#include "workdir/scope_registry.h"

namespace qs {
namespace {

// Every request bit at once.
AccessMask EveryBit() {
  AccessMask all;
  for (const ScopeBit bit : kEveryScopeBit) all = all | bit;
  return all;
}

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

std::u16string U(const std::string& s) { return FromUtf8(s); }
std::u16string U(const fs::path& p) { return FromUtf8(p.string()); }

TEST(GrantCoversDirectory, StopsAtDirectoryBoundariesAndComparesExactly) {
  struct Case {
    std::u16string_view grant, dir;
    bool covered;
  };
  const Case cases[] = {
      {u"/w/DS1", u"/w/DS1/", true},
      {u"/w/DS1", u"/w/DS1/sub/", true},
      {u"/w/DS1/", u"/w/DS1/", true},
      {u"/w/DS1/", u"/w/DS1/sub/", true},
      {u"/w/DS1", u"/w/DS1", true},
      {u"/w/DS1", u"/w/DS10/", false},  // a sibling that merely extends the name
      {u"/w/DS1", u"/w/DS1x/sub/", false},
      {u"/w/DS1", u"/w/ds1/", false},  // another directory on a case-sensitive system
      {u"/home/u/work", u"/home/u/WORK/", false},
      {u"/w/DS1", u"/w/", false},
      {u"", u"/w/", false},
      {u"/", u"/anything/", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GrantCoversDirectory(c.grant, c.dir), c.covered)
        << ToUtf8(c.grant) << " over " << ToUtf8(c.dir);
  }
}

// A guard whose working directory is <tmp>/WebWorkDir/DS1, with files inside and around it.
class AccessGuardTest : public ::testing::Test {
 protected:
  AccessGuardTest() : guard_([this] { return resolved_; }) {
    work_ = dir_.path() / "WebWorkDir" / "DS1";
    WriteFile(work_ / "a.txt", "inside");
    WriteFile(work_ / "sub" / "b.txt", "deeper");
    WriteFile(dir_.path() / "WebWorkDir" / "DS10" / "other.txt", "another datasource");
    WriteFile(dir_.path() / "secret.txt", "outside");
    resolved_ = U(work_);
  }

  TempDir dir_;
  fs::path work_;
  std::u16string resolved_;
  AccessGuard guard_;
};

TEST_F(AccessGuardTest, AFileInTheWorkingDirectoryPassesEveryOperationsMask) {
  const AccessMask masks[] = {access_mask::kOpen,        access_mask::kExist,
                              access_mask::kFileChanged, access_mask::kUpdateFileTime,
                              access_mask::kDelete,      access_mask::kDownload,
                              access_mask::kUpload};
  for (const AccessMask mask : masks) {
    std::u16string qualified;
    EXPECT_TRUE(guard_.CheckAccess(U(work_ / "a.txt"), mask, &qualified)) << int{mask.value()};
    EXPECT_EQ(qualified, U(work_ / "a.txt"));
  }
  EXPECT_FALSE(
      guard_.CheckAccess(U(work_ / "a.txt"), ScopeBit::kPickedFile | ScopeBit::kExportDir));
}

TEST_F(AccessGuardTest, TheWorkingDirectoryItselfPassesOnlyWithItsTrailingSeparator) {
  EXPECT_FALSE(guard_.CheckAccess(U(work_), access_mask::kExist));
  EXPECT_TRUE(guard_.CheckAccess(U(work_) + u"/", access_mask::kExist));
  EXPECT_TRUE(guard_.CheckAccess(U(work_) + u"\\", access_mask::kExist));
}

TEST_F(AccessGuardTest, SiblingsAndOtherLetterCaseAreOtherDirectories) {
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "WebWorkDir/DS10/other.txt"), EveryBit()));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "WebWorkDir/ds1/a.txt"), EveryBit()));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "WEBWORKDIR/DS1/a.txt"), EveryBit()));
}

TEST_F(AccessGuardTest, AFailedResolutionKeepsTheDirectoryResolvedBefore) {
  ASSERT_TRUE(guard_.CheckAccess(U(work_ / "a.txt"), access_mask::kExist));
  resolved_.clear();
  EXPECT_TRUE(guard_.CheckAccess(U(work_ / "a.txt"), access_mask::kExist));
  resolved_ = std::u16string(300, u'x');  // does not qualify
  EXPECT_TRUE(guard_.CheckAccess(U(work_ / "a.txt"), access_mask::kExist));
  EXPECT_EQ(guard_.work_dir(), U(work_));
}

TEST_F(AccessGuardTest, PathsOf260UnitsOrMoreAreRefusedEvenInsideAGrant) {
  std::u16string path = U(work_) + u"/";
  path += std::u16string(259 - path.size(), u'n');
  ASSERT_EQ(path.size(), 259u);
  std::u16string qualified;
  EXPECT_TRUE(guard_.CheckAccess(path, EveryBit(), &qualified));
  EXPECT_EQ(qualified, path);
  path += u'n';
  EXPECT_FALSE(guard_.CheckAccess(path, EveryBit(), &qualified));
  EXPECT_TRUE(qualified.empty());
  guard_.GrantFile(path);
  EXPECT_FALSE(guard_.CheckAccess(path, ScopeBit::kPickedFile));
}

TEST_F(AccessGuardTest, APickedFilePassesOnlyAsTheExactTextThatWasGranted) {
  resolved_.clear();
  const std::u16string picked = U(dir_.path() / "secret.txt");
  guard_.GrantFile(picked);
  EXPECT_TRUE(guard_.CheckAccess(picked, access_mask::kUpload));
  EXPECT_FALSE(guard_.CheckAccess(picked, access_mask::kDelete));  // no 0x20 in the mask
  std::u16string backslashed = picked;
  for (auto& c : backslashed) c = c == u'/' ? u'\\' : c;
  EXPECT_FALSE(guard_.CheckAccess(backslashed, access_mask::kUpload));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "SECRET.txt"), access_mask::kUpload));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "./secret.txt"), access_mask::kUpload));
  guard_.RevokeFile(picked);
  EXPECT_FALSE(guard_.CheckAccess(picked, access_mask::kUpload));
}

TEST_F(AccessGuardTest, ADirectoryScopePassesOnlyMasksHoldingItsKind) {
  resolved_.clear();
  const fs::path exported = dir_.path() / "export";
  WriteFile(exported / "sub" / "doc.txt", "x");
  guard_.SetScopeDir(U(exported), ScopeKind::kExportDir);
  const std::u16string doc = U(exported / "sub/doc.txt");
  EXPECT_TRUE(guard_.CheckAccess(doc, access_mask::kDelete));  // 0x08 is in 0x9B
  EXPECT_TRUE(guard_.CheckAccess(doc, access_mask::kExist));
  EXPECT_FALSE(guard_.CheckAccess(doc, access_mask::kUpload));  // 0x08 is not in 0x72
  EXPECT_FALSE(guard_.CheckAccess(doc, access_mask::kOpen));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / "export2/doc.txt"), access_mask::kDelete));

  guard_.SetScopeDir(U(exported), ScopeKind::kPickedFolder);
  EXPECT_TRUE(guard_.CheckAccess(doc, access_mask::kUpload));
  EXPECT_FALSE(guard_.CheckAccess(doc, access_mask::kDelete));
}

TEST_F(AccessGuardTest, SettingADirectoryScopeDropsPickedFilesAndNoneOnlyClears) {
  guard_.GrantFile(u"/x/picked.txt");
  guard_.SetScopeDir(U(dir_.path()), ScopeKind::kDownloadDir);
  EXPECT_TRUE(guard_.scope().picked_files.empty());
  EXPECT_EQ(guard_.scope().dir, U(dir_.path()));
  // Kinds that are no directory scope (a working-directory bit, a picked file, two bits at
  // once) cannot be written; kNone is the one way to set no scope.
  guard_.SetScopeDir(U(dir_.path()), ScopeKind::kNone);
  EXPECT_EQ(guard_.scope(), OperationScope{});
}

TEST(AccessMask, NamedBitsGiveTheMasksPagesKnow) {
  EXPECT_EQ((ScopeBit::kWorkDir | ScopeBit::kExportDir).value(), 0x09);
  EXPECT_TRUE(access_mask::kDelete.Has(ScopeBit::kWorkDirDelete));
  EXPECT_FALSE(access_mask::kUpload.Has(ScopeBit::kExportDir));
  EXPECT_TRUE(access_mask::kUpload.HasAny(ScopeBit::kWorkDir | ScopeBit::kWorkDir2));
  EXPECT_FALSE(AccessMask().HasAny(EveryBit()));
  EXPECT_EQ(EveryBit().value(), 0xFF);
}

TEST_F(AccessGuardTest, ALocatedFolderStaysGrantedForTheProcessButNotItsSubfolders) {
  resolved_.clear();
  const fs::path located = dir_.path() / "located";
  WriteFile(located / "report.txt", "r");
  WriteFile(located / "deeper" / "x.txt", "x");
  guard_.SetScopeDir(U(located) + u"/", ScopeKind::kLocatedDir);
  EXPECT_TRUE(guard_.CheckAccess(U(located / "other.txt"), access_mask::kExist));
  EXPECT_TRUE(guard_.CheckAccess(U(located / "deeper/x.txt"), access_mask::kExist));

  guard_.SetScopeDir(U(dir_.path() / "elsewhere"), ScopeKind::kDownloadDir);
  EXPECT_TRUE(guard_.CheckAccess(U(located / "other.txt"), access_mask::kExist));
  EXPECT_FALSE(guard_.CheckAccess(U(located / "deeper/x.txt"), access_mask::kExist));
  EXPECT_FALSE(guard_.CheckAccess(U(located / "other.txt"), access_mask::kFileChanged));

  // Any other control of the process.
  AccessGuard other([] { return std::u16string(); });
  EXPECT_TRUE(other.CheckAccess(U(located / "report.txt"), access_mask::kExist));
  EXPECT_FALSE(other.CheckAccess(U(dir_.path() / "locatedX/report.txt"), access_mask::kExist));
}

TEST_F(AccessGuardTest, NoGrantReachesHiddenFilesOrFoldersBelowIt) {
  // The working directory itself lies in a hidden folder: that is no reason to refuse.
  const fs::path hidden_work = dir_.path() / ".local" / "WebWorkDir" / "DS1";
  WriteFile(hidden_work / "a.txt", "inside");
  resolved_ = U(hidden_work);
  EXPECT_TRUE(guard_.CheckAccess(U(hidden_work / "a.txt"), EveryBit()));
  EXPECT_TRUE(guard_.CheckAccess(U(hidden_work / "sub.d/b.txt"), EveryBit()));
  for (const char* below : {".bashrc", ".config/autostart/x.desktop", "sub/.git/config", "..hidden",
                            "sub\\.ssh\\id_rsa", "sub/./.profile", "x/../.profile"}) {
    std::u16string path = U(hidden_work) + u"/" + qs::FromUtf8(below);
    EXPECT_FALSE(guard_.CheckAccess(path, EveryBit())) << below;
  }

  // A folder scope (the home folder picked for downloads), and a located folder.
  resolved_.clear();
  guard_.SetScopeDir(U(dir_.path()), ScopeKind::kDownloadDir);
  EXPECT_TRUE(guard_.CheckAccess(U(dir_.path() / "secret.txt"), access_mask::kDownload));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / ".bashrc"), access_mask::kDownload));
  EXPECT_FALSE(
      guard_.CheckAccess(U(dir_.path() / ".config/mimeapps.list"), access_mask::kDownload));
  guard_.SetScopeDir(U(dir_.path() / ".local") + u"/", ScopeKind::kLocatedDir);
  EXPECT_TRUE(guard_.CheckAccess(U(dir_.path() / ".local/x.txt"), access_mask::kExist));
  EXPECT_FALSE(guard_.CheckAccess(U(dir_.path() / ".local/.x"), access_mask::kExist));

  // A hidden file the user picked one by one is the user's choice.
  guard_.GrantFile(U(dir_.path() / ".notes"));
  EXPECT_TRUE(guard_.CheckAccess(U(dir_.path() / ".notes"), access_mask::kUpload));
}

TEST(ScopeHandOver, AnIdentifierIsAdoptedOnceAndWithdrawnByRepublishingOrFinish) {
  AccessGuard a([] { return std::u16string(); });
  AccessGuard b([] { return std::u16string(); });
  AccessGuard c([] { return std::u16string(); });
  std::u16string published;
  a.SetScopeDir(u"/var/tmp/handed/over", ScopeKind::kExportDir);
  a.GrantFile(u"/var/tmp/picked.txt");

  const std::u16string id = PublishOperationScope(a, published);
  EXPECT_EQ(id, published);
  ASSERT_EQ(id.size(), 36u);
  for (size_t i = 0; i < id.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char16_t ch = id[i];
    EXPECT_TRUE(dash ? ch == u'-' : ((ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f')))
        << ToUtf8(id);
  }

  AdoptOperationScope(b, id);
  EXPECT_EQ(b.scope(), a.scope());
  AdoptOperationScope(c, id);  // already adopted
  EXPECT_EQ(c.scope(), OperationScope{});

  // Publishing again withdraws the identifier published before; finishing withdraws the last.
  const std::u16string second = PublishOperationScope(a, published);
  EXPECT_NE(second, id);
  const std::u16string third = PublishOperationScope(a, published);
  AdoptOperationScope(c, second);
  EXPECT_EQ(c.scope(), OperationScope{});
  FinishOperation(a, published);
  EXPECT_TRUE(published.empty());
  EXPECT_EQ(a.scope(), OperationScope{});
  AdoptOperationScope(c, third);
  EXPECT_EQ(c.scope(), OperationScope{});

  AdoptOperationScope(c, u"");
  AdoptOperationScope(c, u"never-published");
  EXPECT_EQ(c.scope(), OperationScope{});
}

TEST(ScopeHandOver, IdentifiersAreFresh) {
  AccessGuard a([] { return std::u16string(); });
  std::set<std::u16string> seen;
  std::u16string published;
  for (int i = 0; i < 100; ++i) seen.insert(PublishOperationScope(a, published));
  EXPECT_EQ(seen.size(), 100u);
  ReleasePublishedScope(published);
}

// Controls on several threads share the registries; each keeps its own guard.
TEST(ScopeHandOver, ControlsOnSeveralThreadsShareTheRegistries) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  std::vector<std::u16string> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      AccessGuard mine([] { return std::u16string(); });
      std::u16string published;
      const std::u16string dir = u"/var/tmp/qsft-threads/" + FromAscii(std::to_string(t));
      for (int i = 0; i < kRounds; ++i) {
        mine.SetScopeDir(dir, ScopeKind::kLocatedDir);
        const std::u16string id = PublishOperationScope(mine, published);
        AccessGuard other([] { return std::u16string(); });
        AdoptOperationScope(other, id);
        EXPECT_EQ(other.scope().dir, dir);
        EXPECT_TRUE(scope_registry::IsLocatedDir(dir + u"/"));
      }
      ids[t] = PublishOperationScope(mine, published);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    AccessGuard adopter([] { return std::u16string(); });
    AdoptOperationScope(adopter, ids[t]);
    EXPECT_EQ(adopter.scope().kind, ScopeKind::kLocatedDir);
  }
}

// Restores the current directory at the end of a test that moved it.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const fs::path& dir) : saved_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~ScopedCurrentDir() { fs::current_path(saved_); }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  fs::path saved_;
};

// No spelling of a path reaches a file outside the grants: dots, "\" and "/" mixed, separators
// repeated. Every file operation is tried, and the files outside must stay as they were.
TEST_F(AccessGuardTest, NoSpellingOfAPathReachesAFileOutsideTheGrants) {
  const std::string work = work_.string();
  const std::string root = dir_.path().string();
  const fs::path picked_dir = dir_.path() / "picked";
  WriteFile(picked_dir / "p.txt", "picked");
  guard_.GrantFile(U(picked_dir / "p.txt"));
  const std::string escapes[] = {
      work + "/../../secret.txt",
      work + "/..\\..\\secret.txt",
      work + "\\..\\..\\secret.txt",
      work + "//..//..//secret.txt",
      work + "/./.././../secret.txt",
      work + "/sub/../../../secret.txt",
      work + "/sub\\..\\..\\../secret.txt",
      work + "/../DS10/other.txt",
      work + "0/../../secret.txt",
      work + "/../../WebWorkDir/DS10/other.txt",
      root + "/WebWorkDir/DS10/other.txt",
      root + "//WebWorkDir\\\\DS10//other.txt",
      root + "/picked/../secret.txt",
      root + "/picked/./p.txt/../../secret.txt",
      "../../secret.txt",  // relative to the working directory below
      "..\\..\\secret.txt",
      "sub/../../../secret.txt",
  };
  const std::string outside[] = {root + "/secret.txt", root + "/WebWorkDir/DS10/other.txt"};

  struct stat before[2]{};
  for (size_t i = 0; i < 2; ++i) ASSERT_EQ(::stat(outside[i].c_str(), &before[i]), 0);

  ScopedCurrentDir cwd(work_);
  for (const auto& text : escapes) {
    SCOPED_TRACE(text);
    const std::u16string path = U(text);
    EXPECT_FALSE(guard_.CheckAccess(path, EveryBit()));
    EXPECT_FALSE(FileExist(guard_, path));
    EXPECT_FALSE(FolderExist(guard_, path));
    EXPECT_FALSE(FileChanged(guard_, path, u"1"));
    UpdateFileTime(guard_, path, u"130000000000000000");
    DeleteFile(guard_, path);
  }
  for (size_t i = 0; i < 2; ++i) {
    struct stat after {};
    ASSERT_EQ(::stat(outside[i].c_str(), &after), 0) << outside[i];  // not trashed
    EXPECT_EQ(after.st_mtim.tv_sec, before[i].st_mtim.tv_sec) << outside[i];
    EXPECT_EQ(after.st_mtim.tv_nsec, before[i].st_mtim.tv_nsec) << outside[i];
  }

  // Spellings that stay inside are allowed, and name the one file they lead to.
  const std::string inside[] = {
      work + "/a.txt",
      work + "\\a.txt",
      work + "//a.txt",
      work + "/sub/../a.txt",
      work + "/./sub/..\\a.txt",
      work + "/../DS1/a.txt",
      "a.txt",
      "sub/../a.txt",
      ".\\a.txt",
  };
  for (const auto& text : inside) {
    SCOPED_TRACE(text);
    std::u16string qualified;
    EXPECT_TRUE(guard_.CheckAccess(U(text), access_mask::kExist, &qualified));
    EXPECT_EQ(qualified, U(work_ / "a.txt"));
    EXPECT_TRUE(FileExist(guard_, U(text)));
  }
}

}  // namespace
}  // namespace qs
