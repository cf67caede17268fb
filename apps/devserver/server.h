// qsft-devserver: a small HTTP/1.1 server that stands in for the document server, for tests,
// the demo and trials. It listens on 127.0.0.1 only, runs one thread per connection, keeps
// connections alive, records every request, and can be told to misbehave byte for byte
// (fault.h).
//
// URL layout:
//   GET /download?file=NAME[&resumeAt=N][&anything=else]
//       NAME is a file below the root, percent-decoded; absolute names and ".." are refused
//       with 403, a missing file is 404. Answers 200 with the file, "Content-Length" of what
//       this answer carries and "QS-Content-Length" with the whole file's length. With
//       "resumeAt=N" the body is the file from byte N on and the header "Resumed-from: N" is
//       added (N beyond the end: 416). Other parameters (such as "limit=4294967295") are
//       ignored; when a parameter is repeated, the last one counts.
//   GET /static/PATH
//       The file root/static/PATH, for demo pages; same refusal rules.
//   HEAD of either: the same answer without its body. The server's own part files (below
//       root/.qsft-parts) are never served (403).
//   POST PATH?chunkIdx=I&offset=O[&start=true][&checkin=ENCODED_LOCAL_PATH]
//       Any path but /static and /download. The body (Content-Length, raw bytes) is written at
//       O into the part file of this PATH and client (a request with two different
//       Content-Length headers is refused with 400); offset 0 starts the part afresh, an
//       offset beyond the bytes received so far is refused with 409, "start=true" marks the
//       first chunk of a batch. With "checkin" the part becomes root/NAME, NAME being the last
//       component ("/" or "\" separated) of the decoded local path; the answer is "OK <total
//       bytes>". A chunk without checkin answers "OK chunk <I>". Part files live in
//       root/.qsft-parts/.
//       A POST with an empty body to a URI named by an earlier 202 answer gets the answer that
//       was held back for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devserver/fault.h"

namespace qs::devserver {

struct RequestRecord {
  std::string method;
  std::string target;  // path?query exactly as sent
  std::vector<std::pair<std::string, std::string>> headers;
  uint64_t body_size = 0;      // body bytes received (fewer than announced when a fault broke it)
  uint64_t connection_id = 0;  // 1, 2, 3, ... in the order connections were accepted
};

// One line of the request log, given after the answer went out (or the connection broke).
struct LogEntry {
  RequestRecord request;
  int status = 0;          // 0 when no status line was sent (raw bytes, break before head)
  uint64_t body_sent = 0;  // body bytes of the answer that went out
  std::string note;        // the faults that applied, if any
};

struct Options {
  std::filesystem::path root;
  uint16_t port = 0;  // 0: ephemeral
  // Called on the connection's thread after each request; must be thread-safe.
  std::function<void(const LogEntry&)> log;
  // How long a client has for a whole request head, from when the server starts waiting for
  // it (after the connection was accepted or the previous answer went out). A connection
  // whose head does not arrive in time is closed: with bytes of a head, after a 408 answer.
  std::chrono::milliseconds head_timeout{std::chrono::seconds(30)};
};

class Server {
 public:
  explicit Server(Options options);
  ~Server();  // stops
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds 127.0.0.1:port and starts accepting. False when the socket cannot be bound (then
  // start_error() says which port and why) or the server was already started.
  //
  // Running out of descriptors does not stop the server: it pauses accepting for a moment
  // instead of retrying at once, and clients waiting meanwhile are served once descriptors
  // are free again.
  bool Start();
  std::string start_error() const;
  uint16_t port() const;
  std::string base_url() const;  // "http://127.0.0.1:PORT"

  // Ends stalls, closes every connection and joins every thread. Idempotent.
  void Stop();

  std::vector<RequestRecord> requests() const;
  void ClearRequests();

  // Connections held silent by a stall right now. A test waits for its stall to begin, then
  // ends it with ReleaseStalls: the stalls in progress end and their answers go on; later
  // stalls are not affected.
  uint32_t StallsInProgress() const;
  void ReleaseStalls();

  void AddFault(Fault fault);
  void ClearFaults();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qs::devserver
