#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace qs::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& args,
                           const std::vector<std::string>& env, const std::string& err_path) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (err_path.empty()) {
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
  }
  std::vector<std::string> arg_store = args;
  std::vector<char*> argv;
  for (auto& a : arg_store) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_store = env;
  for (char** e = environ; *e != nullptr; ++e) env_store.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_fd_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
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

std::string ChildProcess::ReadLine(bool& ok, int bound_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  for (;;) {
    const size_t newline = out_.find('\n', out_taken_);
    if (newline != std::string::npos) {
      std::string line = out_.substr(out_taken_, newline - out_taken_);
      out_taken_ = newline + 1;
      ok = true;
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) {
      ok = false;
      return {};
    }
  }
}

int ChildProcess::Finish(int bound_ms) {
  CloseInput();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) break;
  }
  if (pid_ <= 0) return -1;
  int status = 0;
  const pid_t pid = pid_;
  if (out_fd_ >= 0 || err_fd_ >= 0) kill(pid, SIGKILL);  // it outlived the bound
  pid_ = -1;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
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
