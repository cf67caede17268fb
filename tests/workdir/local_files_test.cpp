// The local file operations over a working-directory grant: times to the 100 ns, the program
// test by content, what Open refuses, and the trash that never deletes.
#include "workdir/local_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/text.h"
#include "dialogs/scripted_dialogs.h"
#include "platform/app_launch.h"
#include "platform/file_lock.h"
#include "platform/file_times.h"
#include "platform/trash.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using platform::FileTimeFromUnix;
using platform::UnixFromFileTime;
using platform::UnixTime;
using testing::TempDir;
using testing::WriteFile;

std::u16string U(const fs::path& p) { return FromUtf8(p.string()); }

std::u16string Decimal(int64_t v) { return FromAscii(std::to_string(v)); }

// The file's modification time in 100-ns units, straight from the system.
int64_t MTime(const fs::path& p) {
  struct stat info {};
  EXPECT_EQ(::stat(p.c_str(), &info), 0) << p;
  return (info.st_mtim.tv_sec + 11644473600LL) * 10000000LL + info.st_mtim.tv_nsec / 100;
}

TEST(FileTimes, ConvertExactlyBothWays) {
  struct Case {
    int64_t file_time;
    UnixTime unix_time;
  };
  const Case cases[] = {
      {116444736000000000, {0, 0}},
      {116444736000000001, {0, 100}},
      {116444735999999999, {-1, 999999900}},
      {0, {-11644473600, 0}},
      {1, {-11644473600, 100}},
      {133485408001234567, {1704067200, 123456700}},  // 2024-01-01 00:00:00.1234567
      {INT64_MAX, {INT64_MAX / 10000000 - 11644473600, (INT64_MAX % 10000000) * 100}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnixFromFileTime(c.file_time), c.unix_time) << c.file_time;
    EXPECT_EQ(FileTimeFromUnix(c.unix_time), c.file_time) << c.file_time;
  }
  // Nanoseconds below 100 are cut towards the past.
  EXPECT_EQ(FileTimeFromUnix({0, 199}), 116444736000000001);
  EXPECT_EQ(FileTimeFromUnix({INT64_MAX, 0}), std::nullopt);
}

TEST(ParseFileTimeText, ReadsLikeTheCLibrarysConversion) {
  struct Case {
    std::u16string_view text;
    int64_t value;
  };
  const Case cases[] = {
      {u"133485408001234567", 133485408001234567},
      {u"  \t42", 42},
      {u"+7", 7},
      {u"-7", -7},
      {u"12abc", 12},
      {u"abc", 0},
      {u"", 0},
      {u"0", 0},
      {u"- 5", 0},
      {u"99999999999999999999", INT64_MAX},
      {u"-99999999999999999999", INT64_MIN},
      {u"-9223372036854775808", INT64_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFileTimeText(c.text), c.value) << ToUtf8(c.text);
}

TEST(FileExtension, IsTheLastComponentsLastDotOn) {
  struct Case {
    std::u16string_view path, extension;
  };
  const Case cases[] = {
      {u"/a/report.txt", u".txt"}, {u"/a/archive.tar.gz", u".gz"}, {u"/a/noext", u""},
      {u"/a.d/noext", u""},        {u"/a/trailing.", u"."},        {u"/a/.hidden", u".hidden"},
      {u"C:\\x.y\\z", u""},        {u"/a/dir.txt/", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileExtension(c.path), c.extension) << ToUtf8(c.path);
  EXPECT_TRUE(IsBlockedExtension(u".EXE"));
  EXPECT_TRUE(IsBlockedExtension(u".Desktop"));
  EXPECT_TRUE(IsBlockedExtension(u".js"));
  for (const char16_t* script : {u".py3", u".RB", u".php", u".lua", u".tcl", u".kdelnk"}) {
    EXPECT_TRUE(IsBlockedExtension(script)) << ToUtf8(script);
  }
  EXPECT_FALSE(IsBlockedExtension(u".json"));
  EXPECT_FALSE(IsBlockedExtension(u".txt"));
}

class LocalFilesTest : public ::testing::Test {
 protected:
  LocalFilesTest() : guard_([this] { return U(work_); }) {
    work_ = dir_.path() / "work";
    fs::create_directories(work_ / "folder");
    WriteFile(work_ / "doc.txt", "some text\n");
    WriteFile(dir_.path() / "outside.txt", "outside\n");
  }

  std::u16string TextFor(TextId id) { return u"text " + Decimal(ToUint(id)); }

  // Opens `name` below the working directory and gives the dialogs it showed.
  std::vector<platform::ShownDialog> OpenAndShow(const std::u16string& path) {
    OpenFile(guard_, path, &dialogs_, [this](TextId id) { return TextFor(id); });
    return dialogs_.Shown();
  }

  TempDir dir_;
  fs::path work_;
  AccessGuard guard_;
  platform::ScriptedDialogs dialogs_;
};

TEST_F(LocalFilesTest, ExistenceQuestionsTellFilesFromFolders) {
  EXPECT_TRUE(FileExist(guard_, U(work_ / "doc.txt")));
  EXPECT_TRUE(FileExist(guard_, U(work_ / "folder")));
  EXPECT_FALSE(FileExist(guard_, U(work_ / "missing.txt")));
  EXPECT_TRUE(FolderExist(guard_, U(work_ / "folder")));
  EXPECT_FALSE(FolderExist(guard_, U(work_ / "doc.txt")));
  EXPECT_FALSE(FileExist(guard_, U(dir_.path() / "outside.txt")));
}

TEST_F(LocalFilesTest, FileChangedComparesTo100Nanoseconds) {
  const fs::path doc = work_ / "doc.txt";
  const int64_t t = MTime(doc);
  const std::u16string name = U(doc);
  EXPECT_FALSE(FileChanged(guard_, name, Decimal(t)));
  EXPECT_TRUE(FileChanged(guard_, name, Decimal(t + 1)));
  EXPECT_TRUE(FileChanged(guard_, name, Decimal(t - 1)));
  EXPECT_TRUE(FileChanged(guard_, name, u"0"));
  EXPECT_TRUE(FileChanged(guard_, name, u"no digits"));
  EXPECT_FALSE(FileChanged(guard_, name, u""));
  EXPECT_TRUE(FileChanged(guard_, U(work_ / "missing.txt"), Decimal(t)));
  EXPECT_FALSE(FileChanged(guard_, U(dir_.path() / "missing.txt"), Decimal(t)));
  EXPECT_FALSE(FileChanged(guard_, U(dir_.path() / "outside.txt"), u"1"));
}

TEST_F(LocalFilesTest, UpdateFileTimeSetsTheModificationTimeExactly) {
  const fs::path doc = work_ / "doc.txt";
  struct stat before {};
  ASSERT_EQ(::stat(doc.c_str(), &before), 0);
  const int64_t t = 133485408001234567;
  UpdateFileTime(guard_, U(doc), Decimal(t));
  struct stat after {};
  ASSERT_EQ(::stat(doc.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, 1704067200);
  EXPECT_EQ(after.st_mtim.tv_nsec, 123456700);
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);  // the access time stays
  EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
  EXPECT_FALSE(FileChanged(guard_, U(doc), Decimal(t)));

  for (const auto* nothing : {u"0", u"", u"abc", u"-5"}) {
    UpdateFileTime(guard_, U(doc), nothing);
    EXPECT_EQ(MTime(doc), t) << ToUtf8(nothing);
  }
  const int64_t folder_time = MTime(work_ / "folder");
  UpdateFileTime(guard_, U(work_ / "folder"), Decimal(t));
  EXPECT_EQ(MTime(work_ / "folder"), folder_time);
  const int64_t outside_time = MTime(dir_.path() / "outside.txt");
  UpdateFileTime(guard_, U(dir_.path() / "outside.txt"), Decimal(t));
  EXPECT_EQ(MTime(dir_.path() / "outside.txt"), outside_time);
}

TEST_F(LocalFilesTest, UpdateFileTimeLeavesAFileHeldWithoutSharing) {
  const fs::path doc = work_ / "doc.txt";
  const int64_t t = MTime(doc);
  const int fd = ::open(doc.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(platform::TryLockWholeFile(fd, platform::FileLockKind::kExclusive).ok());
  UpdateFileTime(guard_, U(doc), u"133485408001234567");
  EXPECT_EQ(MTime(doc), t);
  EXPECT_EQ(platform::SetLastWriteFileTime(U(doc), 133485408001234567).code(),
            ToUint(ErrorCode::kSharingViolation));
  ::close(fd);
  UpdateFileTime(guard_, U(doc), u"133485408001234567");
  EXPECT_EQ(MTime(doc), 133485408001234567);
}

TEST_F(LocalFilesTest, ProgramsAreToldByTheirContentWhateverTheirName) {
  struct Case {
    const char* name;
    std::string content;
    bool executable_bit;
    bool program;
  };
  const Case cases[] = {
      {"report.txt",
       std::string("\x7f"
                   "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
                   16),
       false, true},
      {"script.txt", "#!/bin/sh\necho hi\n", false, true},
      {"setup.pdf", "MZ\x90\0\x03", false, true},
      {"entry.txt", "[Desktop Entry]\nType=Application\nName=x\nExec=/bin/true\n", false, true},
      {"shell.txt", "echo run by a shell\n", true, true},
      // A desktop entry behind a long comment, past the sniffed start, in its older spelling,
      // and after a byte order mark and blanks.
      {"late.txt", std::string(200000, '#') + "\n[Desktop Entry]\nType=Application\n", false, true},
      {"old.txt", "# a comment\n\n[KDE Desktop Entry]\nExec=/bin/true\n", false, true},
      {"bom.txt", "\xEF\xBB\xBF  [Desktop Entry]\nExec=/bin/true\n", false, true},
      {"quoted.txt", std::string(5000, 'x') + " see [Desktop Entry] in the manual\n", false, false},
      {"notes.txt", "just some notes\n", false, false},
      {"data.bin", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false, false},
      {"doc.pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = work_ / c.name;
    WriteFile(file, c.content);
    fs::permissions(file, c.executable_bit ? fs::perms(0755) : fs::perms(0644));
    EXPECT_EQ(platform::IsProgramFile(U(file)), c.program);
  }
  EXPECT_TRUE(platform::IsProgramFile(U(work_ / "folder")));
  EXPECT_TRUE(platform::IsProgramFile(U(work_ / "missing")));
}

TEST_F(LocalFilesTest, OpenRefusesWhatCouldRunCodeWithMessage313AndTheErrorIcon) {
  WriteFile(work_ / "report.txt", std::string("\x7f"
                                              "ELF\x02\x01\x01\0",
                                              8));
  WriteFile(work_ / "noextension", "text\n");
  WriteFile(work_ / "trailing.", "text\n");
  WriteFile(work_ / "tool.EXE", "text\n");
  WriteFile(work_ / "launcher.desktop", "text\n");
  WriteFile(work_ / "dir.txt" / "inner", "x");
  const char* blocked[] = {"report.txt",       "noextension", "trailing.", "tool.EXE",
                           "launcher.desktop", "dir.txt",     "dir.txt/",  "missing.txt"};
  for (const char* name : blocked) {
    SCOPED_TRACE(name);
    const auto shown = OpenAndShow(U(work_ / name));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, platform::DialogKind::kMessage);
    EXPECT_EQ(shown[0].text, u"text 313");
    EXPECT_EQ(shown[0].title, u"text 57344");
    EXPECT_EQ(shown[0].icon, platform::MessageIcon::kError);
    EXPECT_EQ(shown[0].buttons, platform::MessageButtons::kOk);
  }
}

TEST_F(LocalFilesTest, OpenOfARefusedPathSaysNothing) {
  WriteFile(dir_.path() / "evil.exe", "x");
  EXPECT_TRUE(OpenAndShow(U(dir_.path() / "evil.exe")).empty());
  EXPECT_TRUE(OpenAndShow(U(work_ / "../evil.exe")).empty());
  std::u16string long_path = U(work_) + u"/" + std::u16string(300, u'a') + u".exe";
  EXPECT_TRUE(OpenAndShow(long_path).empty());
  EXPECT_TRUE(OpenAndShow(u"").empty());
}

TEST_F(LocalFilesTest, DeleteLeavesWhatItMayNotTouch) {
  DeleteFile(guard_, U(dir_.path() / "outside.txt"));
  DeleteFile(guard_, U(work_ / "../outside.txt"));
  EXPECT_TRUE(fs::exists(dir_.path() / "outside.txt"));
  DeleteFile(guard_, U(work_ / "missing.txt"));  // nothing there: nothing happens
}

// Where the file system keeps no trash (tmpfs), nothing is deleted.
TEST(Trash, NothingIsDeletedWhereNoTrashIsKept) {
  const fs::path shm = "/dev/shm";
  struct stat info {};
  if (::stat(shm.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || ::access(shm.c_str(), W_OK)) {
    GTEST_SKIP() << "no writable /dev/shm";
  }
  const fs::path file = shm / ("qsft-trash-test-" + std::to_string(::getpid()));
  WriteFile(file, "keep me");
  auto trashed = platform::MoveToTrash(U(file));
  EXPECT_FALSE(trashed.ok());
  EXPECT_EQ(testing::ReadFile(file), "keep me");
  fs::remove(file);
}

}  // namespace
}  // namespace qs
