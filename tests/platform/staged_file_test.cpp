#include "platform/staged_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/text.h"
#include "support/temp_dir.h"

namespace qs::platform {
namespace {

using qs::testing::ReadFile;
using qs::testing::TempDir;
using qs::testing::WriteFile;

std::span<const std::byte> Bytes(const std::string& text) {
  return std::as_bytes(std::span(text.data(), text.size()));
}

TEST(StagedFileTest, OnlyACommitReplacesTheTargetAndAnUncommittedFileIsRemoved) {
  TempDir dir;
  const auto target = dir / "t.bin";
  const auto temp = dir / "t.bin.part";
  WriteFile(target, "older");
  {
    auto staged = StagedFile::Create(FromUtf8(target.string()), u".part");
    ASSERT_TRUE(staged.ok());
    ASSERT_TRUE(staged->Write(Bytes("new")).ok());
    EXPECT_TRUE(std::filesystem::exists(temp));
    // A second writer of the same name is kept out while the first holds it.
    auto second = StagedFile::Create(FromUtf8(target.string()), u".part");
    ASSERT_FALSE(second.ok());
    EXPECT_TRUE(second.error().Is(ErrorCode::kSharingViolation));
  }
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(ReadFile(target), "older");

  auto staged = StagedFile::Create(FromUtf8(target.string()), u".part");
  ASSERT_TRUE(staged.ok());
  ASSERT_TRUE(staged->Write(Bytes("newer")).ok());
  ASSERT_TRUE(staged->Commit().ok());
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(ReadFile(target), "newer");
}

TEST(StagedFileTest, AFailedMoveKeepsTheCompleteTemporaryFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "t.bin");  // the target's name is taken by a folder
  std::filesystem::create_directory(dir / "t.bin" / "inside");
  {
    auto staged = StagedFile::Create(FromUtf8((dir / "t.bin").string()), u".part");
    ASSERT_TRUE(staged.ok());
    ASSERT_TRUE(staged->Write(Bytes("whole")).ok());
    auto committed = staged->Commit();
    ASSERT_FALSE(committed.ok());
    EXPECT_STREQ(committed.error().operation, "rename");
  }
  EXPECT_EQ(ReadFile(dir / "t.bin.part"), "whole");
}

}  // namespace
}  // namespace qs::platform
