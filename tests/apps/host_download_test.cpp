// StartFileDownload as a page drives it through `qsft host`, against the development server:
// what the page reads back, and that a refused start sends nothing.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "base/error_codes.h"
#include "base/text.h"
#include "devserver/server.h"
#include "qsft/host_session.h"
#include "qsft/json.h"
#include "support/temp_dir.h"
#include "transfer/error_text.h"
#include "transfer/scripted_transfer.h"

namespace qs::app {
namespace {

using qs::ErrorCode;
using qs::ToUint;

using qs::testing::TempDir;
using qs::testing::WriteFile;

// The default wording of the control's text for a download to a place it was not granted.
constexpr char16_t kDeniedText[] =
    u"An access was denied while retrieving a file to an unauthorized directory.";

class HostDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(root_ / "a.bin", "content of a");
    server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    options_.dialogs = DialogsMode::kScript;
    session_ = std::make_unique<HostSession>(options_, diag_);
    ASSERT_EQ(Ask(R"({"id":0,"op":"create","control":"a","page":")" + server_->base_url() +
                  R"(/app/page.html","zone":2,"props":{}})"),
              R"({"id":0,"result":null})");
  }

  void TearDown() override {
    session_.reset();
    server_->Stop();
  }

  std::string Ask(const std::string& line) { return session_->Answer(line); }

  // The status text of the current transfer once it has ended; empty when it did not end.
  std::u16string FinalStatus() {
    std::u16string status;
    const bool ended = qs::testing::WaitUntil([&] {
      auto parsed = json::Parse(
          Ask(R"({"id":3,"op":"call","control":"a","name":"GetTransferStatus","args":[0]})"));
      const auto* answer = std::get_if<json::Value>(&parsed);
      const json::Value* result = answer ? answer->Find(u"result") : nullptr;
      if (result == nullptr || result->kind() != json::Value::Kind::kString) return true;
      status = result->as_string();
      return status.rfind(u"1|", 0) != 0;
    });
    return ended ? status : std::u16string();
  }

  // The result of StartFileDownload(url, path) as the page receives it.
  json::Value StartDownload(const std::string& url, const std::string& path) {
    const json::Value request = json::Value::MakeObject({
        {u"id", json::Value::Integer(1)},
        {u"op", json::Value::String(u"call")},
        {u"control", json::Value::String(u"a")},
        {u"name", json::Value::String(u"StartFileDownload")},
        {u"args", json::Value::MakeArray(
                      {json::Value::String(FromUtf8(url)), json::Value::String(FromUtf8(path))})},
    });
    const std::string line = json::Write(request);
    auto parsed = json::Parse(Ask(line));
    const auto* answer = std::get_if<json::Value>(&parsed);
    if (answer == nullptr || answer->Find(u"result") == nullptr) {
      ADD_FAILURE() << "no result for " << line;
      return json::Value();
    }
    return *answer->Find(u"result");
  }

  TempDir root_;
  TempDir target_dir_;
  std::unique_ptr<devserver::Server> server_;
  HostOptions options_;
  std::ostringstream diag_;
  std::unique_ptr<HostSession> session_;
};

TEST_F(HostDownloadTest, DownloadToAPlaceNotGrantedReturnsTheDeniedTextAndSendsNothing) {
  const json::Value result =
      StartDownload("download?file=a.bin", (target_dir_ / "sub" / "a.bin").string());
  ASSERT_EQ(result.kind(), json::Value::Kind::kString);
  EXPECT_EQ(result.as_string(), kDeniedText);
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_FALSE(std::filesystem::exists(target_dir_ / "sub"));
  EXPECT_EQ(Ask(R"({"id":2,"op":"call","control":"a","name":"GetTransferStatus","args":[0]})"),
            R"({"id":2,"result":null})");
}

TEST_F(HostDownloadTest, UrlOnAnotherHostOrPortIsRefusedAndSendsNothing) {
  const std::string port = std::to_string(server_->port());
  const std::string other_port = std::to_string(server_->port() == 1 ? 2 : 1);
  for (const std::string& url : {"http://localhost:" + port + "/download?file=a.bin",
                                 "http://127.0.0.2:" + port + "/download?file=a.bin",
                                 "http://127.0.0.1:" + other_port + "/download?file=a.bin",
                                 "//127.0.0.1:" + other_port + "/download?file=a.bin"}) {
    SCOPED_TRACE(url);
    const json::Value result = StartDownload(url, (target_dir_ / "a.bin").string());
    ASSERT_EQ(result.kind(), json::Value::Kind::kString);
    EXPECT_EQ(result.as_string(), FormatErrorText(ToUint(ErrorCode::kInvalidParameter)));
  }
  EXPECT_TRUE(server_->requests().empty());
}

TEST_F(HostDownloadTest, RelativeUrlResolvesAgainstThePageIntoThePickedFolderAndNowhereElse) {
  const std::string picked = target_dir_.path().string();
  ASSERT_EQ(Ask(R"({"id":1,"op":"dialogs","answers":[{"folder":")" + picked + R"("}]})"),
            R"({"id":1,"result":null})");
  ASSERT_EQ(Ask(R"({"id":2,"op":"call","control":"a","name":"SelectDownloadDir","args":[]})"),
            R"({"id":2,"result":")" + picked + R"("})");

  // The page is at /app/page.html: "../download" is the server's /download.
  const json::Value ticket =
      StartDownload("../download?file=a.bin", (target_dir_ / "sub" / "a.bin").string());
  ASSERT_EQ(ticket.kind(), json::Value::Kind::kNumber) << json::Write(ticket);
  EXPECT_EQ(FinalStatus(), u"10|12|");
  EXPECT_EQ(qs::testing::ReadFile(target_dir_ / "sub" / "a.bin"), "content of a");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].target, "/download?file=a.bin");

  // Beside the picked folder is not in it.
  const json::Value refused = StartDownload("../download?file=a.bin", picked + "-sibling/a.bin");
  ASSERT_EQ(refused.kind(), json::Value::Kind::kString);
  EXPECT_EQ(refused.as_string(), kDeniedText);
  EXPECT_EQ(server_->requests().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(picked + "-sibling"));
}

}  // namespace
}  // namespace qs::app
