// A program started by a test, with its environment overridden, its standard input a pipe
// the test writes to, and its standard output (and by default its standard error) captured. Killed
// when destroyed if it has not ended by then, so a test that gives up leaves nothing running.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qs::testing {

struct ChildProcessOptions {
  // Standard error is appended to this file when given, else captured into err().
  std::string err_path = {};
  // Standard error stays this process's own (it shows in the test's log); wins over err_path.
  bool err_to_ours = false;
  // The environment is `env` alone instead of `env` in front of this process's environment.
  bool env_only = false;
};

class ChildProcess {
 public:
  // Starts args[0] (a path) with `env` added in front of this process's environment, so that
  // its entries win.
  ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
               const ChildProcessOptions& options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Sends `sig` while the program has not been reaped; never a signal to another process.
  void Signal(int sig);
  // Whether it is still running; reaps it once it has ended.
  bool Running();

  // Writes `text` to standard input; false once that is closed.
  bool Write(const std::string& text);
  void CloseInput();
  // The next line of standard output without its "\n"; empty with ok=false once the output
  // ended or nothing came for `bound_ms`.
  std::string ReadLine(bool& ok, int bound_ms = 60000);
  // Reads until standard error holds `text`; false once the outputs ended or nothing came for
  // `bound_ms`.
  bool WaitForError(const std::string& text, int bound_ms = 60000);
  // Reads everything to the end and returns the exit code (-1 when it did not exit normally
  // within `bound_ms`: it is then killed). Standard input stays as it is.
  int Wait(int bound_ms = 60000);
  // Closes standard input, then Wait.
  int Finish(int bound_ms = 60000);
  // Sends SIGTERM and reaps it (SIGKILL after 5 s).
  void Stop();

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  // Standard output that ReadLine has not handed out.
  std::string Unread() const { return out_.substr(out_taken_); }

 private:
  bool ReadSome(int bound_ms);

  pid_t pid_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  size_t out_taken_ = 0;  // bytes of out_ handed out by ReadLine
  std::string err_;
};

}  // namespace qs::testing
