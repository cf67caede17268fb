#include "support/network_world.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace qs::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char kRealmScript[] = QSFT_TESTS_SOURCE_DIR "/support/kerberos_realm.py";

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

}  // namespace

std::optional<std::string> MissingNetworkTool(const std::string& tool) {
  auto need = [](const std::string& path,
                 const std::string& package) -> std::optional<std::string> {
    if (Executable(path) || fs::exists(path)) return std::nullopt;
    return path + " is missing (Debian package " + package + "; scripts/install-deps installs it)";
  };
  if (tool == "proxy") return need("/usr/bin/tinyproxy", "tinyproxy");
  if (tool == "squid") {
    if (auto missing = need("/usr/sbin/squid", "squid")) return missing;
    return need("/usr/lib/squid/digest_file_auth", "squid");
  }
  if (tool == "desktop") {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/gio/modules",
                            "/usr/lib/aarch64-linux-gnu/gio/modules", "/usr/lib/gio/modules"}) {
      if (fs::exists(fs::path(dir) / "libgiognomeproxy.so")) {
        return need("/usr/share/glib-2.0/schemas/org.gnome.system.proxy.gschema.xml",
                    "gsettings-desktop-schemas");
      }
    }
    return std::string("the desktop's proxy module is missing (Debian package glib-networking)");
  }
  if (tool == "pac") {
    if (auto missing = need("/usr/bin/dbus-daemon", "dbus-daemon")) return missing;
    if (auto missing = need("/usr/libexec/glib-pacrunner", "glib-networking")) return missing;
    for (const char* dir :
         {"/usr/lib/x86_64-linux-gnu/libproxy", "/usr/lib/aarch64-linux-gnu/libproxy"}) {
      std::error_code ec;
      for (const auto& version : fs::directory_iterator(dir, ec)) {
        if (fs::exists(version.path() / "modules" / "pacrunner_webkit.so")) return std::nullopt;
      }
    }
    return std::string("libproxy's PAC runner is missing (Debian package libproxy1-plugin-webkit)");
  }
  if (tool == "kerberos") {
    if (auto missing = need("/usr/sbin/krb5kdc", "krb5-kdc")) return missing;
    if (auto missing = need("/usr/sbin/kadmin.local", "krb5-admin-server")) return missing;
    if (auto missing = need("/usr/bin/kinit", "krb5-user")) return missing;
    return need("/usr/lib/python3/dist-packages/gssapi", "python3-gssapi");
  }
  return "unknown tool " + tool;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

bool ListensOn(pid_t pid, int port) {
  // The socket listening on 127.0.0.1:port ("0100007F:PORT", state 0A), by its inode...
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(port));
  std::string inode;
  std::istringstream table(ReadFile("/proc/net/tcp"));
  for (std::string line; inode.empty() && std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, address, remote, state, queues, timer, retransmits, uid, timeout, node;
    if (fields >> slot >> address >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> node &&
        address == local && state == "0A") {
      inode = node;
    }
  }
  if (inode.empty()) return false;
  // ...among the process's open descriptors.
  const std::string wanted = "socket:[" + inode + "]";
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code link_ec;
    if (fs::read_symlink(fd.path(), link_ec).string() == wanted) return true;
  }
  return false;
}

std::unique_ptr<ChildProcess> StartListening(
    const std::function<std::unique_ptr<ChildProcess>(int port)>& start, int bound_ms, int* port) {
  std::unique_ptr<ChildProcess> server;
  for (int attempt = 0; attempt < 5; ++attempt) {
    *port = FreeLoopbackPort();
    server = start(*port);
    if (!server) return server;
    for (int waited_ms = 0; server->Running() && waited_ms < bound_ms; waited_ms += 10) {
      if (ListensOn(server->pid(), *port)) return server;
      usleep(10000);
    }
    if (server->Running()) return server;  // neither listening nor ended: not a taken port
  }
  return server;
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

DesktopWorld::DesktopWorld(fs::path home) : home_(std::move(home)) {
  for (const char* dir : {"config", "data", "cache", "runtime"}) {
    fs::create_directories(home_ / dir);
  }
  fs::permissions(home_ / "runtime", fs::perms::owner_all);
  SetNone();
}

void DesktopWorld::WriteSettings(const std::string& text) {
  WriteFile(home_ / "config" / "glib-2.0" / "settings" / "keyfile", text);
}

void DesktopWorld::SetNone() { WriteSettings("[system/proxy]\nmode='none'\n"); }

void DesktopWorld::SetManual(const std::string& host, int port, const std::string& user,
                             const std::string& password) {
  std::string text = "[system/proxy]\nmode='manual'\nignore-hosts=@as []\n[system/proxy/http]\n";
  text += "host='" + host + "'\nport=" + std::to_string(port) + "\n";
  if (!user.empty()) {
    text += "use-authentication=true\nauthentication-user='" + user +
            "'\nauthentication-password='" + password + "'\n";
  }
  WriteSettings(text);
}

void DesktopWorld::SetAutomatic(const std::string& pac_url) {
  WriteSettings("[system/proxy]\nmode='auto'\nautoconfig-url='" + pac_url +
                "'\nignore-hosts=@as []\n");
}

void DesktopWorld::SetKde(const std::string& lines) {
  WriteFile(home_ / "config" / "kioslaverc", "[Proxy Settings]\n" + lines);
}

std::vector<std::string> DesktopWorld::KdeEnvironment(const std::string& bus) const {
  std::vector<std::string> env = Environment(bus);
  for (std::string& variable : env) {
    if (variable.starts_with("XDG_CURRENT_DESKTOP=")) variable = "XDG_CURRENT_DESKTOP=KDE";
  }
  return env;
}

std::vector<std::string> DesktopWorld::Environment(const std::string& bus) const {
  return {
      "HOME=" + home_.string(),
      "XDG_CONFIG_HOME=" + (home_ / "config").string(),
      "XDG_DATA_HOME=" + (home_ / "data").string(),
      "XDG_CACHE_HOME=" + (home_ / "cache").string(),
      "XDG_RUNTIME_DIR=" + (home_ / "runtime").string(),
      "GSETTINGS_BACKEND=keyfile",
      "XDG_CURRENT_DESKTOP=GNOME",
      "DBUS_SESSION_BUS_ADDRESS=" + (bus.empty() ? std::string("unix:path=/nonexistent") : bus),
      "NO_AT_BRIDGE=1",
      "http_proxy=",
      "https_proxy=",
      "HTTPS_PROXY=",
      "all_proxy=",
      "ALL_PROXY=",
      "no_proxy=",
      "NO_PROXY=",
      "KRB5CCNAME=FILE:" + (home_ / "no-ticket").string(),
  };
}

ForwardProxy::ForwardProxy(const fs::path& dir, const std::string& user,
                           const std::string& password)
    : log_(dir / "proxy.log") {
  fs::create_directories(dir);
  process_ = StartListening(
      [&](int port) {
        std::string conf = "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 30\n" +
                           "LogFile \"" + log_.string() + "\"\nLogLevel Connect\nMaxClients 20\n";
        if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
        WriteFile(dir / "proxy.conf", conf);
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c",
                                     (dir / "proxy.conf").string()},
            std::vector<std::string>{},
            ChildProcessOptions{.err_path = (dir / "proxy.err").string()});
      },
      5000, &port_);
  running_ = ListensOn(process_->pid(), port_);
}

ForwardProxy::~ForwardProxy() { process_->Stop(); }

std::vector<std::string> ForwardProxy::Requests() const {
  std::vector<std::string> requests;
  for (const std::string& line : ReadLines(log_)) {
    const size_t at = line.find("): ");
    if (line.find("Request (file descriptor") != std::string::npos && at != std::string::npos) {
      requests.push_back(line.substr(at + 3));
    }
  }
  return requests;
}

DigestProxy::DigestProxy(const std::string& user, const std::string& password) {
  const fs::path dir = dir_.path();
  WriteFile(dir / "passwd", user + ":" + password + "\n");
  process_ = StartListening(
      [&](int port) -> std::unique_ptr<ChildProcess> {
        const std::string conf =
            "http_port 127.0.0.1:" + std::to_string(port) + "\n" + "pid_filename " +
            (dir / "squid.pid").string() + "\n" + "cache_log " + (dir / "cache.log").string() +
            "\n" + "access_log stdio:" + (dir / "access.log").string() + "\n" + "coredump_dir " +
            dir.string() + "\n" +
            "cache deny all\ncache_mem 8 MB\nnetdb_filename none\npinger_enable off\n"
            "strip_query_terms off\nshutdown_lifetime 0 seconds\n"
            "auth_param digest program /usr/lib/squid/digest_file_auth " +
            (dir / "passwd").string() +
            "\nauth_param digest realm qsft-test\n"
            "auth_param digest children 2 startup=1 idle=1\n"
            "acl known proxy_auth REQUIRED\nhttp_access allow known\nhttp_access deny all\n";
        WriteFile(dir / "squid.conf", conf);
        // Started as root, squid works as the user Debian gives it and must be able to write
        // here.
        if (geteuid() == 0) {
          if (const passwd* pw = getpwnam("proxy")) {
            for (const auto& entry : fs::recursive_directory_iterator(dir)) {
              if (chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid) != 0) return nullptr;
            }
            if (chown(dir.c_str(), pw->pw_uid, pw->pw_gid) != 0) return nullptr;
          }
        }
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/sbin/squid", "-N", "-f", (dir / "squid.conf").string()},
            std::vector<std::string>{},
            ChildProcessOptions{.err_path = (dir / "squid.err").string()});
      },
      15000, &port_);
  running_ = process_ && ListensOn(process_->pid(), port_);
}

DigestProxy::~DigestProxy() {
  if (process_) process_->Stop();
}

std::vector<std::string> DigestProxy::Requests() const {
  // "time elapsed client RESULT/STATUS bytes METHOD URL USER HIERARCHY TYPE"
  std::vector<std::string> requests;
  for (const std::string& line : ReadLines(dir_.path() / "access.log")) {
    std::istringstream fields(line);
    std::string time, elapsed, client, result, bytes, method, url, user;
    if (!(fields >> time >> elapsed >> client >> result >> bytes >> method >> url >> user)) {
      continue;
    }
    const size_t slash = result.find('/');
    requests.push_back(method + " " + url + " " +
                       (slash == std::string::npos ? result : result.substr(slash + 1)) + " " +
                       user);
  }
  return requests;
}

std::string DigestProxy::Errors() const {
  return ReadFile(dir_.path() / "squid.err") + ReadFile(dir_.path() / "cache.log");
}

SessionBus::SessionBus() {
  process_ =
      std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/dbus-daemon", "--session",
                                                              "--nofork", "--print-address=1"},
                                     std::vector<std::string>{});
  bool ok = false;
  address_ = process_->ReadLine(ok, 10000);
  if (!ok) address_.clear();
}

SessionBus::~SessionBus() { process_->Stop(); }

KerberosRealm::KerberosRealm(const fs::path& dir) : dir_(dir) {
  fs::create_directories(dir_ / "files");
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", kRealmScript, dir_.string()},
      std::vector<std::string>{"KRB5CCNAME=FILE:" + (dir_ / "ccache").string()},
      ChildProcessOptions{.err_path = (dir_ / "realm.err").string()});
  bool ok = false;
  const std::string line = process_->ReadLine(ok, 30000);
  if (ok && line.rfind("ready ", 0) == 0) port_ = std::stoi(line.substr(6));
}

KerberosRealm::~KerberosRealm() {
  // The script stops its KDC and server when its input ends.
  process_->Finish(10000);
}

std::vector<std::string> KerberosRealm::Environment(bool with_ticket) const {
  std::vector<std::string> env;
  for (const std::string& line : ReadLines(dir_ / "env")) {
    if (line.rfind("KRB5CCNAME=", 0) == 0 && !with_ticket) {
      env.push_back("KRB5CCNAME=FILE:" + (dir_ / "no-ticket").string());
    } else {
      env.push_back(line);
    }
  }
  return env;
}

std::vector<std::string> KerberosRealm::ServerLog() const { return ReadLines(dir_ / "server.log"); }

}  // namespace qs::testing
