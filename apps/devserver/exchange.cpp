// One connection's request loop: read a head, apply the faults, answer, and keep the
// connection for the next request unless the client or a fault ends it.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>

#include "devserver/files.h"
#include "devserver/server_impl.h"

namespace qs::devserver {
namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr uint64_t kPiece = 1024 * 1024;  // bounds each send so that faults cut exactly

class Exchange {
 public:
  Exchange(Server::Impl& server, const Connection& connection)
      : server_(server),
        fd_(connection.fd),
        id_(connection.id),
        peer_(connection.peer),
        reader_(connection.fd) {}

  void Run() {
    while (!server_.stopping() && HandleOne()) {
    }
  }

 private:
  // Serves one request; false when the connection must end.
  bool HandleOne();
  // The answer the request would get without a replacing fault. Consumes the body.
  std::optional<Response> RealAnswer(const RequestHead& request, uint64_t length,
                                     const BodyReader& read);
  // Sends the answer with the modifying effects; false when the connection must end.
  bool Send(const Response& response, const Effects& fx, bool keep_alive, LogEntry& entry);
  bool SendBody(const Response& response, const Effects& fx, LogEntry& entry);
  bool SendCut(uint64_t length, const Effects& fx, LogEntry& entry,
               const std::function<bool(uint64_t from, uint64_t n)>& emit);
  // Holds still once when the body has reached the stall point; false when the server stops.
  bool StallIfDue(const Effects& fx, uint64_t sent);
  void Log(const LogEntry& entry) {
    if (server_.options.log) server_.options.log(entry);
  }
  void Refuse(int status, const std::string& text) {
    SendAll(fd_, BuildHead(Response::Text(status, text), {}, false) + text);
  }

  Server::Impl& server_;
  int fd_;
  uint64_t id_;
  std::string peer_;
  SocketReader reader_;
  bool stalled_ = false;
};

bool Exchange::HandleOne() {
  std::string raw_head;
  switch (reader_.ReadHead(&raw_head, kMaxHead, server_.options.head_timeout)) {
    case SocketReader::HeadResult::kClosed: return false;
    case SocketReader::HeadResult::kTimedOut:
      // An idle connection just ends; a head begun and not finished gets told why.
      if (reader_.has_buffered()) Refuse(408, "request head not received in time");
      return false;
    case SocketReader::HeadResult::kTooLarge: Refuse(431, "request head too large"); return false;
    case SocketReader::HeadResult::kOk: break;
  }
  auto request = ParseRequestHead(raw_head);
  if (!request) {
    Refuse(400, "malformed request");
    return false;
  }
  LogEntry entry;
  entry.request = {request->method, request->target, request->headers, 0, id_};
  Effects fx = server_.SelectEffects(*request);
  entry.note = fx.note;

  if (request->Header("Transfer-Encoding")) {
    server_.Record(entry.request);
    Refuse(411, "send the body with a Content-Length");
    return false;
  }
  const std::optional<uint64_t> announced = AnnouncedBodyLength(*request);
  if (!announced) {
    server_.Record(entry.request);
    Refuse(400, "bad Content-Length");
    return false;
  }
  const uint64_t length = *announced;
  auto expect = request->Header("Expect");
  if (length > 0 && expect && EqualsIgnoreCase(*expect, "100-continue"))
    SendAll(fd_, "HTTP/1.1 100 Continue\r\n\r\n");

  // A break fault on a request with a body cuts the body off after that many bytes.
  uint64_t received = 0;
  uint64_t allowed = fx.break_after ? std::min(length, *fx.break_after) : length;
  BodyReader read = [&](char* out, size_t max) -> size_t {
    size_t want = static_cast<size_t>(std::min<uint64_t>(max, allowed - received));
    size_t n = want == 0 ? 0 : reader_.ReadSome(out, want);
    received += n;
    return n;
  };

  std::optional<Response> answer;
  const Fault* f = fx.replacement ? &*fx.replacement : nullptr;
  if (f && f->ask_again) {
    std::string uri = f->body.empty() ? request->target : f->body;
    if (request->method == "POST") {
      auto real = RealAnswer(*request, length, read);
      if (real) server_.Hold(uri, std::move(*real));
    } else {
      DrainBody(length, read);
    }
    if (received == length) answer = Response::Text(202, uri);
  } else if (f) {
    DrainBody(length, read);
    if (f->raw) {
      entry.request.body_size = received;
      server_.Record(entry.request);
      SendAll(fd_, *f->raw);
      Log(entry);
      return false;
    }
    if (f->auth) {
      answer = server_.auth.Challenge(*f);
    } else {
      answer = Response::Text(f->status, f->status == 204 ? std::string() : f->body);
    }
  } else {
    answer = RealAnswer(*request, length, read);
  }
  entry.request.body_size = received;
  server_.Record(entry.request);
  if (received < length || !answer) {  // the body broke off: no answer
    Log(entry);
    return false;
  }
  if (fx.break_after && length > 0) {
    Log(entry);  // a break on a request with a body ends it after those bytes, unanswered
    return false;
  }
  bool keep_alive = request->KeepAlive() && !answer->close;
  if (request->method == "HEAD") answer->head_only = true;
  bool ok = Send(*answer, fx, keep_alive, entry);
  Log(entry);
  return ok && keep_alive;
}

std::optional<Response> Exchange::RealAnswer(const RequestHead& request, uint64_t length,
                                             const BodyReader& read) {
  if (request.method == "POST") {
    if (request.path.rfind("/static/", 0) == 0 || request.path == "/download") {
      if (DrainBody(length, read) < length) return std::nullopt;
      return Response::Text(405, "no uploads here");
    }
    if (length == 0) {
      if (auto held = server_.TakeHeld(request.target)) return held;
    }
    return server_.uploads->Chunk(request, peer_, length, read);
  }
  if (DrainBody(length, read) < length) return std::nullopt;
  if (request.method != "GET" && request.method != "HEAD") {
    return Response::Text(405, "GET, HEAD or POST only");
  }
  if (request.path == "/download") return DownloadResponse(server_.root, request.query);
  if (request.path.rfind("/static/", 0) == 0) return StaticResponse(server_.root, request.path);
  return Response::Text(404, "nothing here");
}

bool Exchange::Send(const Response& response, const Effects& fx, bool keep_alive, LogEntry& entry) {
  if (fx.stall == StallPoint::kBeforeHead && !server_.Stall(fx.stall_for)) return false;
  entry.status = response.status;
  stalled_ = false;
  std::string head = BuildHead(response, fx.head, keep_alive);
  if (response.head_only) return SendAll(fd_, head) && !fx.break_after;
  // Head and body go out together: a head sent on its own would make a short answer wait for
  // the client's delayed acknowledgement. A body in memory is sent with the head in one write;
  // a file's head waits for its first piece. Faults that cut, stall or pace the body keep the
  // pieces.
  const bool whole = !fx.break_after && fx.stall != StallPoint::kAfterBodyBytes && !fx.rate;
  if (whole && !response.file) {
    head += response.body;
    if (!SendAll(fd_, head)) return false;
    entry.body_sent = response.body.size();
    return true;
  }
  if (!SendAll(fd_, head, whole && response.body_length() > 0)) return false;
  if (!SendBody(response, fx, entry) || !StallIfDue(fx, entry.body_sent)) return false;
  // A break fault ends the connection even when the body was shorter than its byte count.
  return !fx.break_after;
}

// Sends `length` body bytes through `emit`, holding still at the stall point and stopping at
// the break point. `emit` sends bytes [from, from + n) of the body.
bool Exchange::SendCut(uint64_t length, const Effects& fx, LogEntry& entry,
                       const std::function<bool(uint64_t from, uint64_t n)>& emit) {
  // A paced body goes out in pieces of about a hundredth of a second, each when the bytes
  // before it are due at the rate.
  const uint64_t piece = fx.rate ? std::clamp<uint64_t>(fx.rate / 100, 4096, kPiece) : kPiece;
  const auto start = std::chrono::steady_clock::now();
  while (entry.body_sent < length) {
    if (!StallIfDue(fx, entry.body_sent)) return false;
    uint64_t at = entry.body_sent;
    if (fx.rate) {
      const std::chrono::duration<double> due(static_cast<double>(at) /
                                              static_cast<double>(fx.rate));
      if (!server_.WaitUntil(start + std::chrono::duration_cast<std::chrono::nanoseconds>(due))) {
        return false;
      }
    }
    uint64_t take = std::min<uint64_t>(length - at, piece);
    if (fx.break_after) {
      if (at >= *fx.break_after) return false;
      take = std::min<uint64_t>(take, *fx.break_after - at);
    }
    if (fx.stall == StallPoint::kAfterBodyBytes && !stalled_ && fx.stall_after > at)
      take = std::min<uint64_t>(take, fx.stall_after - at);
    if (!emit(at, take)) return false;
    entry.body_sent += take;
  }
  return true;
}

bool Exchange::StallIfDue(const Effects& fx, uint64_t sent) {
  if (fx.stall != StallPoint::kAfterBodyBytes || stalled_ || fx.stall_after != sent) return true;
  stalled_ = true;
  return server_.Stall(fx.stall_for);
}

bool Exchange::SendBody(const Response& response, const Effects& fx, LogEntry& entry) {
  if (!response.file) {
    return SendCut(response.body.size(), fx, entry, [&](uint64_t from, uint64_t n) {
      return SendAll(fd_, std::string_view(response.body).substr(from, n));
    });
  }
  Fd file(::open(response.file->path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return false;  // the head promised a body that is gone: end the connection
  // sendfile keeps a 1 GiB download off the heap and cheap in CPU.
  return SendCut(response.file->length, fx, entry, [&](uint64_t from, uint64_t n) {
    off_t offset = static_cast<off_t>(response.file->offset + from);
    while (n > 0) {
      ssize_t sent = ::sendfile(fd_, file.get(), &offset, n);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;  // peer gone, or the file shrank under us
      n -= static_cast<uint64_t>(sent);
    }
    return true;
  });
}

}  // namespace

void Server::Impl::Serve(Connection* connection) {
  Exchange(*this, *connection).Run();
  CloseConnection(connection);
}

}  // namespace qs::devserver
