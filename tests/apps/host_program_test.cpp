// Runs the built `qsft host` through pipes, one request at a time: each answer must arrive
// before the next request is written, which only works if the host flushes every line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace {

// Generous bound so that a host that fails to answer ends the test instead of hanging it.
constexpr int kAnswerBoundMs = 60000;

class HostProcess {
 public:
  explicit HostProcess(const std::string& program) {
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    std::string arg0 = program;
    std::string arg1 = "host";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(to_child[0]);
    close(from_child[1]);
    in_ = to_child[1];
    out_ = from_child[0];
  }
  ~HostProcess() {
    CloseInput();
    if (out_ >= 0) close(out_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);  // only if Wait() was not reached
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }

  bool Send(const std::string& line) {
    std::string data = line + "\n";
    return write(in_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  }

  // The next line from the host, or "<none>" when it ends or does not answer in time.
  std::string ReadLine() {
    std::string line;
    for (;;) {
      size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return line;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, kAnswerBoundMs) <= 0) return "<none>";
      char buf[4096];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return "<none>";
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

  // Everything the host still writes until it closes its output.
  std::string ReadRest() {
    std::string rest = pending_;
    pending_.clear();
    for (;;) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, kAnswerBoundMs) <= 0) return rest + "<timeout>";
      char buf[4096];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return rest;
      rest.append(buf, static_cast<size_t>(n));
    }
  }

  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // The exit code, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    pid_t pid = pid_;
    pid_ = -1;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
};

std::string QsftProgram() {
  const char* dir = std::getenv("QSFT_BIN_DIR");
  return dir ? std::string(dir) + "/qsft" : std::string();
}

TEST(HostProgram, AnswersLineByLineThroughPipesAndQuits) {
  const std::string program = QsftProgram();
  if (program.empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
  ASSERT_TRUE(std::filesystem::exists(program)) << program;

  HostProcess host(program);
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.Send(R"({"id":1,"op":"create","control":"a","props":{"User":"a/b\\c"}})"));
  EXPECT_EQ(host.ReadLine(), R"({"id":1,"result":null})");
  ASSERT_TRUE(host.Send(R"({"id":2,"op":"get","control":"a","name":"user"})"));
  EXPECT_EQ(host.ReadLine(), R"({"id":2,"result":"a_b_c"})");
  ASSERT_TRUE(host.Send("not json"));
  EXPECT_EQ(host.ReadLine().rfind(R"({"id":null,"error":{"code":-2147024809,)", 0), 0u);
  ASSERT_TRUE(
      host.Send(R"({"id":3,"op":"call","control":"a","name":"GetTransferStatus","args":[7]})"));
  EXPECT_EQ(host.ReadLine(), R"({"id":3,"result":null})");
  ASSERT_TRUE(host.Send(R"({"id":4,"op":"quit"})"));
  EXPECT_EQ(host.ReadLine(), R"({"id":4,"result":null})");
  EXPECT_EQ(host.ReadRest(), "");  // nothing else on standard output
  EXPECT_EQ(host.Wait(), 0);
}

TEST(HostProgram, EndOfInputQuits) {
  const std::string program = QsftProgram();
  if (program.empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";

  HostProcess host(program);
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.Send(R"({"id":1,"op":"create","control":"a"})"));
  ASSERT_TRUE(host.Send(R"({"id":2,"op":"create","control":"b","props":{}})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadRest(), "{\"id\":1,\"result\":null}\n{\"id\":2,\"result\":null}\n");
  EXPECT_EQ(host.Wait(), 0);
}

}  // namespace
