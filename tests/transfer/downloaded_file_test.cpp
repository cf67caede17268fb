// The resumable download against the development server: what goes over the wire (count and
// query strings of the requests), what ends up on disk, and what the page reads as the status.
#include "transfer/downloaded_file.h"

#include <unistd.h>

#include <cstdint>
#include <limits>
#include <thread>

#include "platform/extended_attributes.h"
#include "scripted_transfer.h"
#include "transfer/download_fixture.h"
#include "transfer/error_text.h"

namespace qs {
namespace {

using devserver::Fault;
using qs::testing::DownloadTest;
using qs::testing::Pattern;
using qs::testing::ReadFile;
using qs::testing::WaitUntil;
using qs::testing::WriteFile;

constexpr size_t kFileSize = 50000;
const std::u16string kTransferError(kTransferErrorText);

TEST(ParseLengthHeaderTest, ReadsTheLeadingSignedDecimal) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const struct {
    const char* text;
    int64_t value;
  } cases[] = {
      {"50000", 50000},
      {"0", 0},
      {"  \t+42", 42},
      {"-1", -1},
      {"17 bytes", 17},
      {"12x34", 12},
      {"", 0},
      {"abc", 0},
      {"+", 0},
      {"- 5", 0},
      {"007", 7},
      {"9223372036854775807", kMax},
      {"9223372036854775808", kMax},
      {"99999999999999999999", kMax},
      {"-9223372036854775808", kMin},
      {"-99999999999999999999", kMin},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseLengthHeader(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST_F(DownloadTest, AcceptedThreeTimesThenOkAsksFourTimesAndWritesTheFileOnce) {
  const std::string body = Pattern(kFileSize);
  const std::string url = Serve("a.bin", body);
  server_->AddFault(Fault::Status(202).Times(3));
  auto download = Make(url, target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  const std::string target = "/download?file=a.bin";
  EXPECT_EQ(Targets(), (std::vector<std::string>{target, target, target, target}));
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), body);
  EXPECT_EQ(download->StatusText(), u"10|50000|");
  EXPECT_TRUE(sleeper_.pauses().empty());
}

TEST_F(DownloadTest, NoContentEndsDoneWithoutAnyFile) {
  const std::string url = Serve("a.bin", Pattern(100));
  WriteFile(target_dir_ / "old.bin", "older");
  server_->AddFault(Fault::Status(204));

  auto fresh = Make(url, target_dir_ / "a.bin");
  EXPECT_EQ(fresh->RunHere(), TransferState::kDone);
  EXPECT_EQ(fresh->StatusText(), u"10|0|");
  EXPECT_FALSE(std::filesystem::exists(target_dir_ / "a.bin"));

  server_->AddFault(Fault::Status(204));
  auto existing = Make(url, target_dir_ / "old.bin");
  EXPECT_EQ(existing->RunHere(), TransferState::kDone);
  EXPECT_EQ(ReadFile(target_dir_ / "old.bin"), "older");
}

// Answers that end the download before any file is made, with the status the page reads.
TEST_F(DownloadTest, UnexpectedFirstAnswersFailWithTransferErrorAndLeaveNoFile) {
  const struct {
    const char* name;
    int status;  // 0: the real answer (a missing file: 404)
  } cases[] = {{"missing", 0}, {"server error", 500}, {"partial content", 206}, {"moved", 304}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_->ClearFaults();
    WriteFile(target_dir_ / "t.bin", "older");
    std::string url = server_->base_url() + "/download?file=nothing.bin";
    if (c.status != 0) {
      url = Serve("t.bin", Pattern(1000));
      server_->AddFault(Fault::Status(c.status, "no"));
    }
    auto download = Make(url, target_dir_ / "t.bin");
    EXPECT_EQ(download->RunHere(), TransferState::kFailed);
    EXPECT_EQ(download->StatusText(), u"-1|0|TransferError");
    EXPECT_EQ(ReadFile(target_dir_ / "t.bin"), "older");
  }
}

TEST_F(DownloadTest, WithoutAnnouncedLengthTheBodyIsReadToItsEnd) {
  const std::string body = Pattern(kFileSize);
  server_->AddFault(Fault::OmitQsContentLength());
  auto download = Make(Serve("a.bin", body), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), body);
  EXPECT_EQ(server_->requests().size(), 1u);
}

TEST_F(DownloadTest, WithoutAnnouncedLengthABreakFailsWithThePlatformTextAndNoResumption) {
  server_->AddFault(Fault::OmitQsContentLength());
  server_->AddFault(Fault::BreakAfter(10000));
  WriteFile(target_dir_ / "a.bin", "older");
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  const std::u16string text = download->GetErrorText();
  EXPECT_NE(text, kTransferError);
  EXPECT_NE(text, u"Error");
  EXPECT_EQ(text.back(), u'\n');  // a platform message text
  EXPECT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
}

TEST_F(DownloadTest, AnnouncedLengthZeroReadsNothingAndReplacesTheTargetWithAnEmptyFile) {
  // The body carries bytes, but the announced length says there is nothing to read.
  server_->AddFault(Fault::WrongQsContentLength(-100));
  WriteFile(target_dir_ / "a.bin", "older");
  auto download = Make(Serve("a.bin", Pattern(100)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  ASSERT_TRUE(std::filesystem::exists(target_dir_ / "a.bin"));
  EXPECT_EQ(std::filesystem::file_size(target_dir_ / "a.bin"), 0u);
  EXPECT_EQ(download->StatusText(), u"10|0|");
}

TEST_F(DownloadTest, BreakAfterTenThousandBytesResumesThereAndCompletesTheFile) {
  const std::string body = Pattern(kFileSize);
  server_->AddFault(Fault::BreakAfter(10000));
  auto download = Make(Serve("a.bin", body), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/download?file=a.bin",
                                                 "/download?file=a.bin&resumeAt=10000"}));
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), body);
  EXPECT_EQ(sleeper_.pauses(), (std::vector<long long>{0}));
  EXPECT_EQ(download->StatusText(), u"10|50000|");
}

// Resumed answers that cannot continue the file.
TEST_F(DownloadTest, ResumptionAnsweredWrongFailsWithTransferError) {
  const struct {
    const char* name;
    Fault fault;
  } cases[] = {
      {"offset one short", Fault::WrongResumedFrom(-1)},
      {"offset one beyond", Fault::WrongResumedFrom(1)},
      {"no Resumed-from", Fault::OmitResumedFrom()},
      {"not found", Fault::Status(404, "gone")},
      {"accepted", Fault::Status(202)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_->ClearFaults();
    server_->ClearRequests();
    WriteFile(target_dir_ / "a.bin", "older");
    server_->AddFault(Fault::BreakAfter(10000).Times(1));
    server_->AddFault(Fault(c.fault).Query("resumeAt="));
    auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

    EXPECT_EQ(download->RunHere(), TransferState::kFailed);
    EXPECT_EQ(download->StatusText(), u"-1|10000|TransferError");
    EXPECT_EQ(Targets(), (std::vector<std::string>{"/download?file=a.bin",
                                                   "/download?file=a.bin&resumeAt=10000"}));
    EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
    EXPECT_FALSE(std::filesystem::exists(TempOf(target_dir_ / "a.bin")));
  }
}

TEST_F(DownloadTest, BreakBeforeTheFirstByteFailsWithoutResumption) {
  server_->AddFault(Fault::BreakAfter(0));
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->StatusText(), u"-1|0|TransferError");
  EXPECT_EQ(server_->requests().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(target_dir_ / "a.bin"));
}

TEST_F(DownloadTest, SixBreaksWithoutDataResumeFiveTimesWithGrowingPausesThenFail) {
  server_->AddFault(Fault::BreakAfter(10000).Times(1));
  server_->AddFault(Fault::BreakAfter(0).Query("resumeAt=").Times(Fault::kUnlimited));
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->StatusText(), u"-1|10000|TransferError");
  EXPECT_EQ(sleeper_.pauses(), (std::vector<long long>{0, 3000, 6000, 9000, 12000}));
  const auto targets = Targets();
  ASSERT_EQ(targets.size(), 6u);
  for (size_t i = 1; i < targets.size(); ++i) {
    EXPECT_EQ(targets[i], "/download?file=a.bin&resumeAt=10000");
  }
}

TEST_F(DownloadTest, DataBetweenBreaksStartsThePausesAgain) {
  // Breaks at 10000, then 0 bytes, then 5000 more, then 0 bytes: the data resets the count.
  const std::string body = Pattern(kFileSize);
  server_->AddFault(Fault::BreakAfter(10000).Times(1));
  server_->AddFault(Fault::BreakAfter(0).Query("resumeAt=10000").Times(1));
  server_->AddFault(Fault::BreakAfter(5000).Query("resumeAt=10000").Skip(1).Times(1));
  server_->AddFault(Fault::BreakAfter(0).Query("resumeAt=15000").Times(1));
  auto download = Make(Serve("a.bin", body), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(sleeper_.pauses(), (std::vector<long long>{0, 3000, 0, 3000}));
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), body);
}

TEST_F(DownloadTest, BodyShorterThanAnnouncedResumesAfterFourEmptyReadsAndFinallyFails) {
  // The answer is complete as HTTP goes, but 1000 bytes short of the announced length: reads
  // come back empty, the fourth empty one resumes, and resumptions at the end bring nothing.
  server_->AddFault(Fault::WrongQsContentLength(1000).Times(1));
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->StatusText(), u"-1|50000|TransferError");
  EXPECT_EQ(sleeper_.pauses(), (std::vector<long long>{0, 3000, 6000, 9000, 12000}));
  const auto targets = Targets();
  ASSERT_EQ(targets.size(), 6u);
  EXPECT_EQ(targets[1], "/download?file=a.bin&resumeAt=50000");
}

TEST_F(DownloadTest, MoreBytesThanAnnouncedFailWithTransferError) {
  server_->AddFault(Fault::WrongQsContentLength(-1000));
  WriteFile(target_dir_ / "a.bin", "older");
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->GetErrorText(), kTransferError);
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
}

TEST_F(DownloadTest, RejectedHeadIsAskedAgainWithTheLimitWhichEveryLaterRequestKeeps) {
  const std::string body = Pattern(kFileSize);
  server_->AddFault(Fault::MalformedHeader().Times(1));
  server_->AddFault(Fault::Status(202).Skip(1).Times(1));
  server_->AddFault(Fault::BreakAfter(10000).Skip(2).Times(1));
  const std::string url = Serve("a.bin", body);
  auto download = Make(url, target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  const std::string limited = "/download?file=a.bin&limit=4294967295";
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/download?file=a.bin", limited, limited,
                                                 limited + "&resumeAt=10000"}));
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), body);
  // The origin is the URL as given, without the limit.
  auto origin = platform::GetExtendedAttribute(FromUtf8((target_dir_ / "a.bin").string()),
                                               kOriginAttribute);
  if (origin.ok() || !origin.error().Is(ErrorCode::kNotSupported)) {
    ASSERT_TRUE(origin.ok()) << origin.code();
    EXPECT_EQ(*origin, url);
  }
}

TEST_F(DownloadTest, SecondRejectedHeadFailsWithItsPlatformText) {
  server_->AddFault(Fault::MalformedHeader().Times(2));
  auto download = Make(Serve("a.bin", Pattern(100)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->GetErrorText(), FormatErrorText(ToUint(ErrorCode::kHttpInvalidHeader)));
  EXPECT_EQ(server_->requests().size(), 2u);
}

TEST_F(DownloadTest, CancelDuringTheBodyEndsDoneAndKeepsTheOlderTarget) {
  server_->AddFault(Fault::StallAfter(20000));
  WriteFile(target_dir_ / "a.bin", "older");
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");

  std::thread worker([&] { download->RunHere(); });
  const bool stalled = WaitUntil([&] {
    return download->GetBytesTransferred() == 20000 && server_->StallsInProgress() == 1;
  });
  download->RequestCancel();
  server_->ReleaseStalls();
  worker.join();
  ASSERT_TRUE(stalled);

  // Noticed after the next block was written.
  const uint64_t bytes = download->GetBytesTransferred();
  EXPECT_GT(bytes, 20000u);
  EXPECT_LE(bytes, 20000u + kDownloadBlockSize);
  EXPECT_EQ(download->state(), TransferState::kDone);
  EXPECT_EQ(download->StatusText(), u"10|" + FromAscii(std::to_string(bytes)) + u"|");
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
  EXPECT_FALSE(std::filesystem::exists(TempOf(target_dir_ / "a.bin")));
}

TEST_F(DownloadTest, SecondDownloadToTheSameTargetFailsWithSharingViolationWhileTheFirstGoesOn) {
  const std::string first_body = Pattern(kFileSize);
  const std::string first_url = Serve("a.bin", first_body);
  const std::string second_url = Serve("b.bin", Pattern(3000));
  server_->AddFault(Fault::StallAfter(4096).Query("file=a.bin"));
  const auto target = target_dir_ / "same.bin";
  auto first = Make(first_url, target);
  auto second = Make(second_url, target);

  std::thread worker([&] { first->RunHere(); });
  // The first has its temporary file once its first block is written, not when the server stalls.
  const bool stalled = WaitUntil([&] {
    return server_->StallsInProgress() == 1 && first->GetBytesTransferred() == 4096;
  });
  const TransferState second_end = stalled ? second->RunHere() : TransferState::kCreated;
  // The first still holds its temporary file: nothing of the second's went into it.
  const bool temp_kept = std::filesystem::exists(TempOf(target));
  server_->ReleaseStalls();
  worker.join();
  ASSERT_TRUE(stalled);

  EXPECT_EQ(second_end, TransferState::kFailed);
  EXPECT_EQ(second->GetErrorText(), FormatErrorText(ToUint(ErrorCode::kSharingViolation)));
  EXPECT_TRUE(temp_kept);
  EXPECT_EQ(first->state(), TransferState::kDone);
  EXPECT_EQ(ReadFile(target), first_body);
}

TEST_F(DownloadTest, StaleTemporaryFileFromAnEarlierRunIsReplaced) {
  const std::string body = Pattern(3000);
  WriteFile(TempOf(target_dir_ / "a.bin"), std::string(10000, 'x'));
  auto download = Make(Serve("a.bin", body), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), body);
}

TEST_F(DownloadTest, LinkAtTheTemporaryNameIsNotFollowed) {
  WriteFile(target_dir_ / "elsewhere.txt", "keep me");
  std::filesystem::create_symlink(target_dir_ / "elsewhere.txt", TempOf(target_dir_ / "a.bin"));
  auto download = Make(Serve("a.bin", Pattern(3000)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(ReadFile(target_dir_ / "elsewhere.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::exists(target_dir_ / "a.bin"));
  std::filesystem::remove(TempOf(target_dir_ / "a.bin"));
}

TEST_F(DownloadTest, FailedRenameKeepsTheCompleteTemporaryFile) {
  // A directory stands where the file should go.
  const auto target = target_dir_ / "taken";
  std::filesystem::create_directories(target / "inside");
  const std::string body = Pattern(3000);
  auto download = Make(Serve("a.bin", body), target);

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->GetErrorText(), FormatErrorText(ToUint(ErrorCode::kAccessDenied)));
  EXPECT_TRUE(std::filesystem::is_directory(target / "inside"));
  EXPECT_EQ(ReadFile(TempOf(target)), body);
  std::filesystem::remove(TempOf(target));
}

TEST_F(DownloadTest, UnwritableDirectoryFailsWithThePlatformText) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write into any directory";
  const auto dir = target_dir_ / "locked";
  std::filesystem::create_directories(dir);
  std::filesystem::permissions(dir, std::filesystem::perms::owner_read |
                                        std::filesystem::perms::owner_exec);
  auto download = Make(Serve("a.bin", Pattern(3000)), dir / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->GetErrorText(), FormatErrorText(ToUint(ErrorCode::kAccessDenied)));
}

TEST_F(DownloadTest, FinishedFileCarriesItsOrigin) {
  const std::string url = Serve("a.bin", Pattern(3000));
  auto download = Make(url, target_dir_ / "a.bin");
  ASSERT_EQ(download->RunHere(), TransferState::kDone);

  auto origin = platform::GetExtendedAttribute(FromUtf8((target_dir_ / "a.bin").string()),
                                               kOriginAttribute);
  if (!origin.ok() && origin.error().Is(ErrorCode::kNotSupported)) {
    GTEST_SKIP() << "this file system keeps no user extended attributes";
  }
  ASSERT_TRUE(origin.ok()) << origin.code();
  EXPECT_EQ(*origin, url);
}

}  // namespace
}  // namespace qs
