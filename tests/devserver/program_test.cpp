// The qsft-devserver program: its first output line, its faults from the command line, and
// its orderly end on SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "devserver/raw_client.h"
#include "support/temp_dir.h"

namespace {

std::filesystem::path ProgramPath() {
  if (const char* dir = std::getenv("QSFT_BIN_DIR"))
    return std::filesystem::path(dir) / "qsft-devserver";
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" /
         "qsft-devserver";
}

// Runs the program with its standard output on a pipe; kills it on the way out if needed.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      std::string path = ProgramPath().string();
      std::vector<char*> argv{path.data()};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // The first line of output (bounded wait as a safety net).
  std::string FirstLine() {
    std::string line;
    char c;
    pollfd p{out_, POLLIN, 0};
    while (::poll(&p, 1, 30000) == 1 && ::read(out_, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }

  // Sends the signal and returns the exit status (-1 when it did not exit normally).
  int Terminate(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
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

}  // namespace
