// Starting a download: the checks before a transfer exists (and that they send nothing), the
// target directory, and the start of a real worker against the development server.
#include "transfer/download_start.h"

#include <gtest/gtest.h>

#include "scripted_transfer.h"
#include "transfer/download_fixture.h"
#include "transfer/error_text.h"
#include "workdir/path_qualify.h"

namespace qs {
namespace {

using devserver::Fault;
using qs::testing::DownloadTest;
using qs::testing::Pattern;
using qs::testing::ReadFile;
using qs::testing::WaitUntil;
using qs::testing::WriteFile;

const std::u16string kDenied = u"denied by the test";

class DownloadStartTest : public DownloadTest {
 protected:
  DownloadStarter Starter() {
    return DownloadStarter{
        .page_url = [this](std::u16string& url) -> uint32_t {
          url = FromUtf8(server_->base_url() + "/app/page.html");
          return 0;
        },
        // The access decision is not this test's subject: every path the qualification accepts
        // is allowed, in its qualified form, unless the test refuses.
        .check_access = [this](std::u16string_view path) -> std::optional<std::u16string> {
          if (refuse_) return std::nullopt;
          return QualifyPath(path);
        },
        .denied_text = [] { return kDenied; },
        .session = session_,
        .current = current_,
        .sleeper = sleeper_.AsSleeper(),
    };
  }

  Variant Start(const std::string& url, const std::filesystem::path& target) {
    return StartFileDownload(Starter(), FromUtf8(url), FromUtf8(target.string()));
  }

  static std::u16string Text(ErrorCode code) { return FormatErrorText(ToUint(code)); }

  // Waits for the worker's end: a final state and no temporary file left beside `target`.
  bool Ended(const RefPtr<TransferredFile>& transfer, const std::filesystem::path& target) {
    return WaitUntil([&] {
      const TransferState s = transfer->state();
      return (s == TransferState::kDone || s == TransferState::kFailed) &&
             !std::filesystem::exists(TempOf(target));
    });
  }

  RefPtr<TransferredFile> current_;
  bool refuse_ = false;
};

TEST_F(DownloadStartTest, RelativeUrlResolvesAgainstThePageAndTheFileArrives) {
  const std::string body = Pattern(20000);
  WriteFile(root_ / "a.bin", body);
  const auto target = target_dir_ / "a.bin";
  const int32_t expected_ticket = TransferredFile::PeekNextTicket();

  const Variant result = Start("../download?file=a.bin", target);
  ASSERT_EQ(result.type(), Variant::Type::kInt32);
  EXPECT_EQ(result.as_int(), expected_ticket);
  ASSERT_TRUE(current_);
  ASSERT_TRUE(Ended(current_, target));
  EXPECT_EQ(current_->StatusText(), u"10|20000|");
  EXPECT_EQ(ReadFile(target), body);
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/download?file=a.bin"}));
}

// Refusals before any transfer exists: the text the page gets, no request sent, the slot and
// the disk as they were.
TEST_F(DownloadStartTest, RefusedStartsSendNothingAndLeaveTheSlotAlone) {
  const std::string dir = target_dir_.path().string();
  const std::string long_dots = [] {
    std::string dots;
    for (int i = 0; i < 130; ++i) dots += "./";
    return dots;
  }();
  const struct {
    const char* name;
    std::string url;
    std::string path;
    bool refuse;
    std::u16string text;
  } cases[] = {
      {"another host", "http://127.0.0.2:1/download?file=a.bin", dir + "/new/a.bin", false,
       Text(ErrorCode::kInvalidParameter)},
      {"another port", "http://127.0.0.1:1/download?file=a.bin", dir + "/new/a.bin", false,
       Text(ErrorCode::kInvalidParameter)},
      {"access refused", "/download?file=a.bin", dir + "/new/a.bin", true, kDenied},
      {"no separator", "/download?file=a.bin", "a.bin", false, Text(ErrorCode::kInvalidParameter)},
      {"no file name", "/download?file=a.bin", dir + "/new/", false,
       Text(ErrorCode::kInvalidParameter)},
      {"dot dot as name", "/download?file=a.bin", dir + "/new/sub/..", false,
       Text(ErrorCode::kInvalidParameter)},
      {"directory of 260 units", "/download?file=a.bin", dir + "/" + long_dots + "new/a.bin", false,
       Text(ErrorCode::kFilenameExcedRange)},
  };
  WriteFile(root_ / "a.bin", "x");
  const RefPtr<TransferredFile> before = MakeRef<qs::testing::DirectDownload>(
      nullptr, u"http://127.0.0.1/download?file=old", u"/var/tmp/old");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    current_ = before;
    refuse_ = c.refuse;
    const Variant result = StartFileDownload(Starter(), FromUtf8(c.url), FromUtf8(c.path));
    ASSERT_EQ(result.type(), Variant::Type::kString);
    EXPECT_EQ(result.as_string(), c.text);
    EXPECT_EQ(current_, before);
    EXPECT_FALSE(std::filesystem::exists(target_dir_ / "new"));
  }
  EXPECT_TRUE(server_->requests().empty());
}

TEST_F(DownloadStartTest, MissingDirectoryIsCreatedWithItsParentsAndKeptWhenTheDownloadFails) {
  const auto target = target_dir_ / "one" / "two" / "a.bin";
  const Variant result = Start("/download?file=missing.bin", target);
  ASSERT_EQ(result.type(), Variant::Type::kInt32);
  ASSERT_TRUE(Ended(current_, target));
  EXPECT_EQ(current_->StatusText(), u"-1|0|TransferError");
  EXPECT_TRUE(std::filesystem::is_directory(target_dir_ / "one" / "two"));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(DownloadStartTest, PlainFileWhereTheDirectoryShouldBeIsRefused) {
  WriteFile(target_dir_ / "one", "a file");
  const Variant result = Start("/download?file=a.bin", target_dir_ / "one" / "a.bin");
  ASSERT_EQ(result.type(), Variant::Type::kString);
  // The platform's text for the file in the way ("file exists" or "not a directory").
  const std::u16string text = result.as_string();
  EXPECT_TRUE(text == Text(ErrorCode::kFileExists) || text == Text(ErrorCode::kDirectory))
      << ToUtf8(text);
  EXPECT_FALSE(current_);
  EXPECT_TRUE(server_->requests().empty());
}

TEST_F(DownloadStartTest, BackslashesSeparateAndTheFileGoesWhereTheAccessCheckLooked) {
  const std::string body = Pattern(5000);
  WriteFile(root_ / "a.bin", body);
  const std::string page_path = target_dir_.path().string() + "\\sub\\a.bin";
  const Variant result = StartFileDownload(Starter(), u"/download?file=a.bin", FromUtf8(page_path));
  ASSERT_EQ(result.type(), Variant::Type::kInt32);
  const auto target = target_dir_ / "sub" / "a.bin";
  ASSERT_TRUE(Ended(current_, target));
  EXPECT_EQ(current_->state(), TransferState::kDone);
  EXPECT_EQ(ReadFile(target), body);
}

TEST_F(DownloadStartTest, SecondStartToTheSameTargetFailsAndTheFirstFinishes) {
  const std::string first_body = Pattern(50000);
  WriteFile(root_ / "a.bin", first_body);
  WriteFile(root_ / "b.bin", Pattern(3000));
  server_->AddFault(Fault::StallAfter(4096).Query("file=a.bin"));
  const auto target = target_dir_ / "same.bin";

  ASSERT_EQ(Start("/download?file=a.bin", target).type(), Variant::Type::kInt32);
  const RefPtr<TransferredFile> first = current_;
  // The first has its temporary file once its first block is written, not when the server stalls.
  ASSERT_TRUE(WaitUntil(
      [&] { return server_->StallsInProgress() == 1 && first->GetBytesTransferred() == 4096; }));
  ASSERT_EQ(Start("/download?file=b.bin", target).type(), Variant::Type::kInt32);
  const RefPtr<TransferredFile> second = current_;
  const bool second_ended = WaitUntil([&] { return second->state() == TransferState::kFailed; });
  server_->ReleaseStalls();
  ASSERT_TRUE(second_ended);
  EXPECT_EQ(second->StatusText(), u"-1|0|" + Text(ErrorCode::kSharingViolation));

  ASSERT_TRUE(Ended(first, target));
  EXPECT_EQ(first->state(), TransferState::kDone);
  EXPECT_EQ(ReadFile(target), first_body);
}

}  // namespace
}  // namespace qs
