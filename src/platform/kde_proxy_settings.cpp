// Reading Plasma's proxy settings (through GLib's key-file reader) and answering per URL.
#include "platform/kde_proxy_settings.h"

#include <arpa/inet.h>
#include <glib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include <curl/curl.h>

#include "platform/http_curl.h"

namespace qs::platform {

namespace {

using curl::CurlText;
using curl::LowerAscii;
using curl::UrlDeleter;

constexpr char kGroup[] = "Proxy Settings";
constexpr size_t kMaxValueLength = 4096;

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// The lines of the one group that matters, as a key file of their own. KDE's files may hold
// what GLib's reader refuses ("[Group][$i]", "key[$e]=", lines without "="), and one refused
// line would lose the whole file.
std::string ProxyGroupText(std::string_view file_text) {
  std::string group = std::string("[") + kGroup + "]\n";
  bool inside = false;
  while (!file_text.empty()) {
    const size_t end = file_text.find('\n');
    std::string_view line = Trim(file_text.substr(0, end));
    file_text.remove_prefix(end == std::string_view::npos ? file_text.size() : end + 1);
    if (line.starts_with('[')) {
      const size_t close = line.find(']');
      inside = close != std::string_view::npos && line.substr(1, close - 1) == kGroup;
      continue;
    }
    const size_t equals = line.find('=');
    if (!inside || equals == std::string_view::npos || line.find('\0') != std::string_view::npos) {
      continue;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty() || key.find('[') != std::string_view::npos) continue;  // localised, expanded
    group.append(line).push_back('\n');
  }
  return group;
}

// The value of `key`: empty when absent, nothing when it does not read (bad escape, not UTF-8,
// too long).
std::optional<std::string> Value(GKeyFile* file, const char* key) {
  if (!g_key_file_has_key(file, kGroup, key, nullptr)) return std::string();
  GError* error = nullptr;
  gchar* raw = g_key_file_get_string(file, kGroup, key, &error);
  if (error != nullptr) g_error_free(error);
  if (raw == nullptr) return std::nullopt;
  std::string value(Trim(raw));
  g_free(raw);
  if (value.size() > kMaxValueLength || HasControl(value)) return std::nullopt;
  return value;
}

// The parts of the URL a request goes to.
struct Target {
  std::string scheme;
  std::string host;  // lower case, IPv6 without brackets
  long port = 0;
};

std::optional<Target> SplitTarget(std::string_view url) {
  const std::string text(url);
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  CurlText scheme, host, port;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host.text, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  Target target;
  target.scheme = LowerAscii(scheme.text);
  target.host = LowerAscii(host.text);
  if (target.host.size() > 2 && target.host.front() == '[' && target.host.back() == ']') {
    target.host = target.host.substr(1, target.host.size() - 2);
  }
  if (curl_url_get(parsed.get(), CURLUPART_PORT, &port.text, CURLU_DEFAULT_PORT) == CURLUE_OK) {
    target.port = std::strtol(port.text, nullptr, 10);
  }
  return target;
}

// An IP address in network order, 4 or 16 bytes; nothing for a name.
std::optional<std::vector<unsigned char>> Address(const std::string& text) {
  std::array<unsigned char, 16> bytes{};
  if (inet_pton(AF_INET, text.c_str(), bytes.data()) == 1) {
    return std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4);
  }
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1) {
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
  }
  return std::nullopt;
}

// "10.0.0.0/8", "fd00::/8": whether the address `host` lies in it. No name is looked up.
bool InSubnet(const std::string& entry, const std::string& host) {
  const size_t slash = entry.find('/');
  const auto network = Address(entry.substr(0, slash));
  const auto address = Address(host);
  if (!network || !address || network->size() != address->size()) return false;
  const std::string bits_text = entry.substr(slash + 1);
  if (bits_text.empty() || bits_text.size() > 3 ||
      !std::all_of(bits_text.begin(), bits_text.end(),
                   [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const size_t bits = std::stoul(bits_text);
  if (bits > network->size() * 8) return false;
  for (size_t i = 0; i < bits; ++i) {
    const unsigned char mask = static_cast<unsigned char>(0x80 >> (i % 8));
    if (((*network)[i / 8] & mask) != ((*address)[i / 8] & mask)) return false;
  }
  return true;
}

// Whether one entry of a list of hosts that go direct names the target: "host", ".domain" and
// "*.domain" (the domain's hosts; "domain" itself matches them too), "host:port", an address or
// subnet, "<local>" (names without a dot), "*" (all). A name matches only whole labels:
// "corp.example" does not name "evilcorp.example".
bool Names(std::string entry, const Target& target) {
  entry = LowerAscii(std::string(Trim(entry)));
  if (entry.empty()) return false;
  if (entry == "*") return true;
  if (entry == "<local>") {
    return !target.host.empty() && target.host.find_first_of(".:") == std::string::npos;
  }
  if (entry.find('/') != std::string::npos) return InSubnet(entry, target.host);
  if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']') {
    entry = entry.substr(1, entry.size() - 2);
  }
  if (Address(entry)) return Address(target.host) == Address(entry);
  // "host:port" (an IPv6 address has more than one colon and was taken above).
  if (const size_t colon = entry.rfind(':'); colon != std::string::npos) {
    const std::string port = entry.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stol(port) != target.port) {
      return false;
    }
    entry.resize(colon);
    if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']') {
      entry = entry.substr(1, entry.size() - 2);
    }
  }
  if (entry.starts_with("*.")) entry.erase(0, 2);
  if (entry.starts_with('.')) entry.erase(0, 1);
  if (entry.empty()) return false;
  return target.host == entry ||
         (target.host.size() > entry.size() && target.host.ends_with(entry) &&
          target.host[target.host.size() - entry.size() - 1] == '.');
}

bool Listed(std::string_view list, const Target& target) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (Names(std::string(list.substr(0, comma)), target)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// A proxy as a setting or a variable writes it: "http://host 8080", "http://host:8080",
// "host:8080"; `scheme` is used when none is written (and always for a SOCKS setting, which
// names a SOCKS proxy whatever it says). Nothing when it does not read as a proxy.
std::optional<ProxyChoice> ProxyFrom(std::string_view written, std::string_view scheme,
                                     bool force_scheme) {
  std::string text(Trim(written));
  if (text.empty() || HasControl(text)) return std::nullopt;
  if (const size_t space = text.find_last_of(" \t"); space != std::string::npos) {
    const std::string port = text.substr(space + 1);
    const std::string host(Trim(std::string_view(text).substr(0, space)));
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        host.find_first_of(" \t") != std::string::npos) {
      return std::nullopt;
    }
    text = host + ":" + port;
  }
  const size_t separator = text.find("://");
  if (force_scheme || separator == std::string::npos) {
    text = std::string(scheme) + "://" +
           (separator == std::string::npos ? text : text.substr(separator + 3));
  }
  std::optional<ProxyChoice> choice = ParseProxyAnswer(text);
  if (!choice || choice->kind != ProxyChoice::Kind::kProxy) return std::nullopt;
  if (choice->url.ends_with(":0")) return std::nullopt;
  return choice;
}

// The setting for a URL's scheme, or the SOCKS one when the scheme has none: the proxy, a direct
// connection when neither is set, the environment when the one that is set does not read.
ProxyChoice ManualChoice(std::string_view for_scheme, std::string_view socks) {
  if (!for_scheme.empty()) {
    auto choice = ProxyFrom(for_scheme, "http", false);
    return choice ? *choice : ProxyChoice();
  }
  if (!socks.empty()) {
    auto choice = ProxyFrom(socks, "socks", true);
    return choice ? *choice : ProxyChoice();
  }
  return ProxyChoice::Direct();
}

bool IsVariableName(std::string_view name) {
  if (name.empty() || name.size() > 256 || (name.front() >= '0' && name.front() <= '9')) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

const std::string& ForScheme(const KdeProxySettings& settings, const std::string& scheme) {
  static const std::string none;
  if (scheme == "http") return settings.http;
  if (scheme == "https") return settings.https;
  if (scheme == "ftp") return settings.ftp;
  return none;
}

bool PacUrlAcceptable(const std::string& url) {
  const std::string lower = LowerAscii(url);
  return !url.empty() && url.size() <= kMaxValueLength && !HasControl(url) &&
         url.find(' ') == std::string::npos &&
         (lower.starts_with("http://") || lower.starts_with("https://") ||
          lower.starts_with("file://"));
}

ProxyChoice AutomaticChoice(const std::string& pac_url, std::string_view url,
                            const PacRunner& pac) {
  if (!PacUrlAcceptable(pac_url) || !pac) return {};
  const std::optional<std::vector<std::string>> answers = pac(pac_url, std::string(url));
  if (!answers) return {};
  for (const std::string& answer : *answers) {
    if (std::optional<ProxyChoice> choice = ParseProxyAnswer(answer)) return *choice;
  }
  // Nothing usable offered: go direct rather than through a proxy nobody chose.
  return ProxyChoice::Direct();
}

ProxyChoice EnvironmentChoice(const KdeProxySettings& settings, const Target& target,
                              const EnvironmentReader& environment) {
  auto read = [&](const std::string& name) -> std::optional<std::string> {
    if (name.empty()) return std::string();
    if (!IsVariableName(name) || !environment) return std::nullopt;
    std::optional<std::string> value = environment(name);
    if (value && value->size() > kMaxValueLength) return std::nullopt;
    return value ? std::move(value) : std::string();
  };
  const std::optional<std::string> exceptions = read(settings.no_proxy_for);
  const std::optional<std::string> for_scheme = read(ForScheme(settings, target.scheme));
  const std::optional<std::string> socks = read(settings.socks);
  if (!exceptions || !for_scheme || !socks) return {};
  if (Listed(*exceptions, target)) return ProxyChoice::Direct();
  return ManualChoice(*for_scheme, *socks);
}

}  // namespace

std::optional<KdeProxySettings> ReadKdeProxySettings(std::string_view file_text) {
  if (file_text.size() > kKdeSettingsMaxBytes) return std::nullopt;
  const std::string group = ProxyGroupText(file_text);
  std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
  GError* error = nullptr;
  if (!g_key_file_load_from_data(file.get(), group.data(), group.size(), G_KEY_FILE_NONE, &error)) {
    g_error_free(error);
    return std::nullopt;
  }
  const std::optional<std::string> type = Value(file.get(), "ProxyType");
  if (!type || type->size() != 1 || (*type)[0] < '0' || (*type)[0] > '4') return std::nullopt;
  KdeProxySettings settings;
  settings.mode = static_cast<KdeProxySettings::Mode>((*type)[0] - '0');
  const std::pair<const char*, std::string*> fields[] = {
      {"httpProxy", &settings.http},
      {"httpsProxy", &settings.https},
      {"ftpProxy", &settings.ftp},
      {"socksProxy", &settings.socks},
      {"Proxy Config Script", &settings.pac_url},
      {"NoProxyFor", &settings.no_proxy_for},
  };
  for (const auto& [key, field] : fields) {
    std::optional<std::string> value = Value(file.get(), key);
    if (!value) return std::nullopt;
    *field = std::move(*value);
  }
  const std::optional<std::string> reversed = Value(file.get(), "ReversedException");
  if (!reversed) return std::nullopt;
  const std::string flag = LowerAscii(*reversed);
  settings.reversed = flag == "true" || flag == "1" || flag == "yes" || flag == "on";
  return settings;
}

ProxyChoice KdeProxyAnswer(const KdeProxySettings& settings, std::string_view url,
                           const EnvironmentReader& environment, const PacRunner& pac) {
  const std::optional<Target> target = SplitTarget(url);
  if (!target) return {};
  switch (settings.mode) {
    case KdeProxySettings::Mode::kNone: return {};
    case KdeProxySettings::Mode::kAutomatic: return AutomaticChoice(settings.pac_url, url, pac);
    case KdeProxySettings::Mode::kDetect: return AutomaticChoice(kWpadScriptUrl, url, pac);
    case KdeProxySettings::Mode::kEnvironment:
      return EnvironmentChoice(settings, *target, environment);
    case KdeProxySettings::Mode::kManual: break;
  }
  // Listed hosts go direct; reversed, only the listed hosts use the proxy.
  if (Listed(settings.no_proxy_for, *target) != settings.reversed) return ProxyChoice::Direct();
  return ManualChoice(ForScheme(settings, target->scheme), settings.socks);
}

}  // namespace qs::platform
