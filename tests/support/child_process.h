// A program started by a test, with its environment overridden, its standard input a pipe
// the test writes to, and its standard output and error captured. Killed when destroyed if it
// has not ended by then, so a test that gives up leaves nothing running.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qs::testing {

class ChildProcess {
 public:
  // Starts args[0] (a path) with `env` added in front of this process's environment, so that
  // its entries win. Standard error goes to `err_path` when given, else it is captured too.
  ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
               const std::string& err_path = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes `text` to standard input; false once that is closed.
  bool Write(const std::string& text);
  void CloseInput();
  // The next line of standard output without its "\n"; empty with ok=false once the output
  // ended or nothing came for `bound_ms`.
  std::string ReadLine(bool& ok, int bound_ms = 60000);
  // Closes standard input, reads everything to the end and returns the exit code (-1 when it
  // did not exit normally within `bound_ms`: it is then killed).
  int Finish(int bound_ms = 60000);
  // Sends SIGTERM and reaps it (SIGKILL after 5 s).
  void Stop();

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

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
