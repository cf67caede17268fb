// Downloads on a bad day, driven through the method table as a page drives them: the server
// goes away before its answer, in the body and during a resumption, answers too slowly, two
// controls aim at one target, the target's folder disappears, and hundreds of downloads replace
// each other while the page polls. In every case the status is the documented one, an older
// target stays as it was until a complete file replaces it, and nothing is left behind (the
// fixture checks threads, descriptors and temporary files after each test).
#include <gtest/gtest.h>

#include <string>

#include "base/error_codes.h"
#include "faults/fault_fixture.h"
#include "transfer/error_text.h"
#include "transfer/session.h"
#include "transfer/transferred_file.h"

namespace qs::testing {
namespace {

struct ParsedStatus {
  std::string state;
  std::string bytes;
  std::string text;
};

ParsedStatus Parse(const std::string& status) {
  ParsedStatus p;
  const size_t a = status.find('|');
  const size_t b = a == std::string::npos ? a : status.find('|', a + 1);
  if (b == std::string::npos) return {status, "", ""};
  return {status.substr(0, a), status.substr(a + 1, b - a - 1), status.substr(b + 1)};
}

// The HTTP library's message for a failed exchange (codes 12001 to 12199), not a protocol
// failure's literal text.
bool IsNetworkFailureText(const std::string& text) {
  for (uint32_t code = 12001; code < 12200; ++code) {
    if (ToUtf8(FormatErrorText(code)) == text && text != "Error") return true;
  }
  return false;
}

std::string TextOf(ErrorCode code) { return ToUtf8(FormatErrorText(ToUint(code))); }

constexpr size_t kFileSize = 1 << 20;
constexpr uint64_t kFirstPiece = 100000;

class DownloadFaultTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    Serve("doc.bin", Pattern(kFileSize, 1));
    WriteFile(target_, older_);
  }
  // The older target is exactly as it was.
  void ExpectOlderTargetIntact() { EXPECT_TRUE(ReadFile(target_) == older_) << "target changed"; }
  void ExpectNewTarget() {
    EXPECT_TRUE(ReadFile(target_) == Pattern(kFileSize, 1)) << "target is not the new file";
  }
  Variant Start() { return Download(*control_, "doc.bin", target_); }

  const std::string older_ = Pattern(5000, 2);
  fs::path target_ = downloads_ / "doc.bin";
};

TEST_F(DownloadFaultTest, ServerGoneBeforeItsAnswerFailsWithTheNetworkText) {
  server_->AddFault(devserver::Fault::StallBeforeHead().Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  server_->Stop();
  const ParsedStatus end = Parse(FinalStatus(*control_));
  EXPECT_EQ(end.state, "-1");
  EXPECT_EQ(end.bytes, "0");
  EXPECT_TRUE(IsNetworkFailureText(end.text)) << end.text;
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, AnswerCutInItsHeadFailsWithoutTouchingTheTarget) {
  server_->AddFault(devserver::Fault::Raw("HTTP/1.1 200 OK\r\nQS-Content-Le"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  const ParsedStatus end = Parse(FinalStatus(*control_));
  EXPECT_EQ(end.state, "-1");
  EXPECT_EQ(end.bytes, "0");
  EXPECT_TRUE(IsNetworkFailureText(end.text)) << end.text;
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, NothingToResumeFromBeforeTheFirstByte) {
  server_->AddFault(devserver::Fault::BreakAfter(0).Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control_), "-1|0|TransferError");
  ASSERT_EQ(server_->requests().size(), 1u);  // no resumption tried
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, ServerGoneInTheBodyFailsAtTheResumptionAndKeepsTheOlderTarget) {
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  AwaitRunningAt(*control_, kFirstPiece);
  server_->Stop();
  const ParsedStatus end = Parse(FinalStatus(*control_));
  EXPECT_EQ(end.state, "-1");
  EXPECT_EQ(end.bytes, std::to_string(kFirstPiece));
  EXPECT_TRUE(IsNetworkFailureText(end.text)) << end.text;
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, ServerGoneWhileAnsweringTheResumption) {
  server_->AddFault(devserver::Fault::BreakAfter(kFirstPiece).Path("/download"));
  server_->AddFault(devserver::Fault::StallBeforeHead().Query("resumeAt="));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  server_->Stop();
  const ParsedStatus end = Parse(FinalStatus(*control_));
  EXPECT_EQ(end.state, "-1");
  EXPECT_EQ(end.bytes, std::to_string(kFirstPiece));
  EXPECT_TRUE(IsNetworkFailureText(end.text)) << end.text;
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, ResumptionRefusedByTheServerIsATransferError) {
  server_->AddFault(devserver::Fault::BreakAfter(kFirstPiece).Path("/download"));
  server_->AddFault(devserver::Fault::Status(500, "gone").Query("resumeAt="));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control_), "-1|" + std::to_string(kFirstPiece) + "|TransferError");
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, ResumptionBrokenAgainAndAgainStillCompletesWhileDataFlows) {
  // Every answer, resumed or not, breaks after 64 KiB: each resumption brings data, so the
  // count of resumptions without data never grows and no pause is made.
  server_->AddFault(
      devserver::Fault::BreakAfter(65536).Path("/download").Times(devserver::Fault::kUnlimited));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control_), "10|" + std::to_string(kFileSize) + "|");
  EXPECT_EQ(server_->requests().size(), kFileSize / 65536);
  ExpectNewTarget();
}

TEST_F(DownloadFaultTest, ASlowServerPastTheReceiveTimeOutIsResumed) {
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  {
    ScopedSessionTimeoutsForTesting short_timeouts(400);  // the session opens at this start
    ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  }
  EXPECT_EQ(FinalStatus(*control_), "10|" + std::to_string(kFileSize) + "|");
  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, "/download?file=doc.bin&resumeAt=" + std::to_string(kFirstPiece));
  ExpectNewTarget();
}

TEST_F(DownloadFaultTest, ASlowServerWithoutALengthFailsWithTheTimeOutText) {
  server_->AddFault(devserver::Fault::OmitQsContentLength().Path("/download"));
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  {
    ScopedSessionTimeoutsForTesting short_timeouts(400);
    ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  }
  EXPECT_EQ(FinalStatus(*control_),
            "-1|" + std::to_string(kFirstPiece) + "|" + TextOf(ErrorCode::kInternetTimeout));
  EXPECT_EQ(server_->requests().size(), 1u);  // nothing to resume with
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, AServerSilentBeforeItsHeadTimesOut) {
  server_->AddFault(devserver::Fault::StallBeforeHead().Path("/download"));
  {
    ScopedSessionTimeoutsForTesting short_timeouts(400);
    ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  }
  EXPECT_EQ(FinalStatus(*control_), "-1|0|" + TextOf(ErrorCode::kInternetTimeout));
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, TargetFolderRemovedDuringTheTransferFailsAtTheRename) {
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  AwaitRunningAt(*control_, kFirstPiece);
  fs::remove_all(downloads_);
  server_->ReleaseStalls();
  EXPECT_EQ(FinalStatus(*control_),
            "-1|" + std::to_string(kFileSize) + "|" + TextOf(ErrorCode::kFileNotFound));
  EXPECT_FALSE(fs::exists(downloads_));  // nothing recreated it
}

TEST_F(DownloadFaultTest, TwoControlsOnOneTargetLeaveOneCompleteFile) {
  auto second = MakeControl();
  GrantDownloadDir(*second, downloads_);
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  AwaitRunningAt(*control_, kFirstPiece);
  // The first holds the temporary file: the second cannot take it over and fails.
  ASSERT_EQ(Download(*second, "doc.bin", target_).type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*second), "-1|0|" + TextOf(ErrorCode::kSharingViolation));
  ExpectOlderTargetIntact();
  server_->ReleaseStalls();
  EXPECT_EQ(FinalStatus(*control_), "10|" + std::to_string(kFileSize) + "|");
  ExpectNewTarget();
}

TEST_F(DownloadFaultTest, CancelledDownloadLeavesTheOlderTarget) {
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  AwaitRunningAt(*control_, kFirstPiece);
  Call(*control_, u"CancelTransfer", {Variant::Int(0)});
  server_->ReleaseStalls();
  const ParsedStatus end = Parse(FinalStatus(*control_));
  EXPECT_EQ(end.state, "10");
  EXPECT_EQ(end.text, "");
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, ControlDestroyedMidTransferLetsTheWorkerEndAlone) {
  server_->AddFault(devserver::Fault::StallAfter(kFirstPiece).Path("/download"));
  ASSERT_EQ(Start().type(), Variant::Type::kInt32);
  AwaitStalls();
  AwaitRunningAt(*control_, kFirstPiece);
  control_.reset();  // closes the session under the running worker
  server_->ReleaseStalls();
  // The fixture waits for the worker to end; the download cannot complete without its session.
  EXPECT_TRUE(WaitFor([&] { return TemporaryFiles(downloads_).empty(); }));
  ExpectOlderTargetIntact();
}

TEST_F(DownloadFaultTest, HundredsOfDownloadsReplacedWhileThePagePolls) {
  constexpr int kCount = 300;
  constexpr size_t kSize = 20000;
  Serve("small.bin", Pattern(kSize, 3));
  // Every second one goes to the same target; they overlap, so some of those fail with the
  // sharing text, and whichever completes last leaves a complete file there.
  for (int i = 0; i < kCount; ++i) {
    const fs::path target =
        i % 2 ? downloads_ / "same.bin" : downloads_ / ("own-" + std::to_string(i) + ".bin");
    Variant ticket = Download(*control_, "small.bin", target);
    if (ticket.type() == Variant::Type::kBool) {
      // At most 32 workers run at once: a start beyond them is refused until one has ended.
      ASSERT_TRUE(WaitFor(
          [] { return TransferredFile::RunningWorkers() < TransferredFile::kMaxRunningWorkers; },
          30000));
      ticket = Download(*control_, "small.bin", target);
    }
    ASSERT_EQ(ticket.type(), Variant::Type::kInt32) << i;
    const std::string status = Status(*control_);
    const std::string state = Parse(status).state;
    EXPECT_TRUE(state == "1" || state == "10" || state == "-1") << status;
  }
  const ParsedStatus last = Parse(FinalStatus(*control_));
  EXPECT_TRUE(last.state == "10" || last.text == TextOf(ErrorCode::kSharingViolation))
      << last.state << "|" << last.bytes << "|" << last.text;
  // Every replaced download goes on to its end by itself (the control is kept meanwhile: its
  // destruction would close the session under them). Each own target appears at its commit.
  ASSERT_TRUE(WaitFor(
      [&] {
        for (int i = 0; i < kCount; i += 2) {
          if (!fs::exists(downloads_ / ("own-" + std::to_string(i) + ".bin"))) return false;
        }
        return server_->requests().size() >= size_t(kCount) && TemporaryFiles(downloads_).empty();
      },
      120000));
  for (int i = 0; i < kCount; i += 2) {
    EXPECT_TRUE(ReadFile(downloads_ / ("own-" + std::to_string(i) + ".bin")) == Pattern(kSize, 3))
        << i;
  }
  EXPECT_TRUE(ReadFile(downloads_ / "same.bin") == Pattern(kSize, 3));
}

}  // namespace
}  // namespace qs::testing
