// Language packs from the translator's .po file to the page: `qsft langpack build` and `show`,
// and the whole SetLanguage cycle as a page drives it through `qsft host`.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "devserver/server.h"
#include "qsft/host_session.h"
#include "qsft/po_file.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "transfer/scripted_transfer.h"

namespace qs::app {
namespace {

namespace fs = std::filesystem;
using qs::testing::ReadFile;
using qs::testing::ScopedEnv;
using qs::testing::TempDir;
using qs::testing::WaitUntil;
using qs::testing::WriteFile;

TEST(PoTextsTest, TakesTranslatedEntriesByIdAndSkipsHeaderUntranslatedAndFuzzy) {
  const PoTexts po = ReadPoTexts(
      "# translator's comment\n"
      "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
      "msgctxt \"300\"\nmsgid \"Select an Export Directory\"\n"
      "msgstr \"Exportverzeichnis \"\n\"w\xC3\xA4hlen \\\"%s\\\"\\n\"\n\n"
      "msgctxt \"302\"\nmsgid \"Select a Working Directory\"\nmsgstr \"\"\n\n"
      "#, fuzzy\nmsgctxt \"303\"\nmsgid \"Select a Folder\"\nmsgstr \"Ordner?\"\n\n"
      "#~ msgctxt \"304\"\n"
      "msgctxt \"65535\"\nmsgid \"x\"\nmsgstr \"last\"\n",
      "de.po");
  ASSERT_EQ(po.error, "");
  EXPECT_EQ(po.texts, (std::map<uint16_t, std::u16string>{
                          {300, u"Exportverzeichnis w\u00e4hlen \"%s\"\n"}, {65535, u"last"}}));
}

TEST(PoTextsTest, EntriesThatCannotBecomeTextsNameTheirLine) {
  const std::string long_text(4097, 'x');
  const struct {
    std::string source;
    std::string error;
  } cases[] = {
      {"msgctxt \"abc\"\nmsgid \"a\"\nmsgstr \"b\"\n", "p.po:1: msgctxt \"abc\" is not a text id"},
      {"\nmsgctxt \"65536\"\nmsgid \"a\"\nmsgstr \"b\"\n", "p.po:2: msgctxt \"65536\" is not"},
      {"msgctxt \"-1\"\nmsgid \"a\"\nmsgstr \"b\"\n", "p.po:1: msgctxt \"-1\" is not"},
      {"msgctxt \"7\"\nmsgid \"a\"\nmsgstr \"b\"\n\nmsgctxt \"7\"\nmsgid \"c\"\nmsgstr \"d\"\n",
       "p.po:5: id 7 is given twice (first at line 1)"},
      {"msgctxt \"7\"\nmsgid \"a\"\nmsgstr \"" + long_text + "\"\n",
       "p.po:3: text of id 7 is 4097 UTF-16 units long; packs carry at most 4096"},
      {"msgid \"a\"\nmsgstr \"b\"\n", "p.po:1: entry without msgctxt"},
      {"msgctxt \"7\"\nmsgid \"a\"\nmsgid_plural \"as\"\nmsgstr[0] \"b\"\n", "p.po:1: plural"},
      {"msgctxt \"7\"\nmsgid \"a\"\nmsgstr \"b\\q\"\n", "p.po:3: malformed string"},
      {"msgctxt \"7\"\nmsgid \"a\"\nmsgstr \"b\n", "p.po:3: malformed string"},
      {"\"stray\"\n", "p.po:1: string outside an entry"},
      {"msgctx \"7\"\n", "p.po:1: unknown keyword \"msgctx\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source.substr(0, 60));
    const PoTexts po = ReadPoTexts(c.source, "p.po");
    EXPECT_EQ(po.error.substr(0, c.error.size()), c.error) << po.error;
  }
}

// Runs qsft through the shell; its output and exit status.
struct QsftResult {
  int status = -1;
  std::string out;
};

class LangpackProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("QSFT_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "QSFT_BIN_DIR names the built programs";
    program_ = std::string(bin) + "/qsft";
    ASSERT_TRUE(ca_.ok()) << "openssl could not make the test CA";
  }

  QsftResult Qsft(const std::string& args, const std::string& stdin_file = "/dev/null") {
    const fs::path out = dir_ / "out.txt";
    const std::string command =
        "SSL_CERT_FILE='" + ca_.trust_store().string() + "' SSL_CERT_DIR='" + dir_.path().string() +
        "' XDG_DATA_HOME='" + (home_ / "data").string() + "' XDG_CONFIG_HOME='" +
        (home_ / "config").string() + "' HOME='" + home_.path().string() + "' '" + program_ + "' " +
        args + " <'" + stdin_file + "' >'" + out.string() + "' 2>&1";
    const int raw = std::system(command.c_str());
    return QsftResult{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out)};
  }

  // Builds a pack of `po` signed by `signer` with the tool; its path.
  fs::path BuildPack(const std::string& name, const std::string& po,
                     const platform::SigningFiles& signer,
                     const std::string& version = "2.1.5.300") {
    WriteFile(dir_ / (name + ".po"), po);
    const fs::path pack = dir_ / (name + ".qslp");
    const QsftResult run = Qsft("langpack build --version " + version + " --key '" +
                                signer.key_file + "' --cert '" + signer.cert_file + "' '" +
                                (dir_ / (name + ".po")).string() + "' -o '" + pack.string() + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    return pack;
  }

  static std::string Po(const std::string& title) {
    return "msgctxt \"300\"\nmsgid \"Select an Export Directory\"\nmsgstr \"" + title +
           "\"\n\nmsgctxt \"303\"\nmsgid \"Select a Folder\"\nmsgstr \"\"\n";
  }

  std::string program_;
  TempDir dir_;
  TempDir home_;
  qs::testing::TestCa ca_{dir_.path()};
};

TEST_F(LangpackProgramTest, BuildThenShowTellsVersionSignerTrustAndTexts) {
  const fs::path pack = BuildPack("de", Po("Exportverzeichnis \\\"%s\\\""), ca_.code_signer());
  QsftResult shown = Qsft("langpack show '" + pack.string() + "'");
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("version:   2.1.5.300 (000200010005012C)"), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("signer:    CN=signer,O=Tests"), std::string::npos);
  EXPECT_NE(shown.out.find("trust:     trusted"), std::string::npos);
  EXPECT_NE(shown.out.find("texts:     1\n  300 \"Exportverzeichnis \\\"%s\\\"\""),
            std::string::npos);

  const fs::path rogue = BuildPack("rogue", Po("x"), ca_.untrusted_signer());
  shown = Qsft("langpack show '" + rogue.string() + "'");
  EXPECT_EQ(shown.status, 1);
  EXPECT_NE(
      shown.out.find("NOT TRUSTED: the signer's certificate does not chain to a trusted root"),
      std::string::npos)
      << shown.out;

  std::string bytes = ReadFile(pack);
  const size_t text_at = bytes.find(std::string("E\0x\0p", 5));
  ASSERT_NE(text_at, std::string::npos);
  bytes[text_at] = 'e';
  WriteFile(dir_ / "changed.qslp", bytes);
  shown = Qsft("langpack show '" + (dir_ / "changed.qslp").string() + "'");
  EXPECT_EQ(shown.status, 1);
  EXPECT_NE(shown.out.find("signature: the signature does not verify"), std::string::npos)
      << shown.out;

  // A .po error names the line and writes nothing.
  WriteFile(dir_ / "bad.po", "msgctxt \"1\"\nmsgid \"a\"\nmsgstr \"b\"\n\nmsgctxt \"x1\"\n");
  const QsftResult bad =
      Qsft("langpack build --version 1.0.0.0 --key '" + ca_.code_signer().key_file + "' --cert '" +
           ca_.code_signer().cert_file + "' '" + (dir_ / "bad.po").string() + "' -o '" +
           (dir_ / "bad.qslp").string() + "'");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("bad.po:5: msgctxt \"x1\" is not a text id"), std::string::npos)
      << bad.out;
  EXPECT_FALSE(fs::exists(dir_ / "bad.qslp"));
  EXPECT_EQ(Qsft("langpack build --version 2.1.5 --key k --cert c x.po -o y").status, 2);
}

TEST_F(LangpackProgramTest, FirstTicketAfterALanguageDownloadIsThree) {
  TempDir root;
  WriteFile(root / "a.bin", "a");
  fs::copy_file(BuildPack("de", Po("Export"), ca_.code_signer()), root / "de.qslp");
  devserver::Server server(devserver::Options{root.path(), 0, nullptr});
  ASSERT_TRUE(server.Start());
  const std::string target = (dir_ / "picked").string();
  fs::create_directories(target);
  WriteFile(
      dir_ / "in.jsonl",
      R"({"id":0,"op":"create","control":"a","page":")" + server.base_url() +
          R"(/app/page.html","zone":2,"props":{}})"
          "\n"
          R"({"id":1,"op":"call","control":"a","name":"SetLanguage","args":["de","000200010005012C","/download?file=de.qslp"]})"
          "\n"
          R"({"id":2,"op":"dialogs","answers":[{"folder":")" +
          target +
          R"("}]})"
          "\n"
          R"({"id":3,"op":"call","control":"a","name":"SelectDownloadDir","args":[]})"
          "\n"
          R"({"id":4,"op":"call","control":"a","name":"StartFileDownload","args":["/download?file=a.bin",")" +
          target +
          R"(/a.bin"]})"
          "\n");
  const QsftResult run = Qsft("host", (dir_ / "in.jsonl").string());
  EXPECT_NE(run.out.find(R"({"id":1,"result":null})"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(R"({"id":4,"result":3})"), std::string::npos) << run.out;
  server.Stop();
}

// The page's side of the cycle, through the host's JSON requests.
class LanguageCycleTest : public LangpackProgramTest {
 protected:
  void SetUp() override {
    LangpackProgramTest::SetUp();
    fs::copy_file(BuildPack("de", Po("Exportverzeichnis"), ca_.code_signer()), root_ / "de.qslp");
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
  void SetLanguage(const std::string& language) {
    EXPECT_EQ(Ask(R"({"id":1,"op":"call","control":"a","name":"SetLanguage","args":[")" + language +
                  R"(","000200010005012C","/download?file=de.qslp"]})"),
              R"({"id":1,"result":null})");
  }
  // The title of the picker a method shows, from the scripted dialogs' record (cancelled).
  std::string TitleOf(const std::string& method, const std::string& args = "") {
    Ask(R"({"id":2,"op":"call","control":"a","name":")" + method + R"(","args":[)" + args + "]}");
    const std::string shown = Ask(R"({"id":3,"op":"shown"})");
    const size_t at = shown.find(R"("title":")");
    if (at == std::string::npos) return shown;
    const size_t start = at + 9;
    return shown.substr(start, shown.find('"', start) - start);
  }

  TempDir root_;
  ScopedEnv data_{"XDG_DATA_HOME", (home_ / "data").string()};
  ScopedEnv config_{"XDG_CONFIG_HOME", (home_ / "config").string()};
  ScopedEnv trust_{"SSL_CERT_FILE", ca_.trust_store().string()};
  ScopedEnv no_system_roots_{"SSL_CERT_DIR", dir_.path().string()};
  std::unique_ptr<devserver::Server> server_;
  HostOptions options_;  // the session keeps a reference
  std::ostringstream diag_;
  std::unique_ptr<HostSession> session_;
};

TEST_F(LanguageCycleTest, DownloadTakeOverFallbackSecondLanguageAndRefusedLanguage) {
  const fs::path resources = home_ / "data" / "Tarnholt" / "Quillstone" / "Resources";
  // A French pack already on disk.
  fs::create_directories(resources / "fr");
  fs::copy_file(BuildPack("fr", Po("Choisir un dossier d'exportation"), ca_.code_signer()),
                resources / "fr" / "download?file=de.qslp");

  server_->AddFault(devserver::Fault::StallBeforeHead());
  SetLanguage("de");
  ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() == 1; }));
  EXPECT_EQ(TitleOf("SelectExportDir"), "Select an Export Directory");

  // While German is still on its way, French comes from disk at once.
  SetLanguage("fr");
  EXPECT_EQ(TitleOf("SelectExportDir"), "Choisir un dossier d'exportation");
  EXPECT_EQ(TitleOf("SelectFilesInFolder", "false"), "Select a Folder");  // untranslated

  // A language that is no plain tag: nothing happens, nothing is sent or created.
  SetLanguage("../x");
  EXPECT_EQ(TitleOf("SelectExportDir"), "Choisir un dossier d'exportation");
  EXPECT_FALSE(fs::exists(resources.parent_path() / "x"));

  // German ends; the next lookup takes it over in place of French.
  server_->ReleaseStalls();
  ASSERT_TRUE(WaitUntil([&] { return TitleOf("SelectExportDir") == "Exportverzeichnis"; }));
  EXPECT_EQ(ReadFile(resources / "de" / "download?file=de.qslp"), ReadFile(root_ / "de.qslp"));
  EXPECT_EQ(TitleOf("SelectFilesInFolder", "false"), "Select a Folder");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].target, "/download?file=de.qslp");
}

}  // namespace
}  // namespace qs::app
