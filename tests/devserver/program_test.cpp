// The qsft-devserver program: its first output line, its faults from the command line, and
// its orderly end on SIGTERM.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "devserver/raw_client.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

std::filesystem::path ProgramPath() {
  if (const char* dir = std::getenv("QSFT_BIN_DIR"))
    return std::filesystem::path(dir) / "qsft-devserver";
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" /
         "qsft-devserver";
}

std::vector<std::string> WithProgramPath(std::vector<std::string> args) {
  args.insert(args.begin(), ProgramPath().string());
  return args;
}

// Runs the program with its standard output on a pipe and its standard error in a file; kills
// it on the way out if needed.
class Program {
 public:
  explicit Program(std::vector<std::string> args)
      : process_(WithProgramPath(std::move(args)), {}, {.err_path = err_path_.string()}) {}

  // The first line of output (bounded wait as a safety net).
  std::string FirstLine() {
    bool ok = false;
    return process_.ReadLine(ok, 30000);
  }

  // Standard error so far.
  std::string Err() const { return qs::testing::ReadFile(err_path_); }

  // Sends the signal and returns the exit status (-1 when it did not exit normally).
  int Terminate(int signal) {
    process_.Signal(signal);
    return process_.Wait();
  }

 private:
  qs::testing::TempDir dir_;
  std::filesystem::path err_path_ = dir_ / "stderr";
  qs::testing::ChildProcess process_;
};

TEST(ProgramTest, ListensServesFaultsFromTheCommandLineAndStopsOnSigterm) {
  if (!std::filesystem::exists(ProgramPath())) GTEST_SKIP() << "qsft-devserver not built";
  qs::testing::TempDir dir;
  qs::testing::WriteFile(dir / "f.txt", std::string(3000, 'q'));
  Program program({"--root", dir.path().string(), "--port", "0", "--fault",
                   "break-after=1000,path=/download,times=1"});
  std::string line = program.FirstLine();
  const std::string prefix = "listening on http://127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  auto port = static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));

  {
    qs::testing::RawClient client(port);
    ASSERT_TRUE(client.Get("/download?file=f.txt"));
    auto r = client.Read();
    EXPECT_EQ(r.body.size(), 1000u);
    EXPECT_FALSE(r.complete);
  }
  {
    qs::testing::RawClient client(port);
    ASSERT_TRUE(client.Get("/download?file=f.txt&resumeAt=1000"));
    auto r = client.Read();
    EXPECT_EQ(r.Header("Resumed-from"), "1000");
    EXPECT_EQ(r.body.size(), 2000u);
  }
  EXPECT_EQ(program.Terminate(SIGTERM), 0);
}

TEST(ProgramTest, RefusesABadFaultSpec) {
  if (!std::filesystem::exists(ProgramPath())) GTEST_SKIP() << "qsft-devserver not built";
  qs::testing::TempDir dir;
  Program program({"--root", dir.path().string(), "--fault", "explode=1"});
  EXPECT_EQ(program.FirstLine(), "");  // nothing on standard output
  EXPECT_EQ(program.Terminate(0), 2);
}

TEST(ProgramTest, RefusesARootThatIsNoDirectoryAndSaysWhyItCannotListen) {
  if (!std::filesystem::exists(ProgramPath())) GTEST_SKIP() << "qsft-devserver not built";
  qs::testing::TempDir dir;
  Program missing({"--root", (dir / "nothing").string()});
  EXPECT_EQ(missing.FirstLine(), "");
  EXPECT_EQ(missing.Terminate(0), 2);
  EXPECT_NE(missing.Err().find((dir / "nothing").string() + " is not a directory"),
            std::string::npos)
      << missing.Err();

  // A port that is taken: the message names it and the reason.
  const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string port = std::to_string(ntohs(addr.sin_port));
  Program busy({"--root", dir.path().string(), "--port", port});
  EXPECT_EQ(busy.FirstLine(), "");
  EXPECT_EQ(busy.Terminate(0), 1);
  EXPECT_NE(busy.Err().find("cannot listen on 127.0.0.1:" + port + ": Address already in use"),
            std::string::npos)
      << busy.Err();
  ::close(taken);
}

}  // namespace
