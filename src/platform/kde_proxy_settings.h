// The proxy settings of a KDE Plasma session, and the answer they give for one URL.
//
// Plasma's System Settings keep the proxy in the group [Proxy Settings] of the user's
// kioslaverc ($XDG_CONFIG_HOME/kioslaverc):
//   ProxyType            0 none, 1 manual, 2 automatic (PAC), 3 detect (WPAD), 4 the
//                        environment's variables
//   httpProxy, httpsProxy, ftpProxy, socksProxy
//                        manual: "http://host 8080" (a space before the port, as System Settings
//                        write it) or "http://host:8080"; environment: the NAME of a variable
//   Proxy Config Script  automatic: the PAC script's URL
//   NoProxyFor           the comma list of hosts that go direct (environment: a variable's name)
//   ReversedException    manual: true when only the listed hosts use the proxy
// Proxy credentials are not kept there.
//
// The file is the user's and is read as untrusted text: bounded in size, and a value that does
// not read as what it should be gives no proxy (the choice falls back to the environment, as
// for "none"), never a guess.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/proxy_resolver.h"

namespace qs::platform {

// A kioslaverc larger than this is not read.
inline constexpr size_t kKdeSettingsMaxBytes = 256 * 1024;

struct KdeProxySettings {
  enum class Mode { kNone, kManual, kAutomatic, kDetect, kEnvironment };
  Mode mode = Mode::kNone;
  // As written (unescaped, trimmed); their meaning depends on the mode.
  std::string http, https, ftp, socks;
  std::string pac_url;
  std::string no_proxy_for;
  bool reversed = false;
};

// The [Proxy Settings] of a kioslaverc's text; nothing when the file says nothing usable (no
// such group, no or an unknown ProxyType, an over-long value, text that is not UTF-8). Lines
// the key-file reader cannot take (other groups' odd lines, KDE's "[$i]" markers) are passed
// over rather than spoiling the whole file.
std::optional<KdeProxySettings> ReadKdeProxySettings(std::string_view file_text);

// What a named environment variable holds; nothing when it is unset.
using EnvironmentReader = std::function<std::optional<std::string>(std::string_view name)>;
// The desktop's PAC runner: the proxies a script at `pac_url` offers for `url`, in the PAC
// runner's form ("direct://", "http://host:port"); nothing when the runner cannot be asked.
using PacRunner = std::function<std::optional<std::vector<std::string>>(const std::string& pac_url,
                                                                        const std::string& url)>;

// The URL a detecting (WPAD) setting fetches its script from: the host "wpad" in the network's
// own domain, as DNS completes the name.
inline constexpr char kWpadScriptUrl[] = "http://wpad/wpad.dat";

// The choice the settings give for an absolute URL, as the desktop's own programs would make it.
ProxyChoice KdeProxyAnswer(const KdeProxySettings& settings, std::string_view url,
                           const EnvironmentReader& environment, const PacRunner& pac);

}  // namespace qs::platform
