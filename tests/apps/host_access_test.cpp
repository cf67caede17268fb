// The guarded local-file methods through the built `qsft host`, in a private desktop: HOME,
// the XDG folders and the fixtures live in one temporary directory on a real file system, so
// that the trash and the application associations are this test's own. Each scenario runs in a
// fresh host process, since GLib reads those locations once per process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "qsft/json.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qs::testing::ReadFile;
using qs::testing::WriteFile;

// Generous bounds so that a host that fails to answer ends the test instead of hanging it.
constexpr int kAnswerBoundMs = 60000;
constexpr auto kLaunchBound = std::chrono::seconds(20);

std::string Quote(const std::string& text) {
  std::string out;
  qs::json::AppendString(out, qs::FromUtf8(text));
  return out;
}

// A `qsft host --dialogs=script` with the given environment alone, driven one request at a time.
class Host {
 public:
  Host(const std::string& program, const std::vector<std::string>& env)
      : process_({program, "host", "--dialogs=script"}, env,
                 {.err_to_ours = true, .env_only = true}) {}

  bool started() const { return process_.started(); }

  // Sends one request (without "id") and gives the answer's "result" as JSON text, or the whole
  // answer when it carries no result.
  std::string Ask(const std::string& request) {
    const std::string line = R"({"id":)" + std::to_string(++id_) + "," + request.substr(1) + "\n";
    if (!process_.Write(line)) return "<write>";
    bool ok = false;
    const std::string answer = process_.ReadLine(ok, kAnswerBoundMs);
    if (!ok) return "<none>";
    auto parsed = qs::json::Parse(answer);
    if (auto* value = std::get_if<qs::json::Value>(&parsed)) {
      if (const auto* result = value->Find(u"result")) return qs::json::Write(*result);
    }
    return answer;
  }
  std::string Call(const std::string& control, const std::string& name,
                   const std::string& args = "[]") {
    return Ask(R"({"op":"call","control":")" + control + R"(","name":")" + name + R"(","args":)" +
               args + "}");
  }

 private:
  qs::testing::ChildProcess process_;
  int id_ = 0;
};

std::string QsftProgram() {
  const char* dir = std::getenv("QSFT_BIN_DIR");
  return dir ? std::string(dir) + "/qsft" : std::string();
}

// A private desktop: home with its trash, a recording application associated with text/plain,
// and the system's MIME database only (no system applications).
class HostAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = QsftProgram();
    if (program_.empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
    ASSERT_TRUE(fs::exists(program_)) << program_;
    root_ = dir_.path();
    home_ = root_ / "home";
    data_ = home_ / ".local/share";
    config_ = home_ / ".config";
    fs::create_directories(root_ / "sysdata");
    fs::create_directory_symlink("/usr/share/mime", root_ / "sysdata/mime");
    recorded_ = root_ / "recorded.txt";
    WriteFile(root_ / "recorder.sh", "printf '%s\\n' \"$1\" >> " + recorded_.string() + "\n");
    WriteFile(data_ / "applications/recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nNoDisplay=true\n"
              "Exec=/bin/sh " +
                  (root_ / "recorder.sh").string() + " %f\nMimeType=text/plain;\n");
    WriteFile(config_ / "mimeapps.list", "[Default Applications]\ntext/plain=recorder.desktop\n");
    fs::create_directories(config_);
    env_ = {"HOME=" + home_.string(),
            "XDG_DATA_HOME=" + data_.string(),
            "XDG_CONFIG_HOME=" + config_.string(),
            "XDG_CACHE_HOME=" + (home_ / ".cache").string(),
            "XDG_DATA_DIRS=" + (root_ / "sysdata").string(),
            "XDG_CONFIG_DIRS=" + (root_ / "sysconfig").string(),
            "PATH=/usr/bin:/bin",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent",
            "GIO_USE_VFS=local",
            "GSETTINGS_BACKEND=memory",
            "NO_AT_BRIDGE=1"};
    // A sanitizer build's settings (suppressions, halt on error) must reach the child too.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env_.push_back(std::string(name) + "=" + value);
    }
  }

  // Creates control `name` of datasource DS for user alice on the web client's page.
  void Create(Host& host, const std::string& name) {
    EXPECT_EQ(host.Ask(R"({"op":"create","control":")" + name +
                       R"(","page":"https://dms.example.test/app/page","zone":2,)"
                       R"("props":{"DatasourceName":"DS","User":"alice",)"
                       R"("UserWorkDir":"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%"}})"),
              "null");
  }

  // The lines the recorder wrote, once it wrote `count`; bounded.
  std::vector<std::string> Recorded(size_t count) {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + kLaunchBound;
    while (std::chrono::steady_clock::now() < deadline) {
      lines.clear();
      const std::string text = ReadFile(recorded_);
      size_t start = 0;
      for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
      }
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lines;
  }

  qs::testing::TempDir dir_;
  std::string program_;
  fs::path root_, home_, data_, config_, recorded_;
  std::vector<std::string> env_;
};

TEST_F(HostAccessTest, DeleteFileBelowAnExportFolderMovesItToTheTrash) {
  Host host(program_, env_);
  ASSERT_TRUE(host.started());
  Create(host, "a");
  const fs::path exported = root_ / "export";
  WriteFile(exported / "sub" / "doc.txt", "document");
  WriteFile(exported / "folder" / "inner.txt", "inner");
  WriteFile(root_ / "outside.txt", "outside");

  EXPECT_EQ(host.Ask(R"({"op":"dialogs","answers":[{"folder":)" + Quote(exported.string()) + "}]}"),
            "null");
  EXPECT_EQ(host.Call("a", "SelectExportDir"), Quote(exported.string()));
  EXPECT_EQ(host.Call("a", "DeleteFile", "[" + Quote((exported / "sub/doc.txt").string()) + "]"),
            "null");
  EXPECT_EQ(host.Call("a", "DeleteFile", "[" + Quote((exported / "folder").string()) + "]"),
            "null");
  EXPECT_EQ(host.Call("a", "DeleteFile", "[" + Quote((exported / "../outside.txt").string()) + "]"),
            "null");

  EXPECT_FALSE(fs::exists(exported / "sub/doc.txt"));
  EXPECT_EQ(ReadFile(data_ / "Trash/files/doc.txt"), "document");
  const std::string info = ReadFile(data_ / "Trash/info/doc.txt.trashinfo");
  EXPECT_NE(info.find("[Trash Info]"), std::string::npos) << info;
  EXPECT_NE(info.find("Path=" + (exported / "sub/doc.txt").string()), std::string::npos) << info;
  EXPECT_FALSE(fs::exists(exported / "folder"));
  EXPECT_EQ(ReadFile(data_ / "Trash/files/folder/inner.txt"), "inner");
  EXPECT_TRUE(fs::exists(data_ / "Trash/info/folder.trashinfo"));
  EXPECT_EQ(ReadFile(root_ / "outside.txt"), "outside");
}

TEST_F(HostAccessTest, AScopeIsHandedOverOnceAndFinishOperationWithdrawsIt) {
  Host host(program_, env_);
  ASSERT_TRUE(host.started());
  for (const char* name : {"a", "b", "c"}) Create(host, name);
  const fs::path picked = root_ / "downloads";
  WriteFile(picked / "f.txt", "f");
  const std::string file_arg = "[" + Quote((picked / "f.txt").string()) + "]";

  host.Ask(R"({"op":"dialogs","answers":[{"folder":)" + Quote(picked.string()) + "}]}");
  EXPECT_EQ(host.Call("a", "SelectDownloadDir"), Quote(picked.string()));
  const std::string id = host.Call("a", "GetOperationScope");
  ASSERT_TRUE(std::regex_match(id, std::regex(R"("[0-9a-f]{8}-([0-9a-f]{4}-){3}[0-9a-f]{12}")")))
      << id;

  EXPECT_EQ(host.Call("b", "FileExist", file_arg), "false");
  EXPECT_EQ(host.Call("b", "SetOperationScope", "[" + id + "]"), "null");
  EXPECT_EQ(host.Call("b", "FileExist", file_arg), "true");
  EXPECT_EQ(host.Call("c", "SetOperationScope", "[" + id + "]"), "null");
  EXPECT_EQ(host.Call("c", "FileExist", file_arg), "false");

  const std::string second = host.Call("b", "GetOperationScope");
  EXPECT_EQ(host.Call("b", "FinishOperation"), "null");
  EXPECT_EQ(host.Call("b", "FileExist", file_arg), "false");
  EXPECT_EQ(host.Call("c", "SetOperationScope", "[" + second + "]"), "null");
  EXPECT_EQ(host.Call("c", "FileExist", file_arg), "false");
}

TEST_F(HostAccessTest, LocateFileShowsTheNameAndGivesTheChosenFilesFolder) {
  Host host(program_, env_);
  ASSERT_TRUE(host.started());
  Create(host, "a");
  const fs::path found = root_ / "found";
  WriteFile(found / "report (2).txt", "r");
  host.Ask(R"({"op":"dialogs","answers":[{"files":[)" + Quote((found / "report (2).txt").string()) +
           "]}]}");
  EXPECT_EQ(host.Call("a", "LocateFile", R"(["a/b/report.txt"])"), Quote(found.string() + "/"));
  const std::string shown = host.Ask(R"({"op":"shown"})");
  EXPECT_EQ(shown, R"js([{"kind":"file","title":"Locate File (report.txt)","start":"a/b/"}])js");
}

TEST_F(HostAccessTest, OpenBlocksAProgramAndLaunchesTheAssociatedApplication) {
  Host host(program_, env_);
  ASSERT_TRUE(host.started());
  Create(host, "a");
  ASSERT_EQ(host.Call("a", "CheckWorkDir"), "true");
  const fs::path work = data_ / "Quillstone/WebWorkDir/DS";
  ASSERT_TRUE(fs::is_directory(work));
  fs::copy_file("/bin/true", work / "report.txt");
  WriteFile(work / "notes.txt", "plain notes\n");
  WriteFile(work / "data.qsftdata", std::string("\x01\x02\x03\x00\xff\xfe\x00\x10", 8));

  // A program named like a document: refused with 313 and the error icon, nothing launched.
  EXPECT_EQ(host.Call("a", "Open", "[" + Quote((work / "report.txt").string()) + "]"), "null");
  EXPECT_EQ(host.Ask(R"({"op":"shown"})"),
            R"([{"kind":"message","title":"Quillstone Web Client","text":"An attempt to open or )"
            R"(execute potentially harmful file was blocked.","icon":"error","buttons":"ok"}])");

  // A text file: the associated application gets it.
  EXPECT_EQ(host.Call("a", "Open", "[" + Quote((work / "notes.txt").string()) + "]"), "null");
  EXPECT_EQ(Recorded(1), std::vector<std::string>{(work / "notes.txt").string()});
  EXPECT_EQ(host.Ask(R"({"op":"shown"})"), "[]");

  // No associated application: the user chooses one, and it gets the file.
  host.Ask(R"({"op":"dialogs","answers":[{"app":"recorder.desktop"}]})");
  EXPECT_EQ(host.Call("a", "Open", "[" + Quote((work / "data.qsftdata").string()) + "]"), "null");
  EXPECT_EQ(host.Ask(R"({"op":"shown"})"), R"([{"kind":"app","text":)" +
                                               Quote((work / "data.qsftdata").string()) +
                                               R"(,"type":"application/octet-stream"}])");
  const std::vector<std::string> expected = {(work / "notes.txt").string(),
                                             (work / "data.qsftdata").string()};
  EXPECT_EQ(Recorded(2), expected);  // the program above was never launched
}

TEST_F(HostAccessTest, OpenBlocksScriptsByNameAndDesktopEntriesWhereverTheirHeaderStands) {
  Host host(program_, env_);
  ASSERT_TRUE(host.started());
  Create(host, "a");
  ASSERT_EQ(host.Call("a", "CheckWorkDir"), "true");
  const fs::path work = data_ / "Quillstone/WebWorkDir/DS";
  const std::string entry = "[Desktop Entry]\nType=Application\nName=x\nExec=/bin/true\n";
  WriteFile(work / "late.txt", "# " + std::string(2000, '-') + "\n" + entry);
  WriteFile(work / "old.kdelnk", "# comment\n[KDE Desktop Entry]\nExec=/bin/true\n");
  for (const char* name : {"run.py3", "run.rb", "run.php", "run.lua", "run.tcl"}) {
    WriteFile(work / name, "print(1)\n");
  }
  WriteFile(work / "notes.txt", "plain notes\n");
  const std::string blocked =
      R"([{"kind":"message","title":"Quillstone Web Client","text":"An attempt to open or )"
      R"(execute potentially harmful file was blocked.","icon":"error","buttons":"ok"}])";
  for (const char* name :
       {"late.txt", "old.kdelnk", "run.py3", "run.rb", "run.php", "run.lua", "run.tcl"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(host.Call("a", "Open", "[" + Quote((work / name).string()) + "]"), "null");
    EXPECT_EQ(host.Ask(R"({"op":"shown"})"), blocked);
  }
  // A document still opens; it is the only file the application ever got.
  EXPECT_EQ(host.Call("a", "Open", "[" + Quote((work / "notes.txt").string()) + "]"), "null");
  EXPECT_EQ(Recorded(1), std::vector<std::string>{(work / "notes.txt").string()});
}

TEST_F(HostAccessTest, AGrantedFolderHidesItsHiddenFilesFromEveryOperation) {
  Host host(program_, env_);
  ASSERT_TRUE(host.started());
  Create(host, "a");
  WriteFile(home_ / ".bashrc", "shell start");
  WriteFile(config_ / "autostart" / "x.desktop", "[Desktop Entry]\nExec=/bin/true\n");
  WriteFile(home_ / "letter.txt", "letter\n");
  host.Ask(R"({"op":"dialogs","answers":[{"folder":)" + Quote(home_.string()) + "}]}");
  ASSERT_EQ(host.Call("a", "SelectExportDir"), Quote(home_.string()));
  for (const fs::path& hidden : {home_ / ".bashrc", config_ / "autostart" / "x.desktop"}) {
    SCOPED_TRACE(hidden.string());
    const std::string arg = "[" + Quote(hidden.string()) + "]";
    EXPECT_EQ(host.Call("a", "FileExist", arg), "false");
    EXPECT_EQ(host.Call("a", "FolderExist", "[" + Quote(hidden.parent_path().string() + "/") + "]"),
              hidden.parent_path() == home_ ? "true" : "false");
    EXPECT_EQ(host.Call("a", "DeleteFile", arg), "null");
    EXPECT_TRUE(fs::exists(hidden));
  }
  EXPECT_EQ(host.Call("a", "FileExist", "[" + Quote((home_ / "letter.txt").string()) + "]"),
            "true");
  EXPECT_EQ(host.Call("a", "DeleteFile", "[" + Quote((home_ / "letter.txt").string()) + "]"),
            "null");
  EXPECT_FALSE(fs::exists(home_ / "letter.txt"));
  EXPECT_TRUE(fs::exists(data_ / "Trash/files/letter.txt"));
}

}  // namespace
