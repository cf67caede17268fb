// The desktop's proxy resolution: GIO's default proxy resolver on GNOME, Plasma's own settings
// file on KDE (kde_proxy_settings.h), the environment elsewhere.
//
// Why GIO's resolver rather than libproxy directly: it is what the desktop's own programs use,
// so a request goes where the user's browser would send it. On GNOME (and the desktops built on
// its settings) it follows the desktop's proxy settings (manual, automatic with a PAC script
// run by a helper on the session bus, or none) and their list of hosts that go direct. It needs
// no library beyond GIO, which the platform already links, its lookups are thread-safe, and it
// keeps the PAC engine out of the process (libproxy would load JavaScriptCore into it).
//
// The environment keeps working where the desktop has no settings: GNOME's resolver answers
// "direct://" when its mode is "none" and ignores http_proxy; a direct answer there, or from a
// resolver that reads the environment itself, leaves the choice to the HTTP client's own
// handling of http_proxy, https_proxy and no_proxy (which it applies in every case).
//
// On KDE Plasma GIO's resolver would not see the desktop's settings (they live in kioslaverc,
// not in GSettings), so they are read here and answered as Plasma's programs answer them. Its
// PAC scripts go to the same helper GNOME's resolver asks over the session bus (glib-pacrunner,
// org.gtk.GLib.PACRunner), so both desktops run PAC out of the process in the same engine.
//
// A session bus can take a connection and then never answer (a hung bus daemon, a stale
// address). GIO's resolver connects to it with no way to cancel, so every lookup runs on a
// thread of its own and is waited for only so long (kDesktopProxyWait). Past that the lookup
// is cancelled where it can be and left to end by itself, the environment decides (as when the
// PAC helper cannot be reached), and the desktop is not asked again until it has ended.
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/file_descriptor.h"
#include "platform/kde_proxy_settings.h"
#include "platform/proxy_resolver.h"

namespace qs::platform {

namespace {

constexpr const char kGnomeResolverType[] = "GProxyResolverGnome";
constexpr const char kGnomeProxySchema[] = "org.gnome.system.proxy";

struct StrvDeleter {
  void operator()(gchar** strv) const { g_strfreev(strv); }
};
struct ErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
struct ObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};

// Whether the desktop's settings are the GNOME resolver's and say "none". Read once per process:
// the resolver itself notices a change of the settings only in a running main loop, which this
// process may not have.
bool GnomeModeIsNone() {
  static const bool none = [] {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return true;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kGnomeProxySchema, TRUE);
    if (schema == nullptr) return true;
    g_settings_schema_unref(schema);
    std::unique_ptr<GSettings, ObjectDeleter> settings(g_settings_new(kGnomeProxySchema));
    gchar* mode = g_settings_get_string(settings.get(), "mode");
    const bool is_none = mode == nullptr || std::strcmp(mode, "none") == 0;
    g_free(mode);
    return is_none;
  }();
  return none;
}

// Whose settings decide. GIO's resolver follows the desktop's own settings only on GNOME.
// Elsewhere GIO hands the question to libproxy, which loads its PAC engine (JavaScriptCore,
// several megabytes) into the process only to read the environment's variables, which the HTTP
// client reads by itself; on KDE Plasma the settings file is read here instead.
// GIO_USE_PROXY_RESOLVER names a resolver explicitly and is honoured as such.
enum class Decider { kEnvironment, kGio, kKde };

bool DesktopIs(const char* list, std::string_view name) {
  // XDG_CURRENT_DESKTOP is a colon-separated list ("KDE", "ubuntu:GNOME").
  std::string_view rest = list == nullptr ? "" : list;
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    if (rest.substr(0, colon) == name) return true;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return false;
}

Decider WhoDecides() {
  static const Decider decider = [] {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const char* chosen = std::getenv("GIO_USE_PROXY_RESOLVER");
    if ((desktop != nullptr && std::strstr(desktop, "GNOME") != nullptr) ||
        (chosen != nullptr && *chosen != '\0')) {
      return Decider::kGio;
    }
    return DesktopIs(desktop, "KDE") ? Decider::kKde : Decider::kEnvironment;
  }();
  return decider;
}

// The session bus connection for PAC questions: a private one, so that a bus that goes away
// does not end the process (GIO's shared connection exits with its bus), made again after that.
GDBusConnection* PacBus(GCancellable* cancellable) {
  static GDBusConnection* bus = nullptr;  // guarded by the lookup's gate; kept for the process
  if (bus != nullptr && !g_dbus_connection_is_closed(bus)) return bus;
  if (bus != nullptr) g_object_unref(bus);
  bus = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, cancellable, nullptr);
  if (address == nullptr) return nullptr;
  bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable, nullptr);
  g_free(address);
  return bus;
}

// The desktop's PAC helper, as GNOME's resolver asks it. It fetches and caches the script and
// runs it; the first question also starts it on the bus.
std::optional<std::vector<std::string>> AskPacRunner(const std::string& pac_url,
                                                     const std::string& url,
                                                     GCancellable* cancellable) {
  constexpr int kPacAnswerTimeoutMs = 20000;
  if (!g_utf8_validate(pac_url.data(), static_cast<gssize>(pac_url.size()), nullptr) ||
      !g_utf8_validate(url.data(), static_cast<gssize>(url.size()), nullptr)) {
    return std::nullopt;
  }
  GDBusConnection* bus = PacBus(cancellable);
  if (bus == nullptr) return std::nullopt;
  GError* raw_error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.gtk.GLib.PACRunner", "/org/gtk/GLib/PACRunner", "org.gtk.GLib.PACRunner", "Lookup",
      g_variant_new("(ss)", pac_url.c_str(), url.c_str()), G_VARIANT_TYPE("(as)"),
      G_DBUS_CALL_FLAGS_NONE, kPacAnswerTimeoutMs, cancellable, &raw_error);
  std::unique_ptr<GError, ErrorDeleter> error(raw_error);
  if (reply == nullptr) return std::nullopt;
  gchar** raw_answers = nullptr;
  g_variant_get(reply, "(^as)", &raw_answers);
  g_variant_unref(reply);
  std::unique_ptr<gchar*, StrvDeleter> answers(raw_answers);
  std::vector<std::string> proxies;
  for (gchar** answer = answers.get(); answer != nullptr && *answer != nullptr; ++answer) {
    proxies.emplace_back(*answer);
  }
  return proxies;
}

// Plasma's settings, read again only when the file may have changed (another inode, size or
// modification time): a check costs one stat per question, and questions come once per origin
// and session, while a session of a browser's host may outlive many changes of the settings.
class KdeSettingsFile {
 public:
  std::optional<KdeProxySettings> Current() {
    const std::string path = std::string(g_get_user_config_dir()) + "/kioslaverc";
    struct stat now {};
    if (stat(path.c_str(), &now) != 0) {
      known_ = false;
      settings_.reset();
      return std::nullopt;
    }
    if (known_ && now.st_ino == seen_.st_ino && now.st_dev == seen_.st_dev &&
        now.st_size == seen_.st_size && now.st_mtim.tv_sec == seen_.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == seen_.st_mtim.tv_nsec) {
      return settings_;
    }
    known_ = Read(path);
    return settings_;
  }

 private:
  // Reads at most the bound from a regular file (never waits on a pipe put in its place).
  bool Read(const std::string& path) {
    settings_.reset();
    const ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) return false;
    std::string text;
    bool ok = fstat(fd.get(), &seen_) == 0 && S_ISREG(seen_.st_mode) &&
              seen_.st_size <= static_cast<off_t>(kKdeSettingsMaxBytes);
    if (ok) {
      text.resize(kKdeSettingsMaxBytes + 1);
      size_t have = 0;
      while (have < text.size()) {
        const ssize_t got = read(fd.get(), text.data() + have, text.size() - have);
        if (got < 0) ok = false;
        if (got <= 0) break;
        have += static_cast<size_t>(got);
      }
      text.resize(have);
    }
    if (ok) settings_ = ReadKdeProxySettings(text);
    return ok;
  }

  bool known_ = false;
  struct stat seen_ {};
  std::optional<KdeProxySettings> settings_;
};

ProxyChoice KdeLookup(std::string_view url, GCancellable* cancellable) {
  static KdeSettingsFile file;  // guarded by the lookup's gate
  const std::optional<KdeProxySettings> settings = file.Current();
  if (!settings) return {};
  const EnvironmentReader environment = [](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  return KdeProxyAnswer(*settings, url, environment,
                        [cancellable](const std::string& pac_url, const std::string& target) {
                          return AskPacRunner(pac_url, target, cancellable);
                        });
}

ProxyChoice GioLookup(const std::string& url, GCancellable* cancellable) {
  GProxyResolver* resolver = g_proxy_resolver_get_default();  // owned by GIO
  if (resolver == nullptr) return {};
  GError* raw_error = nullptr;
  std::unique_ptr<gchar*, StrvDeleter> answers(
      g_proxy_resolver_lookup(resolver, url.c_str(), cancellable, &raw_error));
  std::unique_ptr<GError, ErrorDeleter> error(raw_error);
  // A resolution that fails (no PAC script to be had, a broken one) leaves the choice to the
  // environment rather than stopping every transfer.
  if (!answers) return {};
  const bool settings_decide =
      std::strcmp(G_OBJECT_TYPE_NAME(resolver), kGnomeResolverType) == 0 && !GnomeModeIsNone();
  for (gchar** answer = answers.get(); *answer != nullptr; ++answer) {
    std::optional<ProxyChoice> choice = ParseProxyAnswer(*answer);
    if (!choice) continue;  // a kind of proxy the HTTP client cannot use: try the next
    if (choice->kind == ProxyChoice::Kind::kDirect && !settings_decide) return {};
    return *choice;
  }
  // Nothing usable offered: go direct rather than through a proxy nobody chose.
  return ProxyChoice::Direct();
}

// One lookup on its way, shared by the thread that asks for it and the one that asks the
// desktop.
struct PendingLookup {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;      // guarded by mutex
  bool given_up = false;  // guarded by mutex: the asking thread has stopped waiting
  ProxyChoice choice;     // guarded by mutex
};

// GIO's resolver is thread-safe, yet one question at a time: GLib's locks are futexes that
// ThreadSanitizer cannot see, and questions are rare (one per origin and session). A lookup
// given up on keeps the gate until it ends, released by its own thread.
std::binary_semaphore lookup_gate{1};
// Set while a lookup given up on is still on its way: it hangs where the next one would.
std::atomic<bool> hanging{false};

ProxyChoice Lookup(std::string_view url, std::chrono::milliseconds wait) {
  const Decider decider = WhoDecides();
  if (decider == Decider::kEnvironment) return {};
  if (hanging.load()) return {};
  const auto deadline = std::chrono::steady_clock::now() + wait;
  if (!lookup_gate.try_acquire_until(deadline)) return {};
  auto pending = std::make_shared<PendingLookup>();
  const std::shared_ptr<GCancellable> cancellable(g_cancellable_new(), ObjectDeleter());
  try {
    std::thread([pending, cancellable, decider, text = std::string(url)] {
      ProxyChoice choice = decider == Decider::kKde ? KdeLookup(text, cancellable.get())
                                                    : GioLookup(text, cancellable.get());
      {
        std::lock_guard lock(pending->mutex);
        pending->choice = std::move(choice);
        pending->done = true;
        if (pending->given_up) hanging.store(false);
      }
      pending->ended.notify_all();
      lookup_gate.release();
    }).detach();
  } catch (const std::system_error&) {  // no thread to be had: the environment decides
    lookup_gate.release();
    return {};
  }
  std::unique_lock lock(pending->mutex);
  if (pending->ended.wait_until(lock, deadline, [&] { return pending->done; })) {
    return pending->choice;
  }
  pending->given_up = true;
  hanging.store(true);
  g_cancellable_cancel(cancellable.get());
  return {};
}

}  // namespace

ProxyLookup DesktopProxyLookup(std::chrono::milliseconds wait) {
  return [wait](std::string_view url) { return Lookup(url, wait); };
}

}  // namespace qs::platform
