#include <gtest/gtest.h>

#include <filesystem>
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

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  std::string Stored(const std::string& name) { return qs::testing::ReadFile(dir_ / name); }

  qs::testing::TempDir dir_;
  Server server_{Options{dir_.path(), 0, {}}};
};

TEST_F(UploadTest, ChunksArePlacedByOffsetAndCompletedOnCheckin) {
  const std::string file = Pattern(10000);
  const std::string base = "/app/upload?ds=7&";
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post(base + "chunkIdx=1&offset=0&start=true", file.substr(0, 4096)));
  RawReply first = client.Read();
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.body, "OK chunk 1");
  ASSERT_TRUE(client.Post(base + "chunkIdx=2&offset=4096", file.substr(4096, 4096)));
  EXPECT_EQ(client.Read().body, "OK chunk 2");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "report v2.bin"));
  ASSERT_TRUE(client.Post(base + "chunkIdx=3&offset=8192&checkin=C%3A%5Cdocs%5Creport%20v2%2Ebin",
                          file.substr(8192)));
  RawReply last = client.Read();
  EXPECT_EQ(last.status, 200);
  EXPECT_EQ(last.body, "OK 10000");
  EXPECT_EQ(Stored("report v2.bin"), file);

  auto records = server_.requests();
  ASSERT_EQ(records.size(), 3u);
  uint64_t sizes[] = {4096, 4096, 1808};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].method, "POST");
    EXPECT_EQ(records[i].body_size, sizes[i]);
    EXPECT_EQ(records[i].connection_id, records[0].connection_id);
  }
  EXPECT_EQ(records[0].target, "/app/upload?ds=7&chunkIdx=1&offset=0&start=true");
}

TEST_F(UploadTest, EmptyFileIsOneRequestWithCheckin) {
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0&start=true&checkin=%2Ftmp%2Fempty%2Etxt", ""));
  RawReply r = client.Read();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "OK 0");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "empty.txt"));
  EXPECT_EQ(Stored("empty.txt"), "");
}

TEST_F(UploadTest, RefusesGapsBadParametersAndUnsafeNames) {
  RawClient client(server_.port());
  struct Case {
    const char* target;
    int status;
  } cases[] = {
      {"/up?chunkIdx=1&offset=100", 409},  // nothing received yet
      {"/up?offset=0", 400},
      {"/up?chunkIdx=1", 400},
      {"/up?chunkIdx=1&offset=x", 400},
      {"/up?chunkIdx=1&offset=0&checkin=C%3A%5Cdir%5C%2E%2E", 400},
      {"/up?chunkIdx=1&offset=0&checkin=%2Fhome%2F", 400},
      {"/up?chunkIdx=1&offset=0&checkin=%2Eqsft-parts", 400},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(client.Post(c.target, "abc")) << c.target;
    EXPECT_EQ(client.Read().status, c.status) << c.target;
  }
  // A name that climbs out of the root keeps only its last component.
  ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0&checkin=..%2F..%2Fescaped.txt", "abc"));
  EXPECT_EQ(client.Read().status, 200);
  EXPECT_EQ(Stored("escaped.txt"), "abc");
  EXPECT_FALSE(std::filesystem::exists(dir_.path().parent_path() / "escaped.txt"));
}

TEST_F(UploadTest, AResentChunkReplacesWhatItCoveredBefore) {
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0", "AAAA"));
  EXPECT_EQ(client.Read().status, 200);
  ASSERT_TRUE(client.Post("/up?chunkIdx=2&offset=4", "BBBBBB"));
  EXPECT_EQ(client.Read().status, 200);
  ASSERT_TRUE(client.Post("/up?chunkIdx=2&offset=4&checkin=f.txt", "CC"));
  EXPECT_EQ(client.Read().body, "OK 6");
  EXPECT_EQ(Stored("f.txt"), "AAAACC");
}

TEST_F(UploadTest, FailureStatusOnOneChunkStoresNothingOfIt) {
  server_.AddFault(Fault::Status(500, "disk full").Method("POST").Query("chunkIdx=2&"));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0", "1111"));
  EXPECT_EQ(client.Read().status, 200);
  ASSERT_TRUE(client.Post("/up?chunkIdx=2&offset=4", "2222"));
  RawReply failed = client.Read();
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.body, "disk full");
  // The failed chunk left no bytes: offset 8 would be a gap.
  ASSERT_TRUE(client.Post("/up?chunkIdx=3&offset=8", "3333"));
  EXPECT_EQ(client.Read().status, 409);
}

TEST_F(UploadTest, BreakDuringAChunkClosesUnansweredAndDiscardsThePartialChunk) {
  server_.AddFault(Fault::BreakAfter(1000).Method("POST").Query("chunkIdx=2&"));
  {
    RawClient client(server_.port());
    ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0", std::string(4096, 'a')));
    EXPECT_EQ(client.Read().status, 200);
    client.Post("/up?chunkIdx=2&offset=4096", std::string(4096, 'b'));
    EXPECT_EQ(client.ReadToClose(), "");
  }
  auto records = server_.requests();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].body_size, 1000u);

  RawClient again(server_.port());
  ASSERT_TRUE(again.Post("/up?chunkIdx=2&offset=4096&checkin=b.bin", std::string(10, 'c')));
  EXPECT_EQ(again.Read().body, "OK 4106");
  EXPECT_EQ(Stored("b.bin"), std::string(4096, 'a') + std::string(10, 'c'));
}

TEST_F(UploadTest, AskAgainAtTheSameUriHoldsTheAnswerUntilTheLastFollowUp) {
  server_.AddFault(Fault::AskAgain().Method("POST").Times(3));
  const std::string target = "/up?chunkIdx=1&offset=0&checkin=held.txt";
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post(target, "payload"));
  RawReply r = client.Read();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.status, 202) << i;
    EXPECT_EQ(r.body, target) << i;
    ASSERT_TRUE(client.Post(target, ""));
    r = client.Read();
  }
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "OK 7");
  EXPECT_EQ(Stored("held.txt"), "payload");
  auto records = server_.requests();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].body_size, 7u);
  EXPECT_EQ(records[3].body_size, 0u);
}

TEST_F(UploadTest, AskAgainAtAnotherUriAnswersThere) {
  server_.AddFault(Fault::AskAgain("/up/poll?ticket=9").Query("chunkIdx=1&"));
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0", "abc"));
  RawReply r = client.Read();
  EXPECT_EQ(r.status, 202);
  EXPECT_EQ(r.body, "/up/poll?ticket=9");
  ASSERT_TRUE(client.Post("/up/poll?ticket=9", ""));
  r = client.Read();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "OK chunk 1");
}

TEST_F(UploadTest, ExpectContinueIsAnsweredBeforeTheBody) {
  RawClient client(server_.port());
  ASSERT_TRUE(
      client.Send("POST /up?chunkIdx=1&offset=0&checkin=e.bin HTTP/1.1\r\nHost: x\r\n"
                  "Content-Length: 3\r\nExpect: 100-continue\r\n\r\n"));
  EXPECT_EQ(client.Read().status, 100);
  ASSERT_TRUE(client.Send("xyz"));
  EXPECT_EQ(client.Read().body, "OK 3");
}

TEST_F(UploadTest, ChunkedRequestBodiesAreRefused) {
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send(
      "POST /up?chunkIdx=1&offset=0 HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
      "3\r\nabc\r\n0\r\n\r\n"));
  EXPECT_EQ(client.Read().status, 411);
  EXPECT_TRUE(client.ClosedByServer());
}

}  // namespace
}  // namespace qs::devserver
