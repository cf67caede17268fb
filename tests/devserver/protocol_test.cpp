// Pure parsing decisions of the development server.
#include <gtest/gtest.h>

#include "devserver/fault.h"
#include "devserver/http_request.h"
#include "devserver/response.h"
#include "devserver/upload_store.h"

namespace qs::devserver {
namespace {

TEST(RequestHeadTest, ParsesTargetQueryAndHeaders) {
  auto r = ParseRequestHead(
      "\r\nGET /download?file=a%20b&limit=4294967295 HTTP/1.1\r\nHost: h\r\nX-A:  v w \r\n\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->method, "GET");
  EXPECT_EQ(r->path, "/download");
  EXPECT_EQ(r->query, "file=a%20b&limit=4294967295");
  EXPECT_EQ(r->Header("x-a"), "v w");
  EXPECT_TRUE(r->KeepAlive());
}

TEST(RequestHeadTest, RefusesMalformedHeads) {
  const char* bad[] = {
      "GET\r\n\r\n",
      "GET /x\r\n\r\n",
      "GET /x HTTP/2\r\n\r\n",
      "GET /x HTTP/1.1\r\nNoColon\r\n\r\n",
      "GET /x HTTP/1.1\r\n: empty name\r\n\r\n",
  };
  for (const char* head : bad) EXPECT_FALSE(ParseRequestHead(head)) << head;
}

TEST(RequestHeadTest, KeepAliveFollowsVersionAndConnectionHeader) {
  EXPECT_FALSE(ParseRequestHead("GET / HTTP/1.1\r\nConnection: Close\r\n\r\n")->KeepAlive());
  EXPECT_FALSE(ParseRequestHead("GET / HTTP/1.0\r\n\r\n")->KeepAlive());
  EXPECT_TRUE(ParseRequestHead("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")->KeepAlive());
}

TEST(QueryTest, LastParameterWinsAndValuesAreDecoded) {
  EXPECT_EQ(QueryParam("file=a&resumeAt=1&resumeAt=20", "resumeAt"), "20");
  EXPECT_EQ(QueryParam("checkin=C%3A%5Cx%20y", "checkin"), "C:\\x y");
  EXPECT_EQ(QueryParam("a=1+2", "a"), "1+2");
  EXPECT_EQ(QueryParam("start", "start"), "");
  EXPECT_FALSE(QueryParam("fileX=1", "file"));
  EXPECT_FALSE(PercentDecode("%4"));
  EXPECT_FALSE(PercentDecode("%zz"));
  EXPECT_FALSE(ParseDecimal("-1"));
  EXPECT_FALSE(ParseDecimal("18446744073709551616"));
  EXPECT_EQ(ParseDecimal("18446744073709551615"), 18446744073709551615ull);
}

TEST(CheckinNameTest, KeepsOnlyASafeLastComponent) {
  EXPECT_EQ(CheckinName("C:\\docs\\report.doc"), "report.doc");
  EXPECT_EQ(CheckinName("/home/u/r\xC3\xA9sum\xC3\xA9.txt"), "r\xC3\xA9sum\xC3\xA9.txt");
  EXPECT_EQ(CheckinName("plain"), "plain");
  EXPECT_FALSE(CheckinName("C:\\docs\\"));
  EXPECT_FALSE(CheckinName("/x/.."));
  EXPECT_FALSE(CheckinName("."));
  EXPECT_FALSE(CheckinName(".qsft-parts"));
}

TEST(BuildHeadTest, LengthsAndFaultChanges) {
  Response r;
  r.headers = {{"QS-Content-Length", "100"}, {"Resumed-from", "40"}};
  r.body = std::string(60, 'x');
  std::string head = BuildHead(r, {}, true);
  EXPECT_EQ(head,
            "HTTP/1.1 200 OK\r\nQS-Content-Length: 100\r\nResumed-from: 40\r\n"
            "Content-Length: 60\r\nConnection: keep-alive\r\n\r\n");
  HeadChanges changes;
  changes.resumed_from_delta = -1;
  changes.omit_qs_content_length = true;
  head = BuildHead(r, changes, false);
  EXPECT_EQ(head.find("QS-Content-Length"), std::string::npos);
  EXPECT_NE(head.find("Resumed-from: 39\r\n"), std::string::npos);
  EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos);

  Response none;
  none.status = 204;
  EXPECT_EQ(BuildHead(none, {}, true), "HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n");
}

TEST(FaultSpecTest, ParsesTheCompactForm) {
  std::string error;
  auto f = ParseFaultDescription("break-after=1048576,times=1,path=/download", &error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->break_after, 1048576u);
  EXPECT_EQ(f->times, 1u);
  EXPECT_EQ(f->path_prefix, "/download");

  f = ParseFaultDescription("status=500,body=disk full,method=POST,query=chunkIdx=2&,skip=0",
                            &error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->status, 500);
  EXPECT_EQ(f->body, "disk full");
  EXPECT_EQ(f->query_contains, "chunkIdx=2&");
  EXPECT_TRUE(f->Replaces());

  f = ParseFaultDescription("auth=digest,user=u,password=p,proxy,times=always", &error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->auth, AuthScheme::kDigest);
  EXPECT_EQ(f->auth_realm, AuthRealm::kProxy);
  EXPECT_EQ(f->times, Fault::kUnlimited);

  f = ParseFaultDescription("stall=before-head,stall-ms=250,resumed-from-delta=-1,raw=a\\r\\nb",
                            &error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->stall, StallPoint::kBeforeHead);
  EXPECT_EQ(f->stall_for.count(), 250);
  EXPECT_EQ(f->resumed_from_delta, -1);
  EXPECT_EQ(f->raw, "a\r\nb");

  f = ParseFaultDescription("rate=125000000,path=/download,times=always", &error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->rate, 125000000u);
  EXPECT_FALSE(f->Replaces());

  for (const char* bad :
       {"bogus", "times=x", "status=", "auth=ntlm", "proxy=1", "stall=x", "rate=0"}) {
    EXPECT_FALSE(ParseFaultDescription(bad, &error)) << bad;
    EXPECT_NE(error.find("bad fault item"), std::string::npos);
  }
}

TEST(FaultMatchTest, MethodPathAndQuery) {
  Fault f = Fault::Status(500).Method("post").Path("/up").Query("chunkIdx=2&");
  EXPECT_TRUE(f.Matches("POST", "/upload", "chunkIdx=2&offset=4096"));
  EXPECT_FALSE(f.Matches("GET", "/upload", "chunkIdx=2&offset=4096"));
  EXPECT_FALSE(f.Matches("POST", "/other", "chunkIdx=2&offset=4096"));
  EXPECT_FALSE(f.Matches("POST", "/upload", "chunkIdx=12&offset=4096"));
}

}  // namespace
}  // namespace qs::devserver
