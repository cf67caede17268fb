#include "qsft/native_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/store_fixture.h"
#include "devserver/server.h"
#include "qsft/native_framing.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "transfer/scripted_transfer.h"
#include "trust/trusted_sites.h"

namespace qs::app {
namespace {

std::string Frames(const std::vector<std::string>& messages) {
  std::string out;
  for (const auto& m : messages) out += EncodeFrame(m);
  return out;
}

std::vector<std::string> ReadAll(const std::string& bytes, size_t max = 1 << 20) {
  std::istringstream in(bytes);
  std::vector<std::string> out;
  std::string m;
  for (FrameStatus s; (s = ReadFrame(in, max, m)) != FrameStatus::kEnd;) {
    out.push_back(s == FrameStatus::kTooLong ? "<too long>" : m);
  }
  return out;
}

TEST(NativeFraming, LengthInNativeOrderThenTheMessage) {
  const std::string frame = EncodeFrame("{}");
  const uint32_t length = 2;
  EXPECT_EQ(frame, std::string(reinterpret_cast<const char*>(&length), 4) + "{}");
  EXPECT_EQ(ReadAll(Frames({"{\"a\":1}", "", "[]"})),
            (std::vector<std::string>{"{\"a\":1}", "", "[]"}));
  // An over-long frame is skipped whole and the next one still read.
  EXPECT_EQ(ReadAll(Frames({std::string(100, 'x'), "{}"}), 10),
            (std::vector<std::string>{"<too long>", "{}"}));
  // A frame cut short, or a prefix cut short, ends the input.
  EXPECT_EQ(ReadAll(Frames({"{}"}) + EncodeFrame("[1,2]").substr(0, 6)),
            (std::vector<std::string>{"{}"}));
  EXPECT_EQ(ReadAll(std::string("\x05\x00", 2)), std::vector<std::string>{});
  // A hostile length of 4 GiB costs no memory and ends with the input.
  EXPECT_EQ(ReadAll(std::string("\xff\xff\xff\xff{}", 6)), std::vector<std::string>{});
}

class NativeHostTest : public qs::testing::StoreTest {
 protected:
  static std::string Msg(const std::string& body,
                         const std::string& url = "https://dms.example/app",
                         const std::string& document = "D1") {
    return "{" + body + R"(,"sender":{"url":")" + url + R"(","tab":4,"frame":0,"document":")" +
           document + R"(","port":1}})";
  }
  static json::Value Parsed(const std::string& text) {
    auto r = json::Parse(text);
    EXPECT_TRUE(std::holds_alternative<json::Value>(r)) << text;
    return std::holds_alternative<json::Value>(r) ? std::get<json::Value>(r) : json::Value();
  }
  // The answers of one whole session.
  static std::vector<std::string> Run(const std::vector<std::string>& messages) {
    std::istringstream in(Frames(messages));
    std::ostringstream out;
    std::ostringstream diag;
    EXPECT_EQ(RunNativeMessagingHost(in, out, diag, HostOptions{}), 0);
    return ReadAll(out.str());
  }
  static BrowserRequest Translate(const std::string& text) {
    auto r = TranslateBrowserMessage(Parsed(text));
    EXPECT_TRUE(std::holds_alternative<BrowserRequest>(r)) << text;
    return std::holds_alternative<BrowserRequest>(r) ? std::get<BrowserRequest>(r)
                                                     : BrowserRequest{};
  }
  static std::u16string Refusal(const std::string& text) {
    auto r = TranslateBrowserMessage(Parsed(text));
    return std::holds_alternative<OpFailure>(r) ? std::get<OpFailure>(r).message : u"<passed>";
  }
};

TEST_F(NativeHostTest, ThePageIdentityComesFromTheSenderOnly) {
  // The page claims a trusted page, zone 2 and no safety negotiation; none of it is kept.
  BrowserRequest r = Translate(Msg(
      R"("id":1,"op":"create","control":"a","page":"https://trusted.example/","zone":2,"safe":false,"props":{})",
      "https://evil.example/x"));
  EXPECT_EQ(json::Write(r.request),
            R"({"id":1,"op":"create","props":{},"control":"[4,0,\"D1\",1]/a",)"
            R"("page":"https://evil.example/x","zone":3,"safe":true})");

  ASSERT_TRUE(AddUserTrustedSite(u"*.example").ok());
  r = Translate(Msg(R"("id":2,"op":"create","control":"a")", "https://dms.example:8443/a"));
  EXPECT_EQ(r.request.Find(u"zone")->AsInteger(0, 9), 2);
  r = Translate(Msg(R"("id":2,"op":"create","control":"a")", "https://dms.example.evil/a"));
  EXPECT_EQ(r.request.Find(u"zone")->AsInteger(0, 9), 3);
}

TEST_F(NativeHostTest, PagesGetOnlyTheirOwnOpsAndNames) {
  // Ops that script the user's dialogs, end the host or read saved state are not a page's.
  for (const char* op : {"dialogs", "shown", "quit", "save", "safety"}) {
    EXPECT_EQ(Refusal(Msg(std::string(R"("id":1,"op":")") + op + R"(","control":"a")")),
              u"unknown op \"" + FromAscii(op) + u"\"");
  }
  EXPECT_EQ(Refusal(R"({"id":1,"op":"get","control":"a"})"), u"the request has no \"sender\"");
  EXPECT_EQ(Refusal(R"({"id":1,"op":"get","control":"a","sender":{"url":"https://a/","tab":{}}})"),
            u"the sender's \"tab\" is not an identifier");
  EXPECT_EQ(Refusal(Msg(R"("id":1,"op":"get","control":"")")),
            u"\"control\" must be a non-empty string");

  // Another document cannot reach a control by naming it, and a release ends only its own.
  // (The pages' site is trusted, so the safety negotiation lets them have controls.)
  ASSERT_TRUE(AddUserTrustedSite(u"dms.example").ok());
  auto answers = Run({
      Msg(R"("id":1,"op":"create","control":"a","props":{"User":"alice"})"),
      Msg(R"("id":2,"op":"create","control":"a","props":{"User":"bob"})", "https://dms.example/app",
          "D2"),
      Msg(R"("id":3,"op":"get","control":"a","name":"User")", "https://dms.example/app", "D2"),
      Msg(R"("id":4,"op":"release")", "https://dms.example/app", "D2"),
      Msg(R"("id":5,"op":"get","control":"a","name":"user")", "https://dms.example/app", "D2"),
      Msg(R"("id":6,"op":"get","control":"a","name":"User")"),
      R"({"id":7,"op":"get"})",
      "not json",
  });
  ASSERT_EQ(answers.size(), 8u);
  EXPECT_EQ(answers[0], R"({"id":1,"result":null})");
  EXPECT_EQ(answers[2], R"({"id":3,"result":"bob"})");
  EXPECT_EQ(answers[3], R"({"id":4,"result":null})");
  EXPECT_NE(answers[4].find(R"("error":{"code":-2147024809)"), std::string::npos) << answers[4];
  EXPECT_EQ(answers[5], R"({"id":6,"result":"alice"})");
  EXPECT_NE(answers[6].find(R"({"id":7,"error":)"), std::string::npos) << answers[6];
  EXPECT_NE(answers[7].find(R"({"id":null,"error":)"), std::string::npos) << answers[7];
}

TEST_F(NativeHostTest, OnlyThePageHostsCookiesGoWithACall) {
  const std::string cookies =
      R"("cookies":[)"
      R"({"name":"own","value":"1","domain":"dms.example","hostOnly":true,"path":"/","session":true},)"
      R"({"name":"parent","value":"2","domain":".example","hostOnly":false,"path":"/","httpOnly":true,"expirationDate":4102444800.5},)"
      R"({"name":"sub","value":"3","domain":"a.dms.example","hostOnly":true,"path":"/","session":true},)"
      R"({"name":"other","value":"4","domain":"evil.example","hostOnly":false,"path":"/","session":true},)"
      R"({"name":"lookalike","value":"5","domain":"ms.example","hostOnly":false,"path":"/","session":true},)"
      R"({"name":"noexpiry","value":"6","domain":"dms.example","hostOnly":true,"path":"/"}])";
  BrowserRequest r =
      Translate(Msg(R"("id":1,"op":"call","control":"a","name":"StartFileDownload",)" + cookies));
  ASSERT_EQ(r.cookies.size(), 2u);
  EXPECT_EQ(r.cookies[0].name, "own");
  EXPECT_TRUE(r.cookies[0].host_only);
  EXPECT_EQ(r.cookies[0].expires, 0);
  EXPECT_EQ(r.cookies[1].name, "parent");
  EXPECT_EQ(r.cookies[1].domain, "example");
  EXPECT_TRUE(r.cookies[1].http_only);
  EXPECT_EQ(r.cookies[1].expires, 4102444800);
  // Cookies never ride on other ops, nor reach the session request itself.
  EXPECT_TRUE(Translate(Msg(R"("id":1,"op":"create","control":"a",)" + cookies)).cookies.empty());
  EXPECT_EQ(r.request.Find(u"cookies"), nullptr);
}

// What the server sets in a transfer's answers goes back to the browser with the page's next
// answer, once, and only for the page's own host.
TEST_F(NativeHostTest, CookiesThatTheServerSetsComeBackOnceWithTheAnswers) {
  testing::TempDir root;
  testing::WriteFile(root / "a.bin", "content of a");
  devserver::Server server(devserver::Options{root.path(), 0, nullptr});
  ASSERT_TRUE(server.Start());
  devserver::Fault login;
  login.set_cookie = "ticket=t1; Path=/; HttpOnly";
  server.AddFault(std::move(login).Path("/download").Times(devserver::Fault::kUnlimited));
  ASSERT_TRUE(AddUserTrustedSite(u"127.0.0.1").ok());
  const std::string page = server.base_url() + "/app/page.html";
  HostOptions options;
  std::ostringstream diag;
  HostSession session(options, diag);
  auto ask = [&](const std::string& body, const std::string& url) {
    return AnswerBrowserMessage(session, Msg(body, url));
  };
  testing::TempDir data;
  testing::ScopedEnv data_home{"XDG_DATA_HOME", data.path().string()};
  ASSERT_EQ(
      ask(R"("id":1,"op":"create","control":"a","props":{"DatasourceName":"Archive",)"
          R"("User":"jdoe","UserWorkDir":"%LocalAppData%/Quillstone/WebWorkDir/%Datasource%/%User%"})",
          page),
      R"({"id":1,"result":null})");
  ASSERT_EQ(ask(R"("id":2,"op":"call","control":"a","name":"ChooseWorkDir","args":[])", page),
            R"({"id":2,"result":true})");
  auto work = json::Parse(ask(R"("id":2,"op":"get","control":"a","name":"UserWorkDir")", page));
  ASSERT_TRUE(std::holds_alternative<json::Value>(work));
  const json::Value* dir = std::get<json::Value>(work).Find(u"result");
  ASSERT_TRUE(dir && dir->kind() == json::Value::Kind::kString);
  const std::string target = ToUtf8(dir->as_string()) + "/a.bin";
  std::vector<std::string> answers = {
      ask(R"("id":3,"op":"call","control":"a","name":"StartFileDownload","args":[")" +
              server.base_url() + R"(/download?file=a.bin",")" + target + R"("])",
          page)};
  ASSERT_EQ(answers[0].find(R"({"id":3,"result":)"), 0u) << answers[0];
  ASSERT_TRUE(qs::testing::WaitUntil([&] {
    answers.push_back(
        ask(R"("id":4,"op":"call","control":"a","name":"GetTransferStatus","args":[0])", page));
    return answers.back().find("\"10|") != std::string::npos;
  })) << answers.back();
  answers.push_back(ask(R"("id":5,"op":"get","control":"a","name":"User")", page));
  // Exactly one answer carried the cookie, with what the browser needs to store it.
  const std::string cookie =
      R"("cookies":[{"name":"ticket","domain":"127.0.0.1","path":"/","hostOnly":true,)"
      R"("value":"t1","secure":false,"httpOnly":true}])";
  EXPECT_EQ(
      std::count_if(answers.begin(), answers.end(),
                    [&](const std::string& a) { return a.find(cookie) != std::string::npos; }),
      1)
      << ::testing::PrintToString(answers);
  EXPECT_EQ(answers.back(), R"({"id":5,"result":"jdoe"})");
}

TEST_F(NativeHostTest, NoAnswerOverTheBrowsersLimit) {
  // A property value that fits the request limit but not the browser's limit on answers.
  HostOptions options;
  options.limits.max_bytes = 4 << 20;
  const std::string big(kMaxReplyBytes, 'u');
  ASSERT_TRUE(AddUserTrustedSite(u"dms.example").ok());
  std::istringstream in(Frames({
      Msg(R"("id":1,"op":"create","control":"a")"),
      Msg(R"("id":2,"op":"put","control":"a","name":"Url","value":")" + big + "\""),
      Msg(R"("id":3,"op":"get","control":"a","name":"Url")"),
  }));
  std::ostringstream out;
  std::ostringstream diag;
  ASSERT_EQ(RunNativeMessagingHost(in, out, diag, options), 0);
  auto answers = ReadAll(out.str(), 8 << 20);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[1], R"({"id":2,"result":null})");
  EXPECT_LE(answers[2].size(), kMaxReplyBytes);
  EXPECT_EQ(answers[2].rfind(R"({"id":3,"error":{"code":-2147024882,)", 0), 0u)
      << answers[2].substr(0, 80);
}

}  // namespace
}  // namespace qs::app
