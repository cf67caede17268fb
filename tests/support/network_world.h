// A company network on 127.0.0.1 for the tests that run qsft as a person in a company does:
// desktop proxy settings in a private XDG world, a real forward proxy, a private session bus
// (for the desktop's PAC helper), and a throw-away Kerberos realm with a server that requires
// Negotiate. Everything is started by the test and stopped with it; nothing of the machine's
// own settings, tickets or proxies is read.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace qs::testing {

// Why a tool of the company network is missing; nothing when all are there. The tests skip
// with this reason (scripts/install-deps installs them all).
std::optional<std::string> MissingNetworkTool(const std::string& tool);

// A free TCP port on 127.0.0.1 (free when asked; the caller binds it soon after).
int FreeLoopbackPort();

// Whether the process `pid` itself listens on 127.0.0.1:port (TCP). A port that accepts
// connections may belong to another program that took it after it was found free.
bool ListensOn(pid_t pid, int port);

// Starts a server that binds the port it is given, on a port of 127.0.0.1 found free. Another
// program (a parallel test) may take that port before the server binds it: a server that ends
// without listening is started again on a fresh port, a few times. Returns the server once it
// listens on its port itself, with *port set; the last attempt's server (ended, or not
// listening after `bound_ms`) otherwise.
std::unique_ptr<ChildProcess> StartListening(
    const std::function<std::unique_ptr<ChildProcess>(int port)>& start, int bound_ms, int* port);

// The desktop's proxy settings as the GSettings keyfile backend stores them, under `home`.
// Loopback is not in the list of hosts that go direct (the desktop's default puts it there).
class DesktopWorld {
 public:
  explicit DesktopWorld(std::filesystem::path home);

  void SetNone();
  void SetManual(const std::string& host, int port, const std::string& user = {},
                 const std::string& password = {});
  void SetAutomatic(const std::string& pac_url);
  // KDE Plasma's settings: `lines` of the [Proxy Settings] group of kioslaverc.
  void SetKde(const std::string& lines);

  // The environment of a program that runs in this desktop: private XDG folders, the keyfile
  // settings, a GNOME session, no proxy variables, no Kerberos ticket, and `bus` as the
  // session bus (none when empty).
  std::vector<std::string> Environment(const std::string& bus = {}) const;
  // The same in a KDE Plasma session.
  std::vector<std::string> KdeEnvironment(const std::string& bus = {}) const;

 private:
  void WriteSettings(const std::string& text);
  std::filesystem::path home_;
};

// tinyproxy on a free port of 127.0.0.1, optionally requiring Basic credentials, with its log.
class ForwardProxy {
 public:
  ForwardProxy(const std::filesystem::path& dir, const std::string& user = {},
               const std::string& password = {});
  ~ForwardProxy();
  bool running() const { return running_; }
  int port() const { return port_; }
  // The request lines the proxy logged ("GET http://127.0.0.1:8080/download?file=a HTTP/1.1").
  std::vector<std::string> Requests() const;

 private:
  std::filesystem::path log_;
  int port_ = 0;
  bool running_ = false;
  std::unique_ptr<ChildProcess> process_;
};

// squid on a free port of 127.0.0.1 that wants Digest credentials (user and password checked
// by its file helper), with its configuration, logs and pid file in a private directory of its
// own: nothing of the system's squid or /var is touched. Stopped when destroyed.
class DigestProxy {
 public:
  DigestProxy(const std::string& user, const std::string& password);
  ~DigestProxy();
  bool running() const { return running_; }
  int port() const { return port_; }
  // "METHOD URL STATUS USER" per request the proxy answered, USER "-" when none was accepted.
  std::vector<std::string> Requests() const;
  // What the proxy wrote to its error output, for a failed start.
  std::string Errors() const;

 private:
  TempDir dir_;
  int port_ = 0;
  bool running_ = false;
  std::unique_ptr<ChildProcess> process_;
};

// A private session bus; the desktop's PAC helper is started on it and ends with it.
class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  const std::string& address() const { return address_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string address_;
};

// The realm QSFT.TEST with the user alice, who has a ticket, and a web server for
// http://localhost:PORT that requires Negotiate (support/kerberos_realm.py).
class KerberosRealm {
 public:
  explicit KerberosRealm(const std::filesystem::path& dir);
  ~KerberosRealm();
  bool running() const { return port_ != 0; }
  int port() const { return port_; }
  std::filesystem::path files() const { return dir_ / "files"; }
  // The Kerberos variables of a program that runs as alice, with her ticket or without one.
  std::vector<std::string> Environment(bool with_ticket) const;
  // "METHOD PATH STATUS PRINCIPAL" per answered request.
  std::vector<std::string> ServerLog() const;

 private:
  std::filesystem::path dir_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

std::vector<std::string> ReadLines(const std::filesystem::path& path);

}  // namespace qs::testing
