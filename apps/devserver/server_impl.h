// The shared state of one development server, used by the acceptor (server.cpp) and by each
// connection's request loop (exchange.cpp).
#pragma once

#include <condition_variable>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "devserver/auth.h"
#include "devserver/response.h"
#include "devserver/server.h"
#include "devserver/socket_io.h"
#include "devserver/upload_store.h"

namespace qs::devserver {

// What the faults that apply to one request do to it.
struct Effects {
  std::optional<Fault> replacement;  // the first applicable replacing fault
  std::optional<uint64_t> break_after;
  StallPoint stall = StallPoint::kNone;
  uint64_t stall_after = 0;
  std::chrono::milliseconds stall_for{0};
  uint64_t rate = 0;  // body bytes per second; 0: unpaced
  HeadChanges head;
  std::string note;
};

struct Connection {
  uint64_t id = 0;
  int fd = -1;  // owned; closed under the server's mutex so that Stop never shuts a reused fd
  std::string peer;
  std::thread thread;
  bool done = false;
};

struct Server::Impl {
  explicit Impl(Options opts);

  // The faults that apply to this request; advances their counters.
  Effects SelectEffects(const RequestHead& request);
  void Record(const RequestRecord& record);
  // Holds the connection silent for `how_long` (0: until Stop), or until ReleaseStalls. False
  // when the server stops.
  bool Stall(std::chrono::milliseconds how_long);
  // Waits until `deadline`; false when the server stops first. Not a stall: ReleaseStalls
  // does not end it.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  bool stopping() const;

  // Answers held back by a 202, keyed by the URI it named.
  void Hold(const std::string& uri, Response response);
  std::optional<Response> TakeHeld(const std::string& uri);

  void AcceptLoop();
  void Serve(Connection* connection);
  void CloseConnection(Connection* connection);

  Options options;
  std::filesystem::path root;
  Authenticator auth;
  std::unique_ptr<UploadStore> uploads;

  std::string start_error;
  Fd listener;
  Fd wake_read;
  Fd wake_write;
  uint16_t port = 0;
  std::thread acceptor;

  mutable std::mutex mutex;
  std::condition_variable stop_signal;
  bool started = false;
  bool stop_requested = false;
  uint64_t stall_releases = 0;  // raised by ReleaseStalls; a stall ends when it changes
  uint32_t stalls_in_progress = 0;
  std::list<std::unique_ptr<Connection>> connections;
  uint64_t next_connection_id = 1;
  std::vector<RequestRecord> records;
  struct ArmedFault {
    Fault fault;
    uint32_t matched = 0;
  };
  std::vector<ArmedFault> faults;
  std::map<std::string, Response> held;
};

}  // namespace qs::devserver
