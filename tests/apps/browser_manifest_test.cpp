#include "qsft/browser_manifest.h"

#include <gtest/gtest.h>

namespace qs::app {
namespace {

TEST(BrowserManifest, WhereEachBrowserLooks) {
  ManifestPlace user{false, {}, "/home/u"};
  const std::string file = "/com.tarnholt.quillstone.filetransfer.json";
  EXPECT_EQ(HostManifestPath(Browser::kChromium, user),
            "/home/u/.config/chromium/NativeMessagingHosts" + file);
  EXPECT_EQ(HostManifestPath(Browser::kChrome, user),
            "/home/u/.config/google-chrome/NativeMessagingHosts" + file);
  EXPECT_EQ(HostManifestPath(Browser::kFirefox, user),
            "/home/u/.mozilla/native-messaging-hosts" + file);
  ManifestPlace system{true, {}, "/home/u"};
  EXPECT_EQ(HostManifestPath(Browser::kChromium, system),
            "/etc/chromium/native-messaging-hosts" + file);
  EXPECT_EQ(HostManifestPath(Browser::kFirefox, system),
            "/usr/lib/mozilla/native-messaging-hosts" + file);
  // A Chromium profile folder has its own; Firefox has no such thing.
  ManifestPlace profile{false, "/tmp/p", "/home/u"};
  EXPECT_EQ(HostManifestPath(Browser::kChromium, profile), "/tmp/p/NativeMessagingHosts" + file);
  EXPECT_EQ(HostManifestPath(Browser::kFirefox, profile), "");
  EXPECT_FALSE(ParseBrowser("Chromium").has_value());
}

TEST(BrowserManifest, AllowsTheExtensionOnly) {
  EXPECT_EQ(
      HostManifestJson(Browser::kChromium, "/usr/bin/qsft-browser-host"),
      R"({"name":"com.tarnholt.quillstone.filetransfer","description":"Quillstone web file-transfer control",)"
      R"("path":"/usr/bin/qsft-browser-host","type":"stdio",)"
      R"("allowed_origins":["chrome-extension://hikdmaojcgophhpmcnggcphghpcfkoah/"]})"
      "\n");
  EXPECT_NE(HostManifestJson(Browser::kFirefox, "/x")
                .find(R"("allowed_extensions":["filetransfer@quillstone.tarnholt.example"])"),
            std::string::npos);
}

}  // namespace
}  // namespace qs::app
