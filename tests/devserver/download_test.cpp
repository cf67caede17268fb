#include <gtest/gtest.h>

#include <string>

#include "devserver/raw_client.h"
#include "devserver/server.h"
#include "support/pattern.h"
#include "support/temp_dir.h"

namespace qs::devserver {
namespace {

using qs::testing::RawClient;
using qs::testing::RawReply;

using qs::testing::Pattern;

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    content_ = Pattern(50000);
    qs::testing::WriteFile(dir_ / "doc.bin", content_);
    qs::testing::WriteFile(dir_ / "sub/inner.txt", "inner");
    qs::testing::WriteFile(dir_ / "static/page.html", "<p>demo</p>");
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

TEST_F(DownloadTest, ServesWholeFileWithBothLengths) {
  RawReply r = Get("/download?file=doc.bin&limit=4294967295");
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.Header("QS-Content-Length"), "50000");
  EXPECT_EQ(r.Header("Content-Length"), "50000");
  EXPECT_FALSE(r.Header("Resumed-from"));
  EXPECT_EQ(r.body, content_);
}

TEST_F(DownloadTest, ResumeAnswersTheRestAndNamesTheOffset) {
  RawReply r = Get("/download?file=doc.bin&resumeAt=10000");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Resumed-from"), "10000");
  EXPECT_EQ(r.Header("QS-Content-Length"), "50000");  // always the whole file
  EXPECT_EQ(r.Header("Content-Length"), "40000");
  EXPECT_EQ(r.body, content_.substr(10000));

  RawReply at_end = Get("/download?file=doc.bin&resumeAt=50000");
  EXPECT_EQ(at_end.status, 200);
  EXPECT_EQ(at_end.body, "");
}

TEST_F(DownloadTest, RefusesNamesOutsideTheRootAndReportsMissingOnes) {
  struct Case {
    const char* target;
    int status;
  } cases[] = {
      {"/download?file=../outside", 403},
      {"/download?file=sub/../../outside", 403},
      {"/download?file=%2E%2E%2Fetc%2Fpasswd", 403},
      {"/download?file=/etc/passwd", 403},
      {"/download?file=%2Fetc%2Fpasswd", 403},
      {"/download?file=missing.bin", 404},
      {"/download?file=sub", 404},
      {"/download?nofile=1", 400},
      {"/download?file=doc.bin&resumeAt=50001", 416},
      {"/download?file=doc.bin&resumeAt=-1", 400},
      {"/static/../doc.bin", 403},
      {"/elsewhere", 404},
  };
  for (const auto& c : cases) {
    RawReply r = Get(c.target);
    EXPECT_EQ(r.status, c.status) << c.target;
    EXPECT_TRUE(r.complete) << c.target;
  }
  EXPECT_EQ(Get("/download?file=sub%2Finner.txt").body, "inner");
}

TEST_F(DownloadTest, ServesStaticPages) {
  RawReply r = Get("/static/page.html");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(r.body, "<p>demo</p>");
}

TEST_F(DownloadTest, KeepsTheConnectionAliveAndRecordsRequestsWithConnectionIds) {
  {
    RawClient first(server_.port());
    ASSERT_TRUE(first.Get("/download?file=sub/inner.txt&x=1"));
    EXPECT_EQ(first.Read().body, "inner");
    ASSERT_TRUE(first.Get("/download?file=sub/inner.txt&x=2", {"Connection: close"}));
    EXPECT_EQ(first.Read().body, "inner");
    EXPECT_TRUE(first.ClosedByServer());
  }
  Get("/download?file=sub/inner.txt&x=3");

  auto records = server_.requests();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].method, "GET");
  EXPECT_EQ(records[0].target, "/download?file=sub/inner.txt&x=1");
  EXPECT_EQ(records[1].target, "/download?file=sub/inner.txt&x=2");
  EXPECT_EQ(records[0].connection_id, records[1].connection_id);
  EXPECT_NE(records[2].connection_id, records[0].connection_id);
  bool saw_host = false;
  for (const auto& [name, value] : records[0].headers) saw_host |= name == "Host";
  EXPECT_TRUE(saw_host);

  server_.ClearRequests();
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(DownloadTest, PipelinedRequestsAreAnsweredInOrder) {
  RawClient client(server_.port());
  ASSERT_TRUE(
      client.Send("GET /download?file=sub/inner.txt HTTP/1.1\r\nHost: x\r\n\r\n"
                  "GET /download?file=doc.bin&resumeAt=49990 HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ(client.Read().body, "inner");
  EXPECT_EQ(client.Read().body, content_.substr(49990));
}

TEST_F(DownloadTest, MalformedRequestIsRefusedAndClosed) {
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send("NONSENSE\r\n\r\n"));
  EXPECT_EQ(client.Read().status, 400);
  EXPECT_TRUE(client.ClosedByServer());
}

}  // namespace
}  // namespace qs::devserver
