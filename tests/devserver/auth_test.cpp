#include "devserver/auth.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "devserver/raw_client.h"
#include "devserver/server.h"
#include "support/temp_dir.h"

namespace qs::devserver {
namespace {

using qs::testing::RawClient;
using qs::testing::RawReply;

TEST(Md5Test, KnownDigests) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"),
            "9e107d9d372bb6826bd81d3542a419d6");
  // The worked Digest example of RFC 2617 (qop=auth).
  std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
  std::string ha2 = Md5Hex("GET:/dir/index.html");
  EXPECT_EQ(Md5Hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:00000001:0a4f113b:auth:" + ha2),
            "6629fae49393a05397450978507c4ef1");
}

TEST(Base64Test, DecodesWithAndWithoutPadding) {
  EXPECT_EQ(Base64Decode("YWxpY2U6c2VjcmV0"), "alice:secret");
  EXPECT_EQ(Base64Decode("YQ=="), "a");
  EXPECT_EQ(Base64Decode("YWI="), "ab");
  EXPECT_FALSE(Base64Decode("a*b"));
}

// The quoted and unquoted parameters of a challenge header.
std::map<std::string, std::string> ChallengeParams(const std::string& header) {
  std::map<std::string, std::string> out;
  size_t i = header.find(' ') + 1;
  while (i < header.size()) {
    size_t eq = header.find('=', i);
    std::string key = header.substr(i, eq - i);
    std::string value;
    i = eq + 1;
    if (header[i] == '"') {
      size_t close = header.find('"', i + 1);
      value = header.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t comma = header.find(',', i);
      value = header.substr(i, comma - i);
      i = comma == std::string::npos ? header.size() : comma;
    }
    out[key] = value;
    while (i < header.size() && (header[i] == ',' || header[i] == ' ')) ++i;
  }
  return out;
}

class AuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qs::testing::WriteFile(dir_ / "doc.txt", "secret document");
    ASSERT_TRUE(server_.Start());
  }

  RawReply Get(const std::string& target, const std::vector<std::string>& extra = {}) {
    RawClient client(server_.port());
    EXPECT_TRUE(client.Get(target, extra));
    return client.Read();
  }

  qs::testing::TempDir dir_;
  Server server_{Options{dir_.path(), 0, {}}};
};

TEST_F(AuthTest, BasicChallengeLetsOnlyTheRightCredentialsThrough) {
  server_.AddFault(
      Fault::Challenge(AuthScheme::kBasic, "alice", "secret").Times(Fault::kUnlimited));
  RawReply challenge = Get("/download?file=doc.txt");
  EXPECT_EQ(challenge.status, 401);
  EXPECT_EQ(challenge.Header("WWW-Authenticate"), "Basic realm=\"qsft-devserver\"");
  EXPECT_EQ(Get("/download?file=doc.txt", {"Authorization: Basic YWxpY2U6d3Jvbmc="}).status, 401);
  RawReply ok = Get("/download?file=doc.txt", {"Authorization: Basic YWxpY2U6c2VjcmV0"});
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "secret document");
}

TEST_F(AuthTest, ProxyChallengeUsesTheProxyHeaders) {
  server_.AddFault(Fault::Challenge(AuthScheme::kBasic, "alice", "secret", AuthRealm::kProxy)
                       .Times(Fault::kUnlimited));
  RawReply challenge = Get("/download?file=doc.txt", {"Authorization: Basic YWxpY2U6c2VjcmV0"});
  EXPECT_EQ(challenge.status, 407);
  EXPECT_TRUE(challenge.Header("Proxy-Authenticate"));
  EXPECT_EQ(Get("/download?file=doc.txt", {"Proxy-Authorization: Basic YWxpY2U6c2VjcmV0"}).status,
            200);
}

TEST_F(AuthTest, DigestChallengeIsVerified) {
  server_.AddFault(
      Fault::Challenge(AuthScheme::kDigest, "bob", "pa55").Method("POST").Times(Fault::kUnlimited));
  const std::string target = "/up?chunkIdx=1&offset=0&checkin=d.txt";
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post(target, "body"));
  RawReply challenge = client.Read();
  ASSERT_EQ(challenge.status, 401);
  auto header = challenge.Header("WWW-Authenticate");
  ASSERT_TRUE(header);
  ASSERT_EQ(header->rfind("Digest ", 0), 0u);
  auto p = ChallengeParams(*header);
  EXPECT_EQ(p["realm"], "qsft-devserver");
  EXPECT_EQ(p["qop"], "auth");
  ASSERT_FALSE(p["nonce"].empty());

  auto authorization = [&](const std::string& password, const std::string& uri) {
    std::string ha1 = Md5Hex("bob:qsft-devserver:" + password);
    std::string ha2 = Md5Hex("POST:" + uri);
    std::string response = Md5Hex(ha1 + ":" + p["nonce"] + ":00000001:c0ffee:auth:" + ha2);
    return "Authorization: Digest username=\"bob\", realm=\"qsft-devserver\", nonce=\"" +
           p["nonce"] + "\", uri=\"" + uri + "\", qop=auth, nc=00000001, cnonce=\"c0ffee\", " +
           "response=\"" + response + "\", opaque=\"" + p["opaque"] + "\", algorithm=MD5";
  };
  ASSERT_TRUE(client.Post(target, "body", {authorization("wrong", target)}));
  EXPECT_EQ(client.Read().status, 401);
  ASSERT_TRUE(client.Post(target, "body", {authorization("pa55", "/elsewhere")}));
  EXPECT_EQ(client.Read().status, 401);
  ASSERT_TRUE(client.Post(target, "body", {authorization("pa55", target)}));
  RawReply ok = client.Read();
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "OK 4");
  EXPECT_EQ(qs::testing::ReadFile(dir_ / "d.txt"), "body");

  // Refused bodies were read and dropped, so the connection stayed usable throughout.
  auto records = server_.requests();
  ASSERT_EQ(records.size(), 4u);
  for (const auto& r : records) EXPECT_EQ(r.connection_id, records[0].connection_id);
}

}  // namespace
}  // namespace qs::devserver
