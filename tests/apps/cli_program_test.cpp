// The transfer and working-directory commands run as a person runs them: the built qsft
// against a development server on 127.0.0.1, judged by exit code, output and the files left.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "devserver/fault.h"
#include "devserver/server.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qs::testing::ChildProcess;
using qs::testing::ReadFile;
using qs::testing::TempDir;
using qs::testing::WriteFile;

// Generous bound so that a command that hangs ends the test instead of hanging it.
constexpr int kOutputBoundMs = 120000;

// Polls `done` every 10 ms until it holds; false once kOutputBoundMs have passed.
template <typename Predicate>
bool WaitUntil(Predicate done) {
  for (int waited_ms = 0; waited_ms < kOutputBoundMs; waited_ms += 10) {
    if (done()) return true;
    usleep(10000);
  }
  return done();
}

std::string QsftProgram() {
  const char* dir = std::getenv("QSFT_BIN_DIR");
  return dir ? std::string(dir) + "/qsft" : std::string();
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  return bytes;
}

class CliProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = QsftProgram();
    if (program_.empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
    ASSERT_TRUE(fs::exists(program_)) << program_;
    server_ =
        std::make_unique<qs::devserver::Server>(qs::devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }

  void AddFault(const std::string& text) {
    std::string error;
    auto fault = qs::devserver::ParseFaultDescription(text, &error);
    ASSERT_TRUE(fault) << error;
    server_->AddFault(*std::move(fault));
  }

  // The settings store and the user's data folders live in this test's directory, never in
  // the real ones. Standard input ends at once, as if it were /dev/null.
  std::unique_ptr<ChildProcess> Start(std::vector<std::string> args) {
    args.insert(args.begin(), program_);
    auto run = std::make_unique<ChildProcess>(
        args, std::vector<std::string>{"XDG_CONFIG_HOME=" + (home_ / "config").string(),
                                       "XDG_DATA_HOME=" + (home_ / "data").string(),
                                       "HOME=" + home_.path().string()});
    run->CloseInput();
    return run;
  }

  std::string Url(const std::string& file) const {
    return server_->base_url() + "/download?file=" + file;
  }

  std::string program_;
  TempDir root_;
  TempDir target_;
  TempDir home_;
  std::unique_ptr<qs::devserver::Server> server_;
};

TEST_F(CliProgramTest, DownloadResumesTwoBreaksAndWritesTheExactBytes) {
  const std::string content = RandomBytes(3 * 1024 * 1024 + 17, 7);
  WriteFile(root_ / "doc.bin", content);
  AddFault("break-after=1000000,times=1,path=/download");
  AddFault("break-after=700000,times=1,path=/download,query=resumeAt=");
  const fs::path target = target_ / "new" / "doc.bin";
  auto run = Start({"download", Url("doc.bin"), target.string()});
  ASSERT_TRUE(run->started());
  EXPECT_EQ(run->Finish(kOutputBoundMs), 0) << run->err();
  EXPECT_TRUE(ReadFile(target) == content) << "bytes differ";
  EXPECT_FALSE(fs::exists(target.string() + ".!incomplete"));
  // Not a terminal: plain lines, then the closing line and where the file went.
  EXPECT_NE(run->out().find("doc.bin: "), std::string::npos) << run->out();
  EXPECT_NE(run->out().find(", done\n"), std::string::npos) << run->out();
  EXPECT_NE(run->out().find("saved " + target.string() + " (3145745 bytes)"), std::string::npos)
      << run->out();
  EXPECT_EQ(run->err(), "");
  int resumed = 0;
  for (const auto& request : server_->requests()) {
    resumed += request.target.find("resumeAt=") != std::string::npos;
  }
  EXPECT_EQ(resumed, 2);
}

TEST_F(CliProgramTest, SpacesAndNonAsciiInTheUrlGoOutAsABrowserSendsThem) {
  const std::string name = "\xC3\xBC b+c.txt";  // a space is %20, and "+" stays a plus sign
  WriteFile(root_ / name, "content");
  auto run = Start({"download", "--quiet", Url(name), (target_ / "u.txt").string()});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 0) << run->err();
  EXPECT_EQ(ReadFile(target_ / "u.txt"), "content");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].target, "/download?file=%C3%BC%20b+c.txt");
}

TEST_F(CliProgramTest, QuietDownloadWritesNothing) {
  WriteFile(root_ / "a.txt", "content of a");
  auto run = Start({"download", "--quiet", Url("a.txt"), (target_ / "a.txt").string()});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 0) << run->err();
  EXPECT_EQ(run->out(), "");
  EXPECT_EQ(ReadFile(target_ / "a.txt"), "content of a");
}

TEST_F(CliProgramTest, FailedDownloadExitsOneWithTheStatusTextAndLeavesNothing) {
  auto run = Start({"download", Url("missing.bin"), (target_ / "missing.bin").string()});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 1);
  // The page's text, and what the core knows beyond it.
  EXPECT_EQ(run->err(), "qsft download: TransferError: the server answered 404 Not Found\n");
  EXPECT_TRUE(fs::is_empty(target_.path()));
}

TEST_F(CliProgramTest, DownloadFromAnotherHostThanThePageIsRefusedByTheControl) {
  WriteFile(root_ / "a.txt", "a");
  auto run = Start({"download", "--page", "http://dms.example.test/app/", Url("a.txt"),
                    (target_ / "a.txt").string()});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 1);
  EXPECT_EQ(run->err().rfind("qsft download: ", 0), 0u) << run->err();
  EXPECT_GT(run->err().size(), std::string("qsft download: \n").size());
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_TRUE(fs::is_empty(target_.path()));
}

TEST_F(CliProgramTest, InterruptCancelsLeavesNoTemporaryFileAndExits130) {
  WriteFile(root_ / "big.bin", RandomBytes(2 * 1024 * 1024, 3));
  WriteFile(target_ / "big.bin", "older version");
  // The server holds still after the first 64 KiB until the test lets it go on, so the
  // interrupt certainly arrives mid-body.
  AddFault("stall=65536,path=/download");
  const fs::path target = target_ / "big.bin";
  auto run = Start({"download", Url("big.bin"), target.string()});
  ASSERT_TRUE(run->started());
  // The server stalls once its first 64 KiB are in the socket; the program may not have read
  // the answer's head and opened its temporary file yet.
  ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() > 0; }));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(target.string() + ".!incomplete"); }));
  run->Signal(SIGINT);
  ASSERT_TRUE(run->WaitForError("cancelling", kOutputBoundMs)) << run->err();
  // The server still sends nothing: the cancel reaches the waiting read, without the stall
  // being let go and long before the receive time-out.
  EXPECT_EQ(run->Finish(kOutputBoundMs), 130) << run->err();
  server_->ReleaseStalls();
  EXPECT_NE(run->err().find("qsft download: cancelled\n"), std::string::npos) << run->err();
  EXPECT_FALSE(fs::exists(target.string() + ".!incomplete"));
  EXPECT_EQ(ReadFile(target), "older version");
  EXPECT_EQ(server_->requests().size(), 1u);  // no resumption after the cancel
}

TEST_F(CliProgramTest, ASecondInterruptExitsAtOnceAndRemovesTheTemporaryFile) {
  WriteFile(root_ / "big.bin", RandomBytes(2 * 1024 * 1024, 3));
  WriteFile(target_ / "big.bin", "older version");
  AddFault("stall=65536,path=/download");
  const fs::path target = target_ / "big.bin";
  auto run = Start({"download", Url("big.bin"), target.string()});
  ASSERT_TRUE(run->started());
  ASSERT_TRUE(WaitUntil([&] { return server_->StallsInProgress() > 0; }));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(target.string() + ".!incomplete"); }));
  run->Signal(SIGINT);
  run->Signal(SIGINT);
  EXPECT_EQ(run->Finish(kOutputBoundMs), 130) << run->err();
  server_->ReleaseStalls();
  EXPECT_FALSE(fs::exists(target.string() + ".!incomplete"));
  EXPECT_EQ(ReadFile(target), "older version");
}

TEST_F(CliProgramTest, DownloadSaysWhenTheServerHadNothingToSend) {
  WriteFile(root_ / "a.txt", "a");
  AddFault("status=204,path=/download");
  auto run = Start({"download", Url("a.txt"), (target_ / "a.txt").string()});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 0) << run->err();
  EXPECT_NE(run->out().find("nothing to download (204)"), std::string::npos) << run->out();
  EXPECT_FALSE(fs::exists(target_ / "a.txt"));
}

TEST_F(CliProgramTest, UploadSendsChunksAndPrintsTheCheckInAnswer) {
  const std::string content = RandomBytes(300000, 11);
  const fs::path file = target_ / "report.bin";
  WriteFile(file, content);
  auto run = Start({"upload", file.string(), server_->base_url() + "/upload", "--chunk-size",
                    "100K", "--first"});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 0) << run->err();
  EXPECT_NE(run->out().find("report.bin: "), std::string::npos) << run->out();
  EXPECT_NE(run->out().find("server answered: OK 300000\n"), std::string::npos) << run->out();
  std::vector<std::string> queries;
  for (const auto& request : server_->requests()) {
    queries.push_back(request.target.substr(request.target.find('?') + 1));
  }
  ASSERT_EQ(queries.size(), 3u);
  EXPECT_EQ(queries[0].rfind("chunkIdx=1&offset=0&start=true", 0), 0u) << queries[0];
  EXPECT_EQ(queries[1].rfind("chunkIdx=2&offset=102400", 0), 0u) << queries[1];
  EXPECT_NE(queries[2].find("checkin="), std::string::npos) << queries[2];
  EXPECT_TRUE(ReadFile(root_ / "report.bin") == content);
}

TEST_F(CliProgramTest, UploadOfAMissingFileFailsWithThePlatformText) {
  auto run = Start({"upload", (target_ / "nothing.bin").string(), server_->base_url() + "/upload"});
  EXPECT_EQ(run->Finish(kOutputBoundMs), 1);
  EXPECT_EQ(run->err().rfind("qsft upload: ", 0), 0u) << run->err();
}

TEST_F(CliProgramTest, WorkdirCreatesTheDefaultInItsSafeLocationAndChecksIt) {
  const std::vector<std::string> pair = {
      "--datasource", "Archive", "--user", "corp/jdoe", "--page", "https://dms.example.test/app/"};
  std::vector<std::string> args = {"workdir"};
  args.insert(args.end(), pair.begin(), pair.end());
  auto choose = Start(args);
  EXPECT_EQ(choose->Finish(kOutputBoundMs), 0) << choose->err();
  const fs::path expected = home_ / "data" / "Quillstone" / "WebWorkDir" / "Archive" / "corp_jdoe";
  EXPECT_EQ(choose->out(), expected.string() + "\n");
  EXPECT_TRUE(fs::is_directory(expected));

  args.push_back("--check");
  auto check = Start(args);
  EXPECT_EQ(check->Finish(kOutputBoundMs), 0) << check->err();
  EXPECT_EQ(check->out(), expected.string() + "\n");
}

TEST_F(CliProgramTest, WorkdirChangeTakesTheNamedFolderAndFailsWithoutOne) {
  const std::vector<std::string> base = {"workdir", "--change", "--datasource", "DS",
                                         "--user",  "u",        "--page",       "http://h.test/"};
  auto without = Start(base);
  EXPECT_EQ(without->Finish(kOutputBoundMs), 1);
  EXPECT_NE(without->err().find("--dir"), std::string::npos) << without->err();
  EXPECT_EQ(without->out(), "");

  std::vector<std::string> args = base;
  args.push_back("--dir=" + target_.path().string());
  auto with = Start(args);
  EXPECT_EQ(with->Finish(kOutputBoundMs), 0) << with->err();
  EXPECT_EQ(with->out(), target_.path().string() + "\n");
}

struct ArgumentCase {
  std::vector<std::string> args;
  std::string in_error;
};

TEST_F(CliProgramTest, WrongArgumentsExitTwoWithUsage) {
  const std::vector<ArgumentCase> cases = {
      {{"download"}, "needs URL and PATH"},
      {{"download", "http://h.test/d?file=a"}, "needs URL and PATH"},
      {{"download", "d?file=a", "/tmp/x"}, "--page"},
      {{"download", "--page"}, "--page needs a value"},
      {{"download", "--speed", "http://h.test/d?file=a", "/tmp/x"}, "unknown option --speed"},
      {{"download", "http://h.test/d?file=a", "/tmp/"}, "is a directory"},
      {{"upload", "/tmp/x"}, "needs FILE and URL"},
      {{"upload", "/tmp/x", "http://h.test/u", "--chunk-size", "0"}, "--chunk-size"},
      {{"upload", "/tmp/x", "http://h.test/u", "--chunk-size", "5G"}, "--chunk-size"},
      {{"workdir", "--user", "u", "--page", "http://h.test/"}, "needs --datasource"},
      {{"workdir", "--datasource", "d", "--page", "http://h.test/"}, "needs --user"},
      {{"workdir", "--datasource", "d", "--user", "u"}, "needs --page"},
      {{"workdir", "--change", "--check"}, "exclude each other"},
      // Empty and odd operands and values: a message, never an abort.
      {{"download", "http://h.test/d?file=a", ""}, "PATH is empty"},
      {{"download", "", "/tmp/x"}, "URL is empty"},
      {{"download", "http://h.test/d?file=a", "/tmp/x/.."}, "is a directory"},
      {{"download", "--page=", "http://h.test/d?file=a", "/tmp/x"}, "--page needs a value"},
      {{"download", "--page", "not a url", "http://h.test/d?file=a", "/tmp/x"}, "absolute URL"},
      {{"download", "--", "http://h.test/d?file=a"}, "needs URL and PATH"},
      {{"upload", "", "http://h.test/u"}, "FILE is empty"},
      {{"upload", "/tmp", "http://h.test/u"}, "is a directory"},
      {{"upload", "/tmp/x", ""}, "URL is empty"},
      {{"upload", "/tmp/x", "http://h.test/u", "--chunk-size="}, "--chunk-size needs a value"},
      {{"workdir", "--datasource", "d", "--user", "u", "--page", "notaurl"}, "absolute URL"},
      {{"workdir", "--datasource", "d", "--user", "u", "--page", "http://h/", "--dir", ""},
       "--dir needs a value"},
      {{"host", "--dialogs"}, "--dialogs needs a value"},
      {{"host", "--dialogs=sometimes"}, "--dialogs takes"},
      {{"host", "extra"}, "unexpected argument"},
      {{"version", "extra"}, "unexpected argument"},
  };
  for (const auto& c : cases) {
    auto run = Start(c.args);
    EXPECT_EQ(run->Finish(kOutputBoundMs), 2) << c.args[0] << " " << c.in_error;
    EXPECT_NE(run->err().find(c.in_error), std::string::npos) << run->err();
    EXPECT_NE(run->err().find("usage: qsft " + c.args[0]), std::string::npos) << run->err();
    EXPECT_EQ(run->out(), "");
  }
  EXPECT_TRUE(server_->requests().empty());
  // The settings store answers for itself: a missing file is a usage error as well.
  auto reg = Start({"reg", "import", ""});
  EXPECT_EQ(reg->Finish(kOutputBoundMs), 2) << reg->err();
  EXPECT_NE(reg->err().find("import takes one FILE"), std::string::npos) << reg->err();
}

TEST_F(CliProgramTest, OperandsAfterDoubleDashMayStartWithADash) {
  WriteFile(root_ / "a.txt", "content of a");
  const fs::path before = fs::current_path();
  fs::current_path(target_.path());  // the child starts here; "-a.txt" is relative to it
  auto run = Start({"download", "--quiet", "--", Url("a.txt"), "-a.txt"});
  fs::current_path(before);
  EXPECT_EQ(run->Finish(kOutputBoundMs), 0) << run->err();
  EXPECT_EQ(ReadFile(target_ / "-a.txt"), "content of a");
}

TEST_F(CliProgramTest, HelpForEveryCommandGoesToStandardOutput) {
  auto top = Start({"--help"});
  EXPECT_EQ(top->Finish(kOutputBoundMs), 0);
  for (const std::string command : {"download", "upload", "workdir", "host", "version"}) {
    EXPECT_NE(top->out().find("  " + command + " "), std::string::npos) << top->out();
    auto help = Start({command, "--help"});
    EXPECT_EQ(help->Finish(kOutputBoundMs), 0);
    EXPECT_EQ(help->out().rfind("usage: qsft " + command, 0), 0u) << help->out();
    EXPECT_NE(help->out().find("exit status"), std::string::npos);
    EXPECT_EQ(help->err(), "");
  }
}

}  // namespace
