// qsft-devserver: serves a directory on 127.0.0.1 the way the document server does, for the
// demo and for trying the control by hand. See server.h for the URL layout and fault.h for
// the fault syntax.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "devserver/http_request.h"
#include "devserver/server.h"

namespace {

constexpr const char* kUsage =
    "usage: qsft-devserver --root DIR [--port N] [--exit-after SECONDS] [--fault FAULT]... "
    "[--log]\n"
    "\n"
    "Serves DIR on 127.0.0.1 (port 0 or none: any free port; the first line of output is\n"
    "\"listening on http://127.0.0.1:PORT\").\n"
    "  GET  /download?file=NAME[&resumeAt=N]   a file below DIR, with QS-Content-Length\n"
    "  GET  /static/PATH                       DIR/static/PATH\n"
    "  HEAD of either                          the same answer without its body\n"
    "  POST PATH?chunkIdx=I&offset=O[&start=true][&checkin=LOCALPATH]   upload chunks\n"
    "\n"
    "--fault FAULT misbehave; comma-separated items:\n"
    "  match:   method=POST path=/download query=TEXT skip=N times=N|always\n"
    "           without-cookie=NAME=VALUE (requests that do not carry that cookie)\n"
    "  replace: status=N body=TEXT ask-again[=URI] raw=TEXT auth=basic|digest user=U\n"
    "           password=P proxy\n"
    "  modify:  break-after=N stall=before-head|N stall-ms=N resumed-from-delta=N\n"
    "           omit-resumed-from omit-qs-length qs-length-delta=N malformed-header\n"
    "           long-header=N set-cookie=NAME=VALUE[; attributes]\n"
    "           rate=BYTES_PER_SECOND (the body paced as a slower link carries it)\n"
    "  e.g. --fault break-after=1048576,times=1,path=/download\n"
    "--log         one line per request on standard error\n"
    "--exit-after  stop after that many seconds\n"
    "A client has 30 s for each request head. Stops on SIGINT or SIGTERM.\n";

int g_signal_pipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
  char byte = 1;
  ssize_t ignored = ::write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
}

int Fail(const std::string& message) {
  std::cerr << "qsft-devserver: " << message << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using qs::devserver::ParseDecimal;
  qs::devserver::Options options;
  std::vector<qs::devserver::Fault> faults;
  bool log = false;
  long exit_after_ms = -1;
  bool have_root = false;

  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--root") {
      auto v = value();
      if (!v) return Fail("--root needs a directory");
      options.root = *v;
      have_root = true;
    } else if (arg == "--port") {
      auto v = value();
      auto n = v ? ParseDecimal(*v) : std::nullopt;
      if (!n || *n > 65535) return Fail("--port needs a number from 0 to 65535");
      options.port = static_cast<uint16_t>(*n);
    } else if (arg == "--exit-after") {
      auto v = value();
      auto n = v ? ParseDecimal(*v) : std::nullopt;
      if (!n || *n > 1000000) return Fail("--exit-after needs a number of seconds");
      exit_after_ms = static_cast<long>(*n) * 1000;
    } else if (arg == "--fault") {
      auto v = value();
      if (!v) return Fail("--fault needs a description");
      std::string error;
      auto fault = qs::devserver::ParseFaultDescription(*v, &error);
      if (!fault) return Fail(error);
      faults.push_back(std::move(*fault));
    } else if (arg == "--log") {
      log = true;
    } else {
      return Fail("unknown argument \"" + arg + "\"");
    }
  }
  if (!have_root) return Fail("--root is required");
  std::error_code ec;
  if (!std::filesystem::is_directory(options.root, ec)) {
    return Fail("--root " + options.root.string() + " is not a directory");
  }

  static std::mutex log_mutex;
  if (log) {
    options.log = [](const qs::devserver::LogEntry& e) {
      std::lock_guard lock(log_mutex);
      std::cerr << "conn=" << e.request.connection_id << " " << e.request.method << " "
                << e.request.target << " in=" << e.request.body_size << " -> "
                << (e.status ? std::to_string(e.status) : std::string("-"))
                << " out=" << e.body_sent << (e.note.empty() ? "" : " " + e.note) << "\n";
    };
  }

  if (::pipe(g_signal_pipe) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  qs::devserver::Server server(std::move(options));
  for (auto& f : faults) server.AddFault(std::move(f));
  if (!server.Start()) {
    std::cerr << "qsft-devserver: " << server.start_error() << "\n";
    return 1;
  }
  std::cout << "listening on " << server.base_url() << std::endl;

  pollfd wait{g_signal_pipe[0], POLLIN, 0};
  while (::poll(&wait, 1, exit_after_ms < 0 ? -1 : static_cast<int>(exit_after_ms)) < 0) {
    if (errno != EINTR) break;
  }
  server.Stop();
  return 0;
}
