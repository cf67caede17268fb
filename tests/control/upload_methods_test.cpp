// GetFileSizes and StartFileUpload through the method table, against the development server:
// the consent question 309 and its answers, the grant it records for one upload, and the status
// texts the page reads while and after a file goes up.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "control/client_site.h"
#include "control/control.h"
#include "control/control_test_support.h"
#include "devserver/server.h"
#include "dialogs/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "transfer/error_text.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
namespace scripted = platform::scripted;
using testing::ReadFile;
using testing::ScriptedSite;
using testing::WriteFile;

std::u16string U(const fs::path& p) { return FromUtf8(p.string()); }

std::u16string ConsentText(const fs::path& p) {
  return u"An attempt to access a file \"" + U(p) + u"\" was made. Do you want to allow it?";
}

class UploadMethodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    site_ = std::make_shared<ScriptedSite>(FromUtf8(server_->base_url() + "/wc/page.html"));
    control_ = std::make_unique<CQSFileTransferCtrl>(site_);
  }
  void TearDown() override {
    control_.reset();
    server_->Stop();
  }

  Variant Call(std::u16string_view name, std::vector<Variant> args) {
    InvokeResult r = control_->Invoke(name, InvokeKind::kMethod, args);
    EXPECT_TRUE(r.ok()) << ToUtf8(r.message);
    return r.value;
  }
  Variant Upload(const fs::path& file, uint32_t chunk, bool first = false,
                 std::u16string url = u"/wc/upload") {
    return Call(u"StartFileUpload", {Variant::String(std::move(url)), Variant::Bool(first),
                                     Variant::String(U(file)), Variant::Int(int32_t(chunk))});
  }
  Variant Sizes(std::vector<Variant> files) {
    return Call(u"GetFileSizes", {Variant::Array(std::move(files))});
  }
  // Polls the status as a page does until the transfer has ended (bounded).
  std::string FinalStatus() {
    std::string status;
    for (int i = 0; i < 30000; ++i) {
      status = ToUtf8(Call(u"GetTransferStatus", {Variant::Int(0)}).as_string());
      if (status.rfind("1|", 0) != 0 && status.rfind("2|", 0) != 0) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "the transfer did not end: " << status;
    return status;
  }
  fs::path Local(const std::string& name, size_t size) {
    const fs::path path = local_.path() / name;
    WriteFile(path, std::string(size, 'x'));
    return path;
  }
  size_t ConsentQuestions() {
    size_t n = 0;
    for (const auto& shown : site_->dialogs.Shown()) {
      EXPECT_EQ(shown.kind, platform::DialogKind::kMessage);
      EXPECT_EQ(shown.title, u"Quillstone Web Client");
      EXPECT_EQ(shown.icon, platform::MessageIcon::kQuestion);
      EXPECT_EQ(shown.buttons, platform::MessageButtons::kYesNo);
      ++n;
    }
    return n;
  }

  testing::TempDir root_;
  testing::TempDir local_;
  std::unique_ptr<devserver::Server> server_;
  std::shared_ptr<ScriptedSite> site_;
  std::unique_ptr<CQSFileTransferCtrl> control_;
};

TEST_F(UploadMethodsTest, RefusedConsentReturnsTheAccessDeniedTextAndStartsNothing) {
  const fs::path file = Local("secret.txt", 10);
  site_->dialogs.Queue(scripted::Button{platform::MessageAnswer::kNo});
  EXPECT_EQ(Upload(file, 4096), MakeErrorResult(5));
  const auto shown = site_->dialogs.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, ConsentText(file));
  EXPECT_EQ(shown[0].title, u"Quillstone Web Client");
  EXPECT_EQ(shown[0].icon, platform::MessageIcon::kQuestion);
  EXPECT_EQ(Call(u"GetTransferStatus", {Variant::Int(0)}), Variant());
  EXPECT_FALSE(control_->session_open());
  EXPECT_TRUE(server_->requests().empty());
}

TEST_F(UploadMethodsTest, AllowedUploadReportsTheServersLastAnswer) {
  const fs::path file = Local("doc.txt", 10000);
  site_->dialogs.Queue(scripted::Button{platform::MessageAnswer::kYes});
  const Variant ticket = Upload(file, 4096, true);
  ASSERT_EQ(ticket.type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(), "10|10000|OK 10000");
  EXPECT_EQ(ReadFile(root_ / "doc.txt"), std::string(10000, 'x'));
  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "/wc/upload?chunkIdx=1&offset=0&start=true");
  EXPECT_EQ(ConsentQuestions(), 1u);
}

TEST_F(UploadMethodsTest, AFailingChunkShowsTheServersTextInTheStatus) {
  server_->AddFault(devserver::Fault::Status(500, "disk full").Query("chunkIdx=2&"));
  const fs::path file = Local("full.txt", 10000);
  site_->dialogs.Queue(scripted::Button{platform::MessageAnswer::kYes});
  ASSERT_EQ(Upload(file, 4096).type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(), "-1|4096|disk full");
}

// The credentials prompt comes from the upload's worker through the site's dialogs, from the
// third challenge of a chunk on; cancelling it ends the upload with the text Cancelled.
TEST_F(UploadMethodsTest, CancellingTheCredentialsPromptEndsTheUpload) {
  server_->AddFault(devserver::Fault::Challenge(devserver::AuthScheme::kDigest, "ann", "s3cret")
                        .Times(devserver::Fault::kUnlimited));
  const fs::path file = Local("auth.txt", 5000);
  site_->dialogs.Queue({scripted::Button{platform::MessageAnswer::kYes}, scripted::Cancel{}});
  const std::string url = "http://ann:wrong@" + server_->base_url().substr(7) + "/wc/upload";
  ASSERT_EQ(Upload(file, 4096, false, FromUtf8(url)).type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(), "-1|0|Cancelled");
  const auto shown = site_->dialogs.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].kind, platform::DialogKind::kCredentials);
  // Three challenged attempts of chunk 1, each answered 401, and nothing stored.
  size_t challenged = 0;
  for (const auto& r : server_->requests()) {
    if (r.body_size == 4096) ++challenged;
  }
  EXPECT_EQ(challenged, 3u);
  EXPECT_FALSE(fs::exists(root_ / "auth.txt"));
}

TEST_F(UploadMethodsTest, InvalidArgumentsAndForeignHostsAreRefusedBeforeAnyQuestion) {
  const fs::path file = Local("a.txt", 1);
  EXPECT_EQ(Upload(file, 0), MakeErrorResult(87));
  EXPECT_EQ(Call(u"StartFileUpload", {Variant::String(u"/wc/upload"), Variant::Bool(false),
                                      Variant::Null(), Variant::Int(4096)}),
            MakeErrorResult(87));
  EXPECT_EQ(Upload(file, 4096, false, u"http://elsewhere.example/wc/upload"), MakeErrorResult(87));
  EXPECT_TRUE(site_->dialogs.Shown().empty());
  EXPECT_FALSE(control_->session_open());
}

TEST_F(UploadMethodsTest, GetFileSizesAsksOnceAndItsGrantServesOneUpload) {
  const fs::path a = Local("a.bin", 3), b = Local("b.bin", 0), c = Local("c.bin", 70000);
  site_->dialogs.Queue({scripted::Button{platform::MessageAnswer::kYes},
                        scripted::Button{platform::MessageAnswer::kYes},
                        scripted::Button{platform::MessageAnswer::kYes}});
  EXPECT_EQ(Sizes({Variant::String(U(a)), Variant::String(U(b)), Variant::String(U(c))}),
            Variant::List({u"3", u"0", u"70000"}));
  EXPECT_EQ(ConsentQuestions(), 3u);

  // The grant lets the first upload of c through without asking...
  ASSERT_EQ(Upload(c, 65536).type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(), "10|70000|OK 70000");
  EXPECT_EQ(ConsentQuestions(), 0u);
  // ...and is used up by it.
  site_->dialogs.Queue(scripted::Button{platform::MessageAnswer::kNo});
  EXPECT_EQ(Upload(c, 65536), MakeErrorResult(5));
  EXPECT_EQ(ConsentQuestions(), 1u);
}

TEST_F(UploadMethodsTest, GetFileSizesFailuresEndTheWholeCall) {
  const fs::path a = Local("a.bin", 3);
  const fs::path missing = local_.path() / "missing.bin";
  // Not a list: an empty value; an empty list: an empty list; nothing asked.
  EXPECT_EQ(Call(u"GetFileSizes", {Variant::String(U(a))}), Variant());
  EXPECT_EQ(Sizes({}), Variant::List({}));

  site_->dialogs.Queue({scripted::Button{platform::MessageAnswer::kYes},
                        scripted::Button{platform::MessageAnswer::kYes}});
  EXPECT_EQ(Sizes({Variant::String(U(a)), Variant::String(U(missing))}), MakeErrorResult(2));

  EXPECT_EQ(ConsentQuestions(), 2u);

  // `a` is granted by now and passes without a question; the next file is refused.
  site_->dialogs.Queue(scripted::Button{platform::MessageAnswer::kNo});
  EXPECT_EQ(Sizes({Variant::String(U(a)), Variant::String(U(a) + u"x")}), MakeErrorResult(5));
  EXPECT_EQ(ConsentQuestions(), 1u);

  // An element that is no text: nested lists are not read.
  EXPECT_EQ(Sizes({Variant::Array({Variant::String(U(a))})}), Variant::String(u"Exception"));
}

}  // namespace
}  // namespace qs
