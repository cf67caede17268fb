#include "devserver/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "devserver/server_impl.h"

namespace qs::devserver {
namespace fs = std::filesystem;

namespace {

// How long accepting pauses when the process has no descriptor left.
constexpr int kAcceptPauseMs = 100;

}  // namespace

Server::Impl::Impl(Options opts) : options(std::move(opts)) {
  std::error_code ec;
  root = fs::weakly_canonical(fs::absolute(options.root, ec), ec);
  uploads = std::make_unique<UploadStore>(root);
}

namespace {

// Whether the request's Cookie header holds the pair "NAME=VALUE" exactly.
bool CarriesCookie(const RequestHead& request, const std::string& pair) {
  auto header = request.Header("Cookie");
  if (!header) return false;
  size_t start = 0;
  while (start <= header->size()) {
    size_t end = header->find(';', start);
    if (end == std::string::npos) end = header->size();
    std::string item = header->substr(start, end - start);
    const size_t first = item.find_first_not_of(' ');
    const size_t last = item.find_last_not_of(' ');
    if (first != std::string::npos && item.substr(first, last - first + 1) == pair) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

Effects Server::Impl::SelectEffects(const RequestHead& request) {
  Effects fx;
  std::lock_guard lock(mutex);
  for (size_t i = 0; i < faults.size(); ++i) {
    auto& armed = faults[i];
    const Fault& f = armed.fault;
    if (!f.Matches(request.method, request.path, request.query)) continue;
    if (!f.without_cookie.empty() && CarriesCookie(request, f.without_cookie)) continue;
    uint32_t n = ++armed.matched;
    if (n <= f.skip || (f.times != Fault::kUnlimited && n - f.skip > f.times)) continue;
    std::string applied = "fault#" + std::to_string(i + 1);
    if (f.Replaces() && !fx.replacement) {
      if (!(f.auth && auth.Authorized(f, request))) {
        fx.replacement = f;
        fx.note += applied + " ";
      }
    }
    if (f.break_after && (!fx.break_after || *f.break_after < *fx.break_after))
      fx.break_after = f.break_after;
    if (f.stall != StallPoint::kNone && fx.stall == StallPoint::kNone) {
      fx.stall = f.stall;
      fx.stall_after = f.stall_after;
      fx.stall_for = f.stall_for;
    }
    if (f.rate && (!fx.rate || f.rate < fx.rate)) fx.rate = f.rate;
    if (f.resumed_from_delta) fx.head.resumed_from_delta = f.resumed_from_delta;
    fx.head.omit_resumed_from |= f.omit_resumed_from;
    fx.head.omit_qs_content_length |= f.omit_qs_content_length;
    if (f.qs_content_length_delta) fx.head.qs_content_length_delta = f.qs_content_length_delta;
    fx.head.malformed_header |= f.malformed_header;
    fx.head.long_header_bytes = std::max(fx.head.long_header_bytes, f.long_header_bytes);
    if (!f.set_cookie.empty()) fx.head.set_cookies.push_back(f.set_cookie);
    if (!f.Replaces()) fx.note += applied + " ";
  }
  if (!fx.note.empty()) fx.note.pop_back();
  return fx;
}

void Server::Impl::Record(const RequestRecord& record) {
  std::lock_guard lock(mutex);
  records.push_back(record);
}

bool Server::Impl::Stall(std::chrono::milliseconds how_long) {
  std::unique_lock lock(mutex);
  const uint64_t releases = stall_releases;
  auto stopped = [this, releases] { return stop_requested || stall_releases != releases; };
  ++stalls_in_progress;
  if (how_long.count() <= 0) {
    stop_signal.wait(lock, stopped);
  } else {
    stop_signal.wait_for(lock, how_long, stopped);
  }
  --stalls_in_progress;
  return !stop_requested;
}

bool Server::Impl::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex);
  stop_signal.wait_until(lock, deadline, [this] { return stop_requested; });
  return !stop_requested;
}

bool Server::Impl::stopping() const {
  std::lock_guard lock(mutex);
  return stop_requested;
}

void Server::Impl::Hold(const std::string& uri, Response response) {
  std::lock_guard lock(mutex);
  held.insert_or_assign(uri, std::move(response));
}

std::optional<Response> Server::Impl::TakeHeld(const std::string& uri) {
  std::lock_guard lock(mutex);
  auto it = held.find(uri);
  if (it == held.end()) return std::nullopt;
  Response r = std::move(it->second);
  held.erase(it);
  return r;
}

void Server::Impl::CloseConnection(Connection* connection) {
  std::lock_guard lock(mutex);
  if (connection->fd >= 0) ::close(connection->fd);
  connection->fd = -1;
  connection->done = true;
}

void Server::Impl::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener.get(), POLLIN, 0}, {wake_read.get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    int fd = ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&peer), &peer_len, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors (or memory) the listener stays readable, and retrying at once
      // would spin. Pause; the client stays in the backlog and is taken once a connection has
      // ended. Stop still ends the pause at once.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        pollfd wake{wake_read.get(), POLLIN, 0};
        if (::poll(&wake, 1, kAcceptPauseMs) > 0) return;
      }
      continue;
    }
    // A segment must not wait for the acknowledgement of the one before (the client delays it
    // by about 40 ms on loopback): answers to a series of requests would each pay that.
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);

    // Reap finished connections so that a long-running server does not collect threads.
    std::list<std::unique_ptr<Connection>> finished;
    {
      std::lock_guard lock(mutex);
      for (auto it = connections.begin(); it != connections.end();) {
        auto next = std::next(it);
        if ((*it)->done) finished.splice(finished.end(), connections, it);
        it = next;
      }
      if (stop_requested) {
        ::close(fd);
      } else {
        auto connection = std::make_unique<Connection>();
        connection->id = next_connection_id++;
        connection->fd = fd;
        connection->peer = address;
        Connection* raw = connection.get();
        connections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] { Serve(raw); });
      }
    }
    for (auto& c : finished) {
      if (c->thread.joinable()) c->thread.join();  // already past its last statement
    }
  }
}

Server::Server(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { Stop(); }

bool Server::Start() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->started) return false;
  // sendfile has no MSG_NOSIGNAL: a client that hangs up mid-body would otherwise kill the
  // whole process (a test binary running the server in-process) with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  int error = 0;
  impl_->listener = ListenLoopback(impl_->options.port, &error);
  if (!impl_->listener.valid()) {
    impl_->start_error = "cannot listen on 127.0.0.1:" + std::to_string(impl_->options.port) +
                         ": " + std::strerror(error);
    return false;
  }
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    impl_->start_error = std::string("cannot start: ") + std::strerror(errno);
    impl_->listener.Reset();
    return false;
  }
  impl_->wake_read = Fd(pipe_fds[0]);
  impl_->wake_write = Fd(pipe_fds[1]);
  impl_->port = LocalPort(impl_->listener.get());
  impl_->started = true;
  impl_->acceptor = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
  return true;
}

std::string Server::start_error() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->start_error;
}

uint16_t Server::port() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->port;
}

std::string Server::base_url() const { return "http://127.0.0.1:" + std::to_string(port()); }

void Server::Stop() {
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->started || impl_->stop_requested) return;
    impl_->stop_requested = true;
  }
  impl_->stop_signal.notify_all();
  char byte = 1;
  if (::write(impl_->wake_write.get(), &byte, 1) < 0) {
    // The acceptor also ends when the pipe is gone; nothing else to do.
  }
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& c : impl_->connections) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    all.swap(impl_->connections);
  }
  for (auto& c : all) {
    if (c->thread.joinable()) c->thread.join();
  }
  impl_->listener.Reset();
}

uint32_t Server::StallsInProgress() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->stalls_in_progress;
}

void Server::ReleaseStalls() {
  {
    std::lock_guard lock(impl_->mutex);
    ++impl_->stall_releases;
  }
  impl_->stop_signal.notify_all();
}

std::vector<RequestRecord> Server::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

void Server::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->records.clear();
}

void Server::AddFault(Fault fault) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back({std::move(fault), 0});
}

void Server::ClearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
  impl_->held.clear();
}

}  // namespace qs::devserver
