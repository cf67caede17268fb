// The desktop's proxy resolution through GIO's default proxy resolver.
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
#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

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

// Whether GIO's resolver follows the desktop's own settings here. Elsewhere GIO hands the
// question to libproxy, which loads its PAC engine (JavaScriptCore, several megabytes) into the
// process only to read the environment's variables, which the HTTP client reads by itself.
// GIO_USE_PROXY_RESOLVER names a resolver explicitly and is honoured as such.
bool DesktopDecides() {
  static const bool decides = [] {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const char* chosen = std::getenv("GIO_USE_PROXY_RESOLVER");
    return (desktop != nullptr && std::strstr(desktop, "GNOME") != nullptr) ||
           (chosen != nullptr && *chosen != '\0');
  }();
  return decides;
}

ProxyChoice Lookup(std::string_view url) {
  if (!DesktopDecides()) return {};
  // GIO's resolver is thread-safe, yet one question at a time: GLib's locks are futexes that
  // ThreadSanitizer cannot see, and questions are rare (one per origin and session).
  static std::mutex one_at_a_time;
  std::lock_guard lock(one_at_a_time);
  GProxyResolver* resolver = g_proxy_resolver_get_default();  // owned by GIO
  if (resolver == nullptr) return {};
  const std::string text(url);
  GError* raw_error = nullptr;
  std::unique_ptr<gchar*, StrvDeleter> answers(
      g_proxy_resolver_lookup(resolver, text.c_str(), nullptr, &raw_error));
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

}  // namespace

ProxyLookup DesktopProxyLookup() { return &Lookup; }

}  // namespace qs::platform
