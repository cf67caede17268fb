// The native messaging host manifests by which the browsers find qsft-browser-host.
//
// Each browser looks for "<kNativeHostName>.json" in folders of its own, for the user and for
// the whole system; a Chromium started with --user-data-dir=DIR looks in DIR/NativeMessagingHosts
// instead of the user's folder. The manifest allows the extension's fixed identity only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qs::app {

inline constexpr std::string_view kNativeHostName = "com.tarnholt.quillstone.filetransfer";
// The Chromium identity follows from the public key in the extension's manifest.json.
inline constexpr std::string_view kChromiumExtensionId = "hikdmaojcgophhpmcnggcphghpcfkoah";
inline constexpr std::string_view kFirefoxExtensionId = "filetransfer@quillstone.tarnholt.example";

enum class Browser { kChromium, kChrome, kFirefox };
std::optional<Browser> ParseBrowser(std::string_view name);

struct ManifestPlace {
  bool system = false;
  std::filesystem::path user_data_dir;  // Chromium and Chrome only; empty: the user's folder
  std::filesystem::path home;           // the user's home folder
};

// Where the browser reads the manifest; empty when `place` does not apply to the browser.
std::filesystem::path HostManifestPath(Browser browser, const ManifestPlace& place);

// The manifest naming `host_program` (an absolute path).
std::string HostManifestJson(Browser browser, const std::filesystem::path& host_program);

}  // namespace qs::app
