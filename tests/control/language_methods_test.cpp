// SetLanguage through the method table against the development server: a signed pack on disk is
// used without asking the server; a missing, tampered, untrusted, wrongly used or outdated one is
// fetched, and a failing file is deleted; a download is taken over at the next text lookup.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "control/control.h"
#include "control/control_test_support.h"
#include "devserver/server.h"
#include "platform/signed_content.h"
#include "resources/language_pack.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "transfer/scripted_transfer.h"
#include "transfer/transferred_file.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::WaitUntil;
using testing::WriteFile;

constexpr uint64_t kVersion = PackVersion(2, 1, 5, 300);
constexpr char16_t kAsked[] = u"000200010005012C";
constexpr char16_t kPackTitle[] = u"Exportverzeichnis w\u00e4hlen";
constexpr char16_t kOwnTitle[] = u"Select an Export Directory";

class LanguageMethodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ca_.ok()) << "openssl could not make the test CA";
    good_ = Pack(ca_.code_signer(), kVersion);
    WriteFile(root_ / "de.qslp", good_);
    server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    site_ =
        std::make_shared<testing::ScriptedSite>(FromUtf8(server_->base_url() + "/wc/page.html"));
    control_ = std::make_unique<CQSFileTransferCtrl>(site_);
  }
  void TearDown() override {
    control_.reset();
    server_->Stop();
  }

  std::string Pack(const platform::SigningFiles& signer, uint64_t version,
                   std::u16string title = kPackTitle) {
    std::string problem;
    std::string der = platform::SignContent(
        EncodeLanguagePack(LanguagePack{version, {{300, std::move(title)}}}), signer, problem);
    EXPECT_FALSE(der.empty()) << problem;
    return der;
  }
  fs::path ModulePath(const std::string& language = "de") const {
    return data_.path() / "Tarnholt/Quillstone/Resources" / language / "download?file=de.qslp";
  }
  void SetLanguage(std::u16string language, std::u16string version = kAsked,
                   std::u16string url = u"/download?file=de.qslp") {
    InvokeResult r =
        control_->Invoke(u"SetLanguage", InvokeKind::kMethod,
                         {Variant::String(std::move(language)), Variant::String(std::move(version)),
                          Variant::String(std::move(url))});
    ASSERT_TRUE(r.ok()) << ToUtf8(r.message);
    EXPECT_EQ(r.value.type(), Variant::Type::kEmpty);
  }
  std::u16string Title() { return control_->GetString(TextId::kSelectExportDirTitle); }
  bool TitleBecomes(std::u16string_view text) {
    return WaitUntil([&] { return Title() == text; });
  }

  testing::TempDir ca_dir_;
  testing::TempDir root_;
  testing::TempDir data_;
  testing::TestCa ca_{ca_dir_.path()};
  ScopedEnv trust_{"SSL_CERT_FILE", ca_.trust_store().string()};
  ScopedEnv no_system_roots_{"SSL_CERT_DIR", ca_dir_.path().string()};
  ScopedEnv data_home_{"XDG_DATA_HOME", data_.path().string()};
  std::string good_;
  std::unique_ptr<devserver::Server> server_;
  std::shared_ptr<testing::ScriptedSite> site_;
  std::unique_ptr<CQSFileTransferCtrl> control_;
};

TEST_F(LanguageMethodsTest, MissingPackIsDownloadedAndTakenOverAtTheNextLookup) {
  server_->AddFault(devserver::Fault::StallBeforeHead());
  const int32_t language_ticket = TransferredFile::PeekNextTicket();
  SetLanguage(u"de");
  ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() == 1; }));
  EXPECT_EQ(Title(), kOwnTitle);  // own texts while the download runs
  server_->ReleaseStalls();
  ASSERT_TRUE(TitleBecomes(kPackTitle));
  EXPECT_EQ(ReadFile(ModulePath()), good_);
  // The pack lacks 302: the own text answers for it.
  EXPECT_EQ(control_->GetString(TextId::kSelectWorkDirTitle), u"Select a Working Directory");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].target, "/download?file=de.qslp");
  // The download used one ticket and never became the page's transfer.
  EXPECT_EQ(TransferredFile::PeekNextTicket(), language_ticket + 1);
  EXPECT_EQ(ControlTestAccess::current_transfer(*control_), nullptr);
}

TEST_F(LanguageMethodsTest, TheControlsEndStopsItsPendingDownload) {
  server_->AddFault(devserver::Fault::StallAfter(10));
  WriteFile(root_ / "de.qslp", good_ + std::string(1 << 20, 'x'));  // long enough to be cut
  SetLanguage(u"de");
  ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() == 1; }));
  control_.reset();
  server_->ReleaseStalls();
  EXPECT_TRUE(WaitUntil([] { return TransferredFile::RunningWorkers() == 0; }));
  EXPECT_FALSE(fs::exists(ModulePath()));
  EXPECT_FALSE(fs::exists(ModulePath().string() + ".!incomplete"));
}

TEST_F(LanguageMethodsTest, SignedRecentPackOnDiskIsUsedWithoutAskingTheServer) {
  WriteFile(ModulePath(), good_);
  SetLanguage(u"de");
  EXPECT_EQ(Title(), kPackTitle);
  SetLanguage(u"de", u"zz");  // no digits: any signed pack is recent enough
  EXPECT_EQ(Title(), kPackTitle);
  EXPECT_TRUE(server_->requests().empty());
  // One version more than the pack's: fetched again, the old file stays until replaced.
  WriteFile(root_ / "de.qslp", Pack(ca_.code_signer(), kVersion + 1, u"Neu"));
  server_->AddFault(devserver::Fault::StallBeforeHead());
  SetLanguage(u"de", u"000200010005012D");
  ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() == 1; }));
  EXPECT_EQ(Title(), kOwnTitle);
  EXPECT_EQ(ReadFile(ModulePath()), good_);
  server_->ReleaseStalls();
  EXPECT_TRUE(TitleBecomes(u"Neu"));
}

TEST_F(LanguageMethodsTest, FailingPacksOnDiskAreDeletedThenFetchedAgain) {
  std::string tampered = good_;
  const size_t text_at = tampered.find("E\0x\0p", 0, 5);
  ASSERT_NE(text_at, std::string::npos);
  tampered[text_at] = 'F';
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"one byte changed", tampered},
      {"untrusted signer", Pack(ca_.untrusted_signer(), kVersion)},
      {"no codeSigning", Pack(ca_.server_only_signer(), kVersion)},
      {"not a pack", "MZ garbage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_->ClearRequests();
    WriteFile(ModulePath(), c.bytes);
    server_->AddFault(devserver::Fault::StallBeforeHead());
    SetLanguage(u"de");
    ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() == 1; }));
    EXPECT_FALSE(fs::exists(ModulePath())) << "deleted before the download ends";
    EXPECT_EQ(Title(), kOwnTitle);
    server_->ReleaseStalls();
    ASSERT_TRUE(TitleBecomes(kPackTitle));
    EXPECT_EQ(server_->requests().size(), 1u);
  }
}

TEST_F(LanguageMethodsTest, DownloadedPackThatFailsIsDeletedAtTheLookupAndNotFetchedAgain) {
  WriteFile(root_ / "de.qslp", Pack(ca_.untrusted_signer(), kVersion));
  SetLanguage(u"de");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(ModulePath()); }));
  // Each lookup checks the download; the one after it ended takes it over.
  ASSERT_TRUE(
      WaitUntil([&] { return Title() == kOwnTitle && !control_->texts().download_pending(); }));
  EXPECT_FALSE(fs::exists(ModulePath()));
  EXPECT_EQ(server_->requests().size(), 1u);

  // A download that fails stays pending and leaves the own texts.
  devserver::Fault not_found;
  not_found.status = 404;
  server_->AddFault(not_found);
  SetLanguage(u"de");
  ASSERT_TRUE(WaitUntil([&] { return server_->requests().size() == 2; }));
  EXPECT_EQ(Title(), kOwnTitle);
  EXPECT_FALSE(fs::exists(ModulePath()));
}

TEST_F(LanguageMethodsTest, SignedPackWithAMalformedTableLoadsNothing) {
  std::string problem;
  std::string table = EncodeLanguagePack(LanguagePack{kVersion, {{300, kPackTitle}}});
  table.pop_back();  // one byte short
  const std::string truncated = platform::SignContent(table, ca_.code_signer(), problem);
  ASSERT_FALSE(truncated.empty()) << problem;
  WriteFile(root_ / "de.qslp", truncated);
  // On disk: its version cannot be read, so it is fetched again (and is no better).
  WriteFile(ModulePath(), truncated);
  SetLanguage(u"de");
  ASSERT_TRUE(
      WaitUntil([&] { return Title() == kOwnTitle && !control_->texts().download_pending(); }));
  EXPECT_EQ(server_->requests().size(), 1u);
  EXPECT_FALSE(control_->texts().module_loaded());
}

TEST_F(LanguageMethodsTest, CallsThatCannotBeTrustedDoNothingAndSendNothing) {
  WriteFile(ModulePath(), good_);
  SetLanguage(u"de");
  ASSERT_EQ(Title(), kPackTitle);
  const std::string port = std::to_string(server_->port() == 1 ? 2 : 1);
  const std::vector<std::vector<std::u16string>> calls = {
      {u"", kAsked, u"/download?file=de.qslp"},
      {u"de", u"", u"/download?file=de.qslp"},
      {u"../x", kAsked, u"/download?file=de.qslp"},
      {u"..", kAsked, u"/download?file=de.qslp"},
      {u"de/../../x", kAsked, u"/download?file=de.qslp"},
      {std::u16string(36, u'a'), kAsked, u"/download?file=de.qslp"},
      {u"de", kAsked, u"/download/.."},
      {u"de", kAsked, u"/download/"},
      {u"de", kAsked, FromUtf8("http://127.0.0.1:" + port + "/download?file=de.qslp")},
  };
  for (const auto& call : calls) {
    SCOPED_TRACE(ToUtf8(call[0] + u" " + call[2]));
    SetLanguage(call[0], call[1], call[2]);
    EXPECT_EQ(Title(), kPackTitle) << "the loaded pack stays in use";
  }
  // A missing URL as well.
  ASSERT_TRUE(control_
                  ->Invoke(u"SetLanguage", InvokeKind::kMethod,
                           {Variant::String(u"de"), Variant::String(kAsked), Variant::Null()})
                  .ok());
  EXPECT_EQ(Title(), kPackTitle);
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_FALSE(fs::exists(data_.path() / "Tarnholt/Quillstone/x"));
  EXPECT_FALSE(control_->texts().download_pending());
}

}  // namespace
}  // namespace qs
