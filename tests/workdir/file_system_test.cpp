// The platform's directory creation and existence tests, as the working directory uses them.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using platform::CreateDirectoryTree;
using platform::DirectoryCreation;

std::u16string U(const fs::path& path) { return FromUtf8(path.string()); }

TEST(CreateDirectoryTree, CreatesEveryMissingParentAndReportsWhatItFound) {
  testing::TempDir dir;
  const fs::path deep = dir / "a/b/c";
  auto first = CreateDirectoryTree(U(deep));
  ASSERT_TRUE(first.ok()) << first.code();
  EXPECT_EQ(*first, DirectoryCreation::kCreated);
  EXPECT_TRUE(fs::is_directory(deep));

  auto again = CreateDirectoryTree(U(deep));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, DirectoryCreation::kAlreadyExisted);

  // Trailing and doubled separators name the same directory.
  auto spelled = CreateDirectoryTree(U(dir.path()) + u"//a/b/c/");
  ASSERT_TRUE(spelled.ok());
  EXPECT_EQ(*spelled, DirectoryCreation::kAlreadyExisted);
}

TEST(CreateDirectoryTree, FailuresCarryTheirCodeAndTheLastError) {
  testing::TempDir dir;
  testing::WriteFile(dir / "file", "x");
  struct Case {
    std::u16string path;
    ErrorCode expected;
  };
  const Case cases[] = {
      {U(dir / "file"), ErrorCode::kFileExists},      // a file where the directory should be
      {U(dir / "file/sub"), ErrorCode::kFileExists},  // ... or where a parent should be
      {u"relative/dir", ErrorCode::kInvalidParameter},
      {u"", ErrorCode::kInvalidParameter},
  };
  for (const auto& c : cases) {
    platform::SetLastError(0);
    auto made = CreateDirectoryTree(c.path);
    ASSERT_FALSE(made.ok()) << ToUtf8(c.path);
    EXPECT_EQ(made.code(), ToUint(c.expected)) << ToUtf8(c.path);
    EXPECT_EQ(platform::LastError(), ToUint(c.expected));
  }
  EXPECT_FALSE(fs::exists(dir / "relative"));
}

TEST(PathQueries, ExistenceAndDirectories) {
  testing::TempDir dir;
  testing::WriteFile(dir / "file", "x");
  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "sub", dir / "link");
  EXPECT_TRUE(platform::PathExists(U(dir / "file")));
  EXPECT_FALSE(platform::IsDirectory(U(dir / "file")));
  EXPECT_TRUE(platform::IsDirectory(U(dir / "sub")));
  EXPECT_TRUE(platform::IsDirectory(U(dir / "link")));  // links are followed
  EXPECT_FALSE(platform::PathExists(U(dir / "missing")));
  EXPECT_FALSE(platform::PathExists(u""));
}

}  // namespace
}  // namespace qs
