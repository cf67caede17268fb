#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "devserver/raw_client.h"
#include "devserver/server.h"
#include "support/temp_dir.h"

namespace qs::devserver {
namespace {

using qs::testing::RawClient;
using qs::testing::RawReply;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    content_ = std::string(200000, 'x');
    for (size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>('a' + i % 26);
    qs::testing::WriteFile(dir_ / "doc.bin", content_);
    ASSERT_TRUE(server_.Start());
  }

  RawReply Get(const std::string& target) {
    RawClient client(server_.port());
    EXPECT_TRUE(client.Get(target));
    return client.Read();
  }

  qs::testing::TempDir dir_;
  std::string content_;
  Server server_{Options{dir_.path(), 0, {}}};
};

TEST_F(FaultTest, StatusAppliesTheGivenNumberOfTimesThenTheRealAnswerFollows) {
  server_.AddFault(Fault::Status(202).Path("/download").Times(3));
  RawClient client(server_.port());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.Get("/download?file=doc.bin"));
    RawReply r = client.Read();
    EXPECT_EQ(r.status, 202);
    EXPECT_EQ(r.Header("Content-Length"), "0");
  }
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  RawReply r = client.Read();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, content_);
  EXPECT_EQ(server_.requests().size(), 4u);
}

TEST_F(FaultTest, SkipAndMatchersChooseTheRequests) {
  server_.AddFault(Fault::Status(500, "second only").Path("/download").Skip(1));
  server_.AddFault(Fault::Status(404, "never").Path("/other"));
  server_.AddFault(Fault::Status(409, "resumes").Query("resumeAt=").Times(Fault::kUnlimited));
  EXPECT_EQ(Get("/download?file=doc.bin").status, 200);
  RawReply second = Get("/download?file=doc.bin");
  EXPECT_EQ(second.status, 500);
  EXPECT_EQ(second.body, "second only");
  EXPECT_EQ(Get("/download?file=doc.bin").status, 200);
  EXPECT_EQ(Get("/download?file=doc.bin&resumeAt=5").status, 409);
  EXPECT_EQ(Get("/download?file=doc.bin&resumeAt=6").status, 409);
}

TEST_F(FaultTest, NoContentCarriesNoBodyAndKeepsTheConnection) {
  server_.AddFault(Fault::Status(204));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  RawReply r = client.Read();
  EXPECT_EQ(r.status, 204);
  EXPECT_FALSE(r.Header("Content-Length"));
  ASSERT_TRUE(client.Get("/download?file=doc.bin&resumeAt=199999"));
  EXPECT_EQ(client.Read().body, content_.substr(199999));
}

TEST_F(FaultTest, BreakCutsTheBodyAfterExactlyThatManyBytes) {
  server_.AddFault(Fault::BreakAfter(10000).Path("/download"));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  RawReply r = client.Read();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Length"), "200000");
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.body, content_.substr(0, 10000));
  EXPECT_TRUE(client.ClosedByServer());

  // Applied once: the resumption is whole.
  RawReply resumed = Get("/download?file=doc.bin&resumeAt=10000");
  EXPECT_EQ(resumed.body, content_.substr(10000));
}

TEST_F(FaultTest, HeadFaultsChangeOnlyWhatTheyName) {
  server_.AddFault(Fault::WrongResumedFrom(-1));
  RawReply wrong = Get("/download?file=doc.bin&resumeAt=10000");
  EXPECT_EQ(wrong.Header("Resumed-from"), "9999");
  EXPECT_EQ(wrong.body, content_.substr(10000));  // the body still starts at the asked offset

  server_.AddFault(Fault::OmitResumedFrom());
  EXPECT_FALSE(Get("/download?file=doc.bin&resumeAt=1").Header("Resumed-from"));

  server_.AddFault(Fault::OmitQsContentLength());
  RawReply plain = Get("/download?file=doc.bin");
  EXPECT_FALSE(plain.Header("QS-Content-Length"));
  EXPECT_EQ(plain.Header("Content-Length"), "200000");

  server_.AddFault(Fault::MalformedHeader());
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin", {"Connection: close"}));
  std::string raw = client.ReadToClose().substr(0, 400);
  EXPECT_NE(raw.find("\r\nX-Broken-Header-Line-Without-Colon\r\n"), std::string::npos);

  server_.AddFault(Fault::LongHeader(150000));
  RawReply longer = Get("/download?file=doc.bin");
  ASSERT_TRUE(longer.Header("X-Long"));
  EXPECT_EQ(longer.Header("X-Long")->size(), 150000u);
  EXPECT_EQ(longer.body, content_);
}

TEST_F(FaultTest, RawBytesGoOutExactlyAndTheConnectionCloses) {
  server_.AddFault(Fault::Raw("HTTP/1.1 200 OK\r\nBroken\r\n\r\nxyz"));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  EXPECT_EQ(client.ReadToClose(), "HTTP/1.1 200 OK\r\nBroken\r\n\r\nxyz");
}

TEST_F(FaultTest, FirstAddedReplacingFaultWins) {
  server_.AddFault(Fault::Status(503, "first"));
  server_.AddFault(Fault::Status(404, "second"));
  EXPECT_EQ(Get("/download?file=doc.bin").body, "first");
  EXPECT_EQ(Get("/download?file=doc.bin").status, 200);  // both windows were one request long
}

TEST_F(FaultTest, StopReturnsDuringAStallBeforeTheHead) {
  server_.AddFault(Fault::StallBeforeHead());
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  // The request is recorded before the stall starts; wait for it with a bounded loop.
  for (int i = 0; i < 2000 && server_.requests().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(server_.requests().size(), 1u);
  server_.Stop();
  EXPECT_EQ(client.ReadToClose(), "");
  server_.Stop();  // idempotent
}

TEST_F(FaultTest, StopReturnsDuringAStallMidBody) {
  server_.AddFault(Fault::StallAfter(70000));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  EXPECT_EQ(client.ReadHead().status, 200);
  // Exactly the bytes before the stall point arrive; the server then holds still until Stop.
  EXPECT_EQ(client.ReadBytes(70000), content_.substr(0, 70000));
  server_.Stop();
  EXPECT_EQ(client.ReadToClose(), "");
}

TEST_F(FaultTest, BoundedStallResumesTheBody) {
  server_.AddFault(Fault::StallAfter(1000, std::chrono::milliseconds(1)));
  RawReply r = Get("/download?file=doc.bin");
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.body, content_);
}

TEST_F(FaultTest, RatePacesTheBodyAndStopEndsAPacedAnswer) {
  server_.AddFault(Fault::Rate(50 * 1000 * 1000).Path("/download").Times(1));
  RawReply paced = Get("/download?file=doc.bin");
  EXPECT_TRUE(paced.complete);
  EXPECT_EQ(paced.body, content_);

  // At 100 bytes a second the first piece (4096 bytes) goes out at once and the next is due
  // 40 s later: nothing more arrives before Stop ends the answer.
  server_.AddFault(Fault::Rate(100).Path("/download").Times(1));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Get("/download?file=doc.bin"));
  EXPECT_EQ(client.ReadHead().status, 200);
  EXPECT_EQ(client.ReadBytes(4096), content_.substr(0, 4096));
  server_.Stop();
  EXPECT_EQ(client.ReadToClose(), "");
}

}  // namespace
}  // namespace qs::devserver
