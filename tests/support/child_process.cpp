#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <utility>

extern char** environ;

namespace qs::testing {

namespace {

// Both ends of a pipe; whatever the parent did not take is closed on the way out.
struct Pipe {
  int fd[2] = {-1, -1};
  bool Open() { return pipe2(fd, O_CLOEXEC) == 0; }
  int Take(int end) { return std::exchange(fd[end], -1); }
  ~Pipe() {
    for (int f : fd) {
      if (f >= 0) close(f);
    }
  }
};

// Milliseconds left until `deadline`, at least 0.
int MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::chrono::steady_clock::time_point After(int bound_ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args,
                           const std::vector<std::string>& env,
                           const ChildProcessOptions& options) {
  const bool capture_err = !options.err_to_ours && options.err_path.empty();
  Pipe in, out, err;
  if (!in.Open() || !out.Open() || (capture_err && !err.Open())) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
  if (capture_err) {
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
  } else if (!options.err_to_ours) {
    posix_spawn_file_actions_addopen(&actions, 2, options.err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
  }
  std::vector<std::string> arg_store = args;
  std::vector<char*> argv;
  for (auto& a : arg_store) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_store = env;
  if (!options.env_only) {
    for (char** e = environ; *e != nullptr; ++e) env_store.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  in_fd_ = in.Take(1);
  out_fd_ = out.Take(0);
  if (capture_err) err_fd_ = err.Take(0);
  signal(SIGPIPE, SIG_IGN);  // a child that ended must not end the test with it
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_fd_, out_fd_, err_fd_}) {
    if (fd >= 0) close(fd);
  }
}

bool ChildProcess::Write(const std::string& text) {
  size_t at = 0;
  while (in_fd_ >= 0 && at < text.size()) {
    const ssize_t n = write(in_fd_, text.data() + at, text.size() - at);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return in_fd_ >= 0;
}

void ChildProcess::CloseInput() {
  if (in_fd_ >= 0) close(in_fd_);
  in_fd_ = -1;
}

void ChildProcess::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

std::string ChildProcess::ReadLine(bool& ok, int bound_ms) {
  const auto deadline = After(bound_ms);
  for (;;) {
    const size_t newline = out_.find('\n', out_taken_);
    if (newline != std::string::npos) {
      std::string line = out_.substr(out_taken_, newline - out_taken_);
      out_taken_ = newline + 1;
      ok = true;
      return line;
    }
    const int left = MsLeft(deadline);
    if (left <= 0 || !ReadSome(left)) {
      ok = false;
      return {};
    }
  }
}

bool ChildProcess::WaitForError(const std::string& text, int bound_ms) {
  const auto deadline = After(bound_ms);
  while (err_.find(text) == std::string::npos) {
    const int left = MsLeft(deadline);
    if (left <= 0 || !ReadSome(left)) return false;
  }
  return true;
}

int ChildProcess::Wait(int bound_ms) {
  const auto deadline = After(bound_ms);
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    const int left = MsLeft(deadline);
    if (left <= 0 || !ReadSome(left)) break;
  }
  if (pid_ <= 0) return -1;
  int status = 0;
  const pid_t pid = pid_;
  if (out_fd_ >= 0 || err_fd_ >= 0) kill(pid, SIGKILL);  // it outlived the bound
  pid_ = -1;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int ChildProcess::Finish(int bound_ms) {
  CloseInput();
  return Wait(bound_ms);
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  if (waitpid(pid_, nullptr, WNOHANG) != pid_) return true;
  pid_ = -1;
  return false;
}

void ChildProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int waited_ms = 0; waited_ms < 5000; waited_ms += 10) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool ChildProcess::ReadSome(int bound_ms) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  if (poll(fds, 2, bound_ms) <= 0) return false;
  for (int k = 0; k < 2; ++k) {
    if (fds[k].revents == 0) continue;
    int& fd = k == 0 ? out_fd_ : err_fd_;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {
      close(fd);
      fd = -1;
    } else {
      (k == 0 ? out_ : err_).append(buf, static_cast<size_t>(n));
    }
  }
  return true;
}

}  // namespace qs::testing
