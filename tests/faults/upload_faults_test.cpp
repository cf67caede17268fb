// Uploads on a bad day, through the method table: the server breaks off or goes away in the
// middle of a chunk, and asks for credentials again and again. The transfer ends with the
// documented status, and nothing of it is checked in on the server.
#include <gtest/gtest.h>

#include <string>

#include "faults/fault_fixture.h"
#include "transfer/error_text.h"

namespace qs::testing {
namespace {

namespace scripted = platform::scripted;

bool IsNetworkFailureText(const std::string& text) {
  for (uint32_t code = 12001; code < 12200; ++code) {
    if (ToUtf8(FormatErrorText(code)) == text && text != "Error") return true;
  }
  return false;
}

constexpr size_t kFileSize = 40000;
constexpr uint32_t kChunk = 16384;

class UploadFaultTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    WriteFile(local_, Pattern(kFileSize, 4));
  }
  // Answers the consent question with Yes, then starts.
  Variant Upload(std::u16string url = u"/wc/upload") {
    sites_[0]->dialogs.Queue(scripted::Button{platform::MessageAnswer::kYes});
    return Start(std::move(url));
  }
  // Starts with whatever answers the test queued.
  Variant Start(std::u16string url) {
    return Call(*control_, u"StartFileUpload",
                {Variant::String(std::move(url)), Variant::Bool(true), Variant::String(U(local_)),
                 Variant::Int(int32_t(kChunk))});
  }
  size_t CredentialPrompts() {
    size_t n = 0;
    for (const auto& shown : sites_[0]->dialogs.Shown()) {
      if (shown.kind == platform::DialogKind::kCredentials) ++n;
    }
    return n;
  }
  std::string StateOf(const std::string& status) { return status.substr(0, status.find('|')); }
  std::string TextOf(const std::string& status) {
    const size_t a = status.find('|');
    const size_t b = a == std::string::npos ? a : status.find('|', a + 1);
    return b == std::string::npos ? std::string() : status.substr(b + 1);
  }

  fs::path local_ = dir_.path() / "local" / "report.bin";
};

TEST_F(UploadFaultTest, ConnectionBrokenInTheMiddleOfAChunk) {
  server_->AddFault(devserver::Fault::BreakAfter(5000).Method("POST").Query("chunkIdx=2&"));
  ASSERT_EQ(Upload().type(), Variant::Type::kInt32);
  const std::string status = FinalStatus(*control_);
  EXPECT_EQ(StateOf(status), "-1") << status;
  EXPECT_TRUE(IsNetworkFailureText(TextOf(status))) << status;
  EXPECT_FALSE(fs::exists(root_ / "report.bin"));
  EXPECT_TRUE(ReadFile(local_) == Pattern(kFileSize, 4));
}

TEST_F(UploadFaultTest, ServerGoneBeforeAnsweringAChunk) {
  server_->AddFault(devserver::Fault::StallBeforeHead().Method("POST").Query("chunkIdx=2&"));
  ASSERT_EQ(Upload().type(), Variant::Type::kInt32);
  AwaitStalls();
  server_->Stop();
  const std::string status = FinalStatus(*control_);
  EXPECT_EQ(StateOf(status), "-1") << status;
  EXPECT_TRUE(IsNetworkFailureText(TextOf(status))) << status;
  EXPECT_FALSE(fs::exists(root_ / "report.bin"));
}

TEST_F(UploadFaultTest, CredentialsRefusedAgainAndAgainEndWhenTheUserCancels) {
  server_->AddFault(devserver::Fault::Challenge(devserver::AuthScheme::kBasic, "ann", "s3cret")
                        .Times(devserver::Fault::kUnlimited));
  // The consent question comes first, then one wrong login per prompt; the prompt after the
  // last finds no answer, which cancels it.
  constexpr int kWrong = 5;
  sites_[0]->dialogs.Queue(scripted::Button{platform::MessageAnswer::kYes});
  for (int i = 0; i < kWrong; ++i) {
    sites_[0]->dialogs.Queue(scripted::Login{{u"ann", u"wrong" + FromAscii(std::to_string(i))}});
  }
  const std::string url = "http://ann:nope@" + server_->base_url().substr(7) + "/wc/upload";
  ASSERT_EQ(Start(FromUtf8(url)).type(), Variant::Type::kInt32);
  // The progress may include blocks of the chunk that was never accepted.
  const std::string status = FinalStatus(*control_);
  EXPECT_EQ(StateOf(status), "-1") << status;
  EXPECT_EQ(TextOf(status), "Cancelled");
  EXPECT_LE(std::stoul(status.substr(3)), kChunk) << status;
  EXPECT_EQ(CredentialPrompts(), size_t(kWrong) + 1);
  EXPECT_FALSE(fs::exists(root_ / "report.bin"));
}

TEST_F(UploadFaultTest, RightCredentialsAfterWrongOnesComplete) {
  server_->AddFault(devserver::Fault::Challenge(devserver::AuthScheme::kDigest, "ann", "s3cret")
                        .Times(devserver::Fault::kUnlimited));
  sites_[0]->dialogs.Queue({scripted::Button{platform::MessageAnswer::kYes},
                            scripted::Login{{u"ann", u"wrong"}},
                            scripted::Login{{u"ann", u"s3cret"}}});
  const std::string url = "http://ann:nope@" + server_->base_url().substr(7) + "/wc/upload";
  ASSERT_EQ(Start(FromUtf8(url)).type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control_), "10|40000|OK 40000");
  EXPECT_EQ(CredentialPrompts(), 2u);
  EXPECT_TRUE(ReadFile(root_ / "report.bin") == Pattern(kFileSize, 4));
}

}  // namespace
}  // namespace qs::testing
