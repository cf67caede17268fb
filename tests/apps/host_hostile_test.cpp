// A hostile page driving `qsft host` against the development server: each attempt to get past a
// grant, a consent question or the page's origin, with the server's log showing what was sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "devserver/server.h"
#include "platform/settings_store.h"
#include "qsft/host_session.h"
#include "qsft/json.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "transfer/error_text.h"
#include "transfer/scripted_transfer.h"

namespace qs::app {
namespace {

namespace fs = std::filesystem;
using qs::testing::ReadFile;
using qs::testing::TempDir;
using qs::testing::WriteFile;

constexpr char16_t kDeniedText[] =
    u"An access was denied while retrieving a file to an unauthorized directory.";

std::string Quote(const std::string& text) {
  std::string out;
  json::AppendString(out, FromUtf8(text));
  return out;
}

// `text` as it stands inside a JSON string.
std::string Inner(const std::string& text) {
  const std::string quoted = Quote(text);
  return quoted.substr(1, quoted.size() - 2);
}

// The result of a method refused with the platform's code for a denied access.
std::string AccessDenied() {
  return json::Write(json::Value::String(FormatErrorText(ToUint(ErrorCode::kAccessDenied))));
}

class HostHostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(docs_ / "a.bin", "content of a");
    server_ = std::make_unique<devserver::Server>(devserver::Options{docs_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    options_.dialogs = DialogsMode::kScript;
    session_ = std::make_unique<HostSession>(options_, diag_);
    ASSERT_EQ(Ask(R"({"op":"create","control":"a","page":")" + server_->base_url() +
                  R"(/app/page.html","zone":2,"props":{}})"),
              "null");
  }

  void TearDown() override {
    session_.reset();
    server_->Stop();
  }

  // Sends one request (without "id") and gives its "result" as JSON text, or the whole answer.
  std::string Ask(const std::string& request) {
    const std::string answer =
        session_->Answer(R"({"id":)" + std::to_string(++id_) + "," + request.substr(1));
    auto parsed = json::Parse(answer);
    if (auto* value = std::get_if<json::Value>(&parsed)) {
      if (const auto* result = value->Find(u"result")) return json::Write(*result);
    }
    return answer;
  }
  std::string Call(const std::string& name, const std::vector<std::string>& args = {}) {
    std::string list = "[";
    for (const auto& arg : args) list += (list.size() > 1 ? "," : "") + arg;
    return Ask(R"({"op":"call","control":"a","name":")" + name + R"(","args":)" + list + "]}");
  }
  void Answers(const std::string& answers) {
    ASSERT_EQ(Ask(R"({"op":"dialogs","answers":)" + answers + "}"), "null");
  }

  // The status text of the current transfer once it has ended; empty when it did not end.
  std::string FinalStatus() {
    std::string status;
    const bool ended = qs::testing::WaitUntil([&] {
      status = Call("GetTransferStatus", {"0"});
      return status.rfind("\"1|", 0) != 0 && status.rfind("\"2|", 0) != 0;
    });
    return ended ? status : std::string();
  }

  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& r : server_->requests()) targets.push_back(r.method + " " + r.target);
    return targets;
  }

  TempDir config_dir_;
  qs::testing::ScopedEnv config_{"XDG_CONFIG_HOME", config_dir_.path().string()};
  TempDir docs_;
  TempDir home_;
  std::unique_ptr<devserver::Server> server_;
  HostOptions options_;
  std::ostringstream diag_;
  std::unique_ptr<HostSession> session_;
  int id_ = 0;
};

TEST_F(HostHostileTest, AFolderPickedForDownloadsNeverReachesHiddenFilesBelowIt) {
  const fs::path home = home_.path();
  WriteFile(home / ".bashrc", "the user's own");
  WriteFile(home / "doc.txt", "a document");
  Answers("[{\"folder\":" + Quote(home.string()) + "}]");
  ASSERT_EQ(Call("SelectDownloadDir"), Quote(home.string()));

  for (const char* hidden : {".config/autostart/x.desktop", ".bashrc", "sub/.config/mimeapps.list",
                             "sub/x/../.profile"}) {
    SCOPED_TRACE(hidden);
    EXPECT_EQ(
        Call("StartFileDownload", {"\"../download?file=a.bin\"", Quote((home / hidden).string())}),
        json::Write(json::Value::String(kDeniedText)));
  }
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_FALSE(fs::exists(home / ".config"));
  EXPECT_FALSE(fs::exists(home / "sub"));
  EXPECT_EQ(ReadFile(home / ".bashrc"), "the user's own");

  // The other operations of the grant: existence, change, time and deletion see nothing there.
  const std::string bashrc = Quote((home / ".bashrc").string());
  EXPECT_EQ(Call("FileExist", {bashrc}), "false");
  EXPECT_EQ(Call("FileExist", {Quote((home / "doc.txt").string())}), "true");
  EXPECT_EQ(Call("FileChanged", {bashrc, "\"1\""}), "false");
  const auto before = fs::last_write_time(home / ".bashrc");
  EXPECT_EQ(Call("UpdateFileTime", {bashrc, "\"116444736000000000\""}), "null");
  EXPECT_EQ(fs::last_write_time(home / ".bashrc"), before);
  EXPECT_EQ(Call("DeleteFile", {bashrc}), "null");
  EXPECT_EQ(ReadFile(home / ".bashrc"), "the user's own");

  // What a well-behaved page does still works.
  EXPECT_NE(Call("StartFileDownload",
                 {"\"../download?file=a.bin\"", Quote((home / "docs/a.bin").string())})
                .find_first_of("0123456789"),
            std::string::npos);
  EXPECT_EQ(FinalStatus(), "\"10|12|\"");
  EXPECT_EQ(ReadFile(home / "docs/a.bin"), "content of a");
  EXPECT_EQ(Targets(), std::vector<std::string>{"GET /download?file=a.bin"});
}

TEST_F(HostHostileTest, SelectFilesInFolderGrantsThePickedFolderNotItsParent) {
  const fs::path documents = home_.path() / "Documents";
  WriteFile(documents / "Project" / "plan.txt", "plan");
  WriteFile(documents / "taxes.txt", "taxes");
  WriteFile(documents / "Other" / "letter.txt", "letter");
  Answers("[{\"folder\":" + Quote((documents / "Project").string()) + "},{\"button\":\"no\"}," +
          "{\"button\":\"no\"}]");
  EXPECT_EQ(Call("SelectFilesInFolder", {"true"}),
            "[" + Quote(documents.string() + "/") + "," +
                Quote((documents / "Project/plan.txt").string()) + "]");

  // Beside the picked folder: the consent question, answered No; nothing is sent.
  for (const char* outside : {"taxes.txt", "Other/letter.txt"}) {
    EXPECT_EQ(Call("StartFileUpload",
                   {"\"/upload\"", "true", Quote((documents / outside).string()), "1048576"}),
              AccessDenied())
        << outside;
  }
  EXPECT_TRUE(server_->requests().empty());

  const std::string ticket =
      Call("StartFileUpload",
           {"\"/upload\"", "true", Quote((documents / "Project/plan.txt").string()), "1048576"});
  EXPECT_NE(ticket.find_first_of("0123456789"), std::string::npos) << ticket;
  EXPECT_EQ(FinalStatus().substr(0, 4), "\"10|");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].body_size, 4u);
  EXPECT_EQ(ReadFile(docs_ / "plan.txt"), "plan");
}

TEST_F(HostHostileTest, TheConsentQuestionShowsTheFileThatWouldBeReadWithItsLineBreaksVisible) {
  const fs::path downloads = home_.path() / "Downloads";
  WriteFile(home_.path() / "secret" / "id_rsa", "the key");
  fs::create_directories(downloads);
  // Thirty line breaks push the rest of the page's text out of a message box.
  const std::string spoof =
      (downloads / ("report.pdf" + std::string(30, '\n') + "/../../secret/id_rsa")).string();
  Answers("[{\"button\":\"no\"}]");
  EXPECT_EQ(Call("StartFileUpload", {"\"/upload\"", "true", Quote(spoof), "1048576"}),
            AccessDenied());
  const std::string shown = Ask(R"({"op":"shown"})");
  const std::string qualified = (home_.path() / "secret" / "id_rsa").string();
  EXPECT_NE(shown.find("\"text\":" + Quote("An attempt to access a file \"" + qualified +
                                           "\" was made. Do you want to allow it?")),
            std::string::npos)
      << shown;
  EXPECT_TRUE(server_->requests().empty());

  // Line breaks that stay in the qualified path are shown as visible symbols.
  const std::string broken = (downloads / "a\nb.pdf").string();
  Answers("[{\"button\":\"no\"}]");
  EXPECT_EQ(Call("GetFileSizes", {"[" + Quote(broken) + "]"}), AccessDenied());
  const std::string visible = (downloads / "a\u240Ab.pdf").string();
  const std::string shown_again = Ask(R"({"op":"shown"})");
  EXPECT_NE(shown_again.find(Inner("\"" + visible + "\"")), std::string::npos) << shown_again;
  EXPECT_TRUE(server_->requests().empty());
}

// A redirect answer from the page's server, to `location`, for requests to `path`.
devserver::Fault Redirect(const std::string& path, const std::string& location) {
  return devserver::Fault::Raw("HTTP/1.1 302 Found\r\nLocation: " + location +
                               "\r\nContent-Length: 0\r\n\r\n")
      .Path(path)
      .Times(devserver::Fault::kUnlimited);
}

TEST_F(HostHostileTest, ADownloadIsRedirectedOnlyWithinThePagesOriginOrToAListedHost) {
  // Another service on this machine, with something the page must not fetch.
  TempDir internal_root;
  WriteFile(internal_root / "a.bin", "internal secret");
  devserver::Server internal(devserver::Options{internal_root.path(), 0, nullptr});
  ASSERT_TRUE(internal.Start());
  const std::string port = std::to_string(internal.port());
  server_->AddFault(Redirect("/away", internal.base_url() + "/download?file=a.bin"));
  server_->AddFault(Redirect("/named", "http://localhost:" + port + "/download?file=a.bin"));
  server_->AddFault(Redirect("/moved", "../download?file=a.bin"));
  server_->AddFault(Redirect("/loop", "/loop"));

  const fs::path target = home_.path() / "a.bin";
  WriteFile(target, "the user's file");
  Answers("[{\"folder\":" + Quote(home_.path().string()) + "}]");
  ASSERT_EQ(Call("SelectDownloadDir"), Quote(home_.path().string()));
  const std::string path = Quote(target.string());

  // To another port, and round and round on the page's own: the download fails, the target
  // stays, and nothing reaches the other service.
  for (const char* url : {"\"/away\"", "\"/named\"", "\"/loop\""}) {
    SCOPED_TRACE(url);
    Call("StartFileDownload", {url, path});
    EXPECT_NE(FinalStatus().find("TransferError"), std::string::npos);
    EXPECT_EQ(ReadFile(target), "the user's file");
  }
  EXPECT_TRUE(internal.requests().empty());
  std::vector<std::string> expected = {"GET /away", "GET /named"};
  expected.insert(expected.end(), 11, "GET /loop");  // ten redirects followed, then no more
  EXPECT_EQ(Targets(), expected);

  // Within the page's origin a redirect is followed as before.
  server_->ClearRequests();
  Call("StartFileDownload", {"\"/moved\"", path});
  EXPECT_EQ(FinalStatus(), "\"10|12|\"");
  EXPECT_EQ(ReadFile(target), "content of a");
  EXPECT_EQ(Targets(), (std::vector<std::string>{"GET /moved", "GET /download?file=a.bin"}));

  // A host the administrator lists may serve the download, on any port.
  {
    auto key = platform::SettingsKey::Create(PolicyKeyPath(kRedirectHosts));
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->Set(u"1", 1, SzData(u"LOCALHOST")).ok());
  }
  server_->ClearRequests();
  Call("StartFileDownload", {"\"/named\"", path});
  EXPECT_EQ(FinalStatus(), "\"10|15|\"");
  EXPECT_EQ(ReadFile(target), "internal secret");
  EXPECT_EQ(Targets(), std::vector<std::string>{"GET /named"});
  ASSERT_EQ(internal.requests().size(), 1u);
  EXPECT_EQ(internal.requests()[0].target, "/download?file=a.bin");
  internal.Stop();
}

}  // namespace
}  // namespace qs::app
