#include "qsft/browser_manifest.h"

#include "base/text.h"
#include "qsft/json.h"

namespace qs::app {

std::optional<Browser> ParseBrowser(std::string_view name) {
  if (name == "chromium") return Browser::kChromium;
  if (name == "chrome") return Browser::kChrome;
  if (name == "firefox") return Browser::kFirefox;
  return std::nullopt;
}

std::filesystem::path HostManifestPath(Browser browser, const ManifestPlace& place) {
  const std::string file = std::string(kNativeHostName) + ".json";
  if (!place.user_data_dir.empty()) {
    if (browser == Browser::kFirefox || place.system) return {};
    return place.user_data_dir / "NativeMessagingHosts" / file;
  }
  switch (browser) {
    case Browser::kChromium:
      return place.system ? std::filesystem::path("/etc/chromium/native-messaging-hosts") / file
                          : place.home / ".config/chromium/NativeMessagingHosts" / file;
    case Browser::kChrome:
      return place.system ? std::filesystem::path("/etc/opt/chrome/native-messaging-hosts") / file
                          : place.home / ".config/google-chrome/NativeMessagingHosts" / file;
    case Browser::kFirefox:
      return place.system ? std::filesystem::path("/usr/lib/mozilla/native-messaging-hosts") / file
                          : place.home / ".mozilla/native-messaging-hosts" / file;
  }
  return {};
}

std::string HostManifestJson(Browser browser, const std::filesystem::path& host_program) {
  json::Object m;
  m.emplace_back(u"name", json::Value::String(FromAscii(kNativeHostName)));
  m.emplace_back(u"description", json::Value::String(u"Quillstone web file-transfer control"));
  m.emplace_back(u"path", json::Value::String(FromUtf8(host_program.string())));
  m.emplace_back(u"type", json::Value::String(u"stdio"));
  json::Array allowed;
  if (browser == Browser::kFirefox) {
    allowed.push_back(json::Value::String(FromAscii(kFirefoxExtensionId)));
    m.emplace_back(u"allowed_extensions", json::Value::MakeArray(std::move(allowed)));
  } else {
    allowed.push_back(
        json::Value::String(u"chrome-extension://" + FromAscii(kChromiumExtensionId) + u"/"));
    m.emplace_back(u"allowed_origins", json::Value::MakeArray(std::move(allowed)));
  }
  return json::Write(json::Value::MakeObject(std::move(m))) + "\n";
}

}  // namespace qs::app
