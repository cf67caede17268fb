// The resumable download against the development server: what goes over the wire (count and
// query strings of the requests), what ends up on disk, and what the page reads as the status.
#include "transfer/downloaded_file.h"

#include <unistd.h>

#include <cstdint>
#include <limits>
#include <numeric>
#include <thread>

#include "platform/extended_attributes.h"
#include "scripted_transfer.h"
#include "transfer/download_decisions.h"
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
  // The resumption asks for byte 10000: the bytes before it must be on disk by then.
  std::string on_disk_in_pause;
  sleeper_.During([&](size_t) {
    on_disk_in_pause = ReadFile(TempOf(target_dir_ / "a.bin"));
    return true;
  });

  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/download?file=a.bin",
                                                 "/download?file=a.bin&resumeAt=10000"}));
  EXPECT_EQ(on_disk_in_pause.size(), 10000u);
  EXPECT_TRUE(on_disk_in_pause == body.substr(0, 10000));
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
  auto origin =
      platform::GetExtendedAttribute(FromUtf8((target_dir_ / "a.bin").string()), kOriginAttribute);
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
  const bool stalled = WaitUntil(
      [&] { return download->GetBytesTransferred() == 20000 && server_->StallsInProgress() == 1; });
  download->RequestCancel();
  server_->ReleaseStalls();
  worker.join();
  ASSERT_TRUE(stalled);

  // Noticed in the waiting read, before another block was written.
  const uint64_t bytes = download->GetBytesTransferred();
  EXPECT_GE(bytes, 20000u);
  EXPECT_LE(bytes, 20000u + kDownloadBlockSize);
  EXPECT_EQ(download->end()->kind, TransferEnd::Kind::kCancelled);
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
  const bool stalled = WaitUntil(
      [&] { return server_->StallsInProgress() == 1 && first->GetBytesTransferred() == 4096; });
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
  std::filesystem::permissions(
      dir, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  auto download = Make(Serve("a.bin", Pattern(3000)), dir / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->GetErrorText(), FormatErrorText(ToUint(ErrorCode::kAccessDenied)));
}

TEST_F(DownloadTest, FinishedFileCarriesItsOrigin) {
  const std::string url = Serve("a.bin", Pattern(3000));
  auto download = Make(url, target_dir_ / "a.bin");
  ASSERT_EQ(download->RunHere(), TransferState::kDone);

  auto origin =
      platform::GetExtendedAttribute(FromUtf8((target_dir_ / "a.bin").string()), kOriginAttribute);
  if (!origin.ok() && origin.error().Is(ErrorCode::kNotSupported)) {
    GTEST_SKIP() << "this file system keeps no user extended attributes";
  }
  ASSERT_TRUE(origin.ok()) << origin.code();
  EXPECT_EQ(*origin, url);
}

// The decisions between the steps, by table, without a server.
TEST(DownloadDecisionsTest, AnswersLengthsAndParameters) {
  EXPECT_EQ(ReadFirstAnswer(202), FirstAnswer::kAskAgain);
  EXPECT_EQ(ReadFirstAnswer(204), FirstAnswer::kNoContent);
  EXPECT_EQ(ReadFirstAnswer(200), FirstAnswer::kBody);
  for (uint32_t refused : {0u, 201u, 206u, 304u, 404u, 407u, 500u}) {
    EXPECT_EQ(ReadFirstAnswer(refused), FirstAnswer::kRefused) << refused;
  }
  EXPECT_EQ(AnnouncedLength(std::nullopt), kUnknownLength);
  EXPECT_EQ(AnnouncedLength("-1"), kUnknownLength);
  EXPECT_EQ(AnnouncedLength("0"), 0);
  EXPECT_EQ(AnnouncedLength("12"), 12);
  EXPECT_EQ(AnnouncedLength("-2"), std::nullopt);
  EXPECT_EQ(AnnouncedLength("-9223372036854775808"), std::nullopt);

  EXPECT_TRUE(ResumedAnswerFits(200, "100", 100));
  EXPECT_FALSE(ResumedAnswerFits(200, "99", 100));
  EXPECT_FALSE(ResumedAnswerFits(200, std::nullopt, 100));
  EXPECT_FALSE(ResumedAnswerFits(206, "100", 100));

  EXPECT_EQ(WithParameter(u"http://h/a/big.bin", u"resumeAt=5"), u"http://h/a/big.bin?resumeAt=5");
  EXPECT_EQ(WithParameter(u"http://h/d?f=a", u"resumeAt=5"), u"http://h/d?f=a&resumeAt=5");
  EXPECT_EQ(WithParameter(u"http://h/d?", u"limit=1"), u"http://h/d?&limit=1");
}

TEST(DownloadDecisionsTest, WhatFollowsARead) {
  const struct {
    int64_t announced;
    int64_t received;
    uint32_t empty_reads;
    uint32_t resumptions;
    size_t got;
    bool failed;
    AfterRead next;
  } cases[] = {
      {-1, 0, 0, 0, 10, false, AfterRead::kWrite},
      {-1, 10, 0, 0, 0, false, AfterRead::kEnd},
      {-1, 10, 0, 0, 0, true, AfterRead::kFail},  // a body cut short without a length
      {100, 10, 0, 0, 0, false, AfterRead::kReadAgain},
      {100, 10, 2, 0, 0, false, AfterRead::kReadAgain},
      {100, 10, 3, 0, 0, false, AfterRead::kResume},
      {100, 10, 0, 0, 0, true, AfterRead::kResume},  // a body cut short with a length
      {100, 10, 0, 4, 0, true, AfterRead::kResume},
      {100, 10, 0, 5, 0, true, AfterRead::kGiveUp},
      {100, 0, 0, 0, 0, true, AfterRead::kGiveUp},  // nothing to resume from
  };
  for (const auto& c : cases) {
    const ReceiveProgress progress{c.announced, c.received, c.empty_reads, c.resumptions};
    EXPECT_EQ(DecideAfterRead(progress, c.got, c.failed), c.next)
        << c.announced << " " << c.received << " " << c.empty_reads << " " << c.resumptions << " "
        << c.got << " " << c.failed;
  }
  EXPECT_TRUE(AnnouncedLengthMet({-1, 7, 0, 0}));
  EXPECT_TRUE(AnnouncedLengthMet({0, 0, 0, 0}));
  EXPECT_TRUE(AnnouncedLengthMet({7, 7, 0, 0}));
  EXPECT_FALSE(AnnouncedLengthMet({7, 8, 0, 0}));
  EXPECT_FALSE(AnnouncedLengthReached({-1, 1000, 0, 0}));
  EXPECT_TRUE(AnnouncedLengthReached({10, 10, 0, 0}));
}

TEST(DownloadDecisionsTest, PausesGrowUpToTheirLimits) {
  std::vector<long long> ask_again;
  for (uint32_t n = 1; n <= 10; ++n) ask_again.push_back(AskAgainPause(n).count());
  EXPECT_EQ(ask_again, (std::vector<long long>{0, 0, 0, 50, 100, 200, 400, 800, 1000, 1000}));
  EXPECT_EQ(AskAgainPause(1000000).count(), 1000);
  EXPECT_EQ(ResumePause(0).count(), 0);
  EXPECT_EQ(ResumePause(4).count(), 12000);
}

TEST_F(DownloadTest, LengthBelowMinusOneFailsAndLeavesTheTargetAlone) {
  WriteFile(target_dir_ / "a.bin", "older");
  server_->AddFault(
      Fault::Raw("HTTP/1.1 200 OK\r\nQS-Content-Length: -5\r\nContent-Length: 3\r\n\r\nabc"));
  auto download = Make(Serve("a.bin", Pattern(100)), target_dir_ / "a.bin");

  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->StatusText(), u"-1|0|TransferError");
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
}

TEST_F(DownloadTest, AUrlWithoutAQueryResumesWithAQuestionMark) {
  server_->AddFault(Fault::Raw("HTTP/1.1 200 OK\r\nQS-Content-Length: 20\r\nContent-Length: 20\r\n"
                               "\r\n0123456789")
                        .Times(1));
  auto download = Make(server_->base_url() + "/a/big.bin", target_dir_ / "a.bin");
  download->RunHere();
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/a/big.bin", "/a/big.bin?resumeAt=10"}));
}

// Bodies the server ends early by closing the connection while the framing says more is coming:
// a failed read, never the end of the body, and the target stays as it was.
TEST_F(DownloadTest, ABodyCutShortByTheConnectionIsAFailedRead) {
  const struct {
    const char* name;
    std::string answer;
    std::u16string status;
    size_t requests;
  } cases[] = {
      {"length header", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", u"-1|10|", 1},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n0123456789\r\n",
       u"-1|10|", 1},
      // With an announced length the break is resumed (and refused here by a 404).
      {"announced",
       "HTTP/1.1 200 OK\r\nQS-Content-Length: 100\r\nContent-Length: 100\r\n\r\n"
       "0123456789",
       u"-1|10|TransferError", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_->ClearFaults();
    server_->ClearRequests();
    WriteFile(target_dir_ / "a.bin", "older");
    server_->AddFault(Fault::Raw(c.answer).Times(1));
    auto download = Make(server_->base_url() + "/download?file=missing.bin", target_dir_ / "a.bin");
    EXPECT_EQ(download->RunHere(), TransferState::kFailed);
    EXPECT_EQ(download->StatusText().substr(0, c.status.size()), c.status);
    EXPECT_EQ(server_->requests().size(), c.requests);
    EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
    ASSERT_TRUE(download->end().has_value());
    EXPECT_TRUE(download->end()->failed());
  }
}

TEST_F(DownloadTest, EndStatesTellNoContentAndCancelApart) {
  const std::string url = Serve("a.bin", Pattern(kFileSize));
  server_->AddFault(Fault::Status(204));
  auto empty = Make(url, target_dir_ / "a.bin");
  empty->RunHere();
  EXPECT_EQ(empty->end()->kind, TransferEnd::Kind::kNoContent);

  server_->AddFault(Fault::Status(404, "no"));
  auto refused = Make(url, target_dir_ / "a.bin");
  refused->RunHere();
  EXPECT_TRUE(refused->end()->protocol_failure());
  EXPECT_EQ(refused->end()->status, 404u);
}

// A server that answers 202 for ever is asked ever more slowly, and a cancel in a pause ends
// the download at once, with nothing sent after it.
TEST_F(DownloadTest, AcceptedForEverIsPacedAndACancelInThePauseEndsIt) {
  server_->AddFault(Fault::Status(202).Times(Fault::kUnlimited));
  auto download = Make(Serve("a.bin", Pattern(100)), target_dir_ / "a.bin");
  sleeper_.During([&](size_t pauses) {
    if (pauses < 6) return true;
    download->RequestCancel();
    return false;
  });
  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(download->StatusText(), u"10|0|");
  EXPECT_EQ(download->end()->kind, TransferEnd::Kind::kCancelled);
  EXPECT_EQ(sleeper_.pauses(), (std::vector<long long>{50, 100, 200, 400, 800, 1000}));
  EXPECT_EQ(server_->requests().size(), 9u);  // three at once, then one after each full pause
}

// A server still preparing the file after about half an hour of asking (as the pauses count it)
// is given up on: the download fails with the platform's time-out.
TEST_F(DownloadTest, AcceptedForEverEndsInATimeOutAfterHalfAnHour) {
  constexpr size_t kBound = kMostAskAgainAnswers;
  server_->AddFault(Fault::Status(202).Times(Fault::kUnlimited));
  auto download = Make(Serve("a.bin", Pattern(100)), target_dir_ / "a.bin");
  sleeper_.During([&](size_t pauses) {
    if (pauses < 2 * kBound) return true;
    download->RequestCancel();  // the bound was not kept
    return false;
  });
  EXPECT_EQ(download->RunHere(), TransferState::kFailed);
  EXPECT_EQ(download->end()->error.code, ToUint(ErrorCode::kInternetTimeout));
  EXPECT_EQ(download->StatusText(), u"-1|0|The operation timed out.\r\n");
  EXPECT_EQ(server_->requests().size(), kBound);
  const auto pauses = sleeper_.pauses();
  EXPECT_GE(std::accumulate(pauses.begin(), pauses.end(), 0LL), 29LL * 60 * 1000);
}

TEST_F(DownloadTest, ACancelInTheResumptionPauseSendsNoResumption) {
  WriteFile(target_dir_ / "a.bin", "older");
  server_->AddFault(Fault::BreakAfter(10000).Times(1));
  auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");
  sleeper_.During([&](size_t) {
    download->RequestCancel();
    return false;
  });
  EXPECT_EQ(download->RunHere(), TransferState::kDone);
  EXPECT_EQ(download->StatusText(), u"10|10000|");
  EXPECT_EQ(download->end()->kind, TransferEnd::Kind::kCancelled);
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/download?file=a.bin"}));
  EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
}

// A cancel while the server sends nothing, mid-body or before the head, wakes the waiting
// request: the download ends as cancelled long before the receive time-out.
TEST_F(DownloadTest, ACancelDuringAStallEndsLikeAnyCancel) {
  for (const bool before_head : {false, true}) {
    SCOPED_TRACE(before_head ? "before the head" : "mid-body");
    server_->ClearFaults();
    server_->ClearRequests();
    WriteFile(target_dir_ / "a.bin", "older");
    server_->AddFault(before_head ? Fault::StallBeforeHead() : Fault::StallAfter(10000));
    auto download = Make(Serve("a.bin", Pattern(kFileSize)), target_dir_ / "a.bin");
    std::thread canceller([&] {
      ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() > 0; }));
      download->RequestCancel();
    });
    EXPECT_EQ(download->RunHere(), TransferState::kDone);
    canceller.join();
    EXPECT_EQ(download->end()->kind, TransferEnd::Kind::kCancelled);
    EXPECT_LE(server_->requests().size(), 1u);  // a request stalled before its head may be unlogged
    EXPECT_EQ(ReadFile(target_dir_ / "a.bin"), "older");
    server_->ReleaseStalls();
  }
}

}  // namespace
}  // namespace qs
