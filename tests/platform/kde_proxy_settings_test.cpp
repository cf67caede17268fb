#include "platform/kde_proxy_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace qs::platform {
namespace {

using Kind = ProxyChoice::Kind;

std::string Group(const std::string& lines) { return "[Proxy Settings]\n" + lines; }

// One line per case: the file, the URL asked for, and the choice that must come out. The
// environment and the PAC runner are fixed stand-ins (the PAC runner itself is exercised by the
// company-network tests).
TEST(KdeProxySettingsTest, FileAndUrlGiveTheDesktopsChoice) {
  const std::map<std::string, std::string> variables = {{"HTTP_PROXY", "http://10.0.0.9:3128"},
                                                        {"CORP_PROXY", "10.0.0.8 8080"},
                                                        {"NO_PROXY", "intra.example,10.1.0.0/16"},
                                                        {"BAD_PROXY", "ftp://x:21"},
                                                        {"EMPTY", ""}};
  const EnvironmentReader environment = [&](std::string_view name) -> std::optional<std::string> {
    auto it = variables.find(std::string(name));
    if (it == variables.end()) return std::nullopt;
    return it->second;
  };
  std::vector<std::string> pac_asked;
  const PacRunner pac = [&](const std::string& pac_url,
                            const std::string& url) -> std::optional<std::vector<std::string>> {
    pac_asked.push_back(pac_url + " " + url);
    if (pac_url.find("down") != std::string::npos) return std::nullopt;
    if (url.find("via.example") != std::string::npos) {
      return std::vector<std::string>{"use-proxy:", "http://10.0.0.7:3128", "direct://"};
    }
    return std::vector<std::string>{"direct://"};
  };
  const std::string manual = Group(
      "ProxyType=1\nhttpProxy=http://10.0.0.1 8080\nhttpsProxy=http://10.0.0.2:8443\n"
      "NoProxyFor=.corp.example,intra:8080,10.2.0.0/16,<local>,[::1]\n");
  struct Case {
    std::string file;
    const char* url;
    Kind kind;
    const char* proxy;
  };
  const Case cases[] = {
      // Manual, both forms of a proxy, per scheme; the listed hosts go direct.
      {manual, "http://files.example/x", Kind::kProxy, "http://10.0.0.1:8080"},
      {manual, "https://files.example/x", Kind::kProxy, "http://10.0.0.2:8443"},
      {manual, "http://a.corp.example/x", Kind::kDirect, ""},
      {manual, "http://corp.example/x", Kind::kDirect, ""},
      {manual, "http://evilcorp.example/x", Kind::kProxy, "http://10.0.0.1:8080"},
      {manual, "http://intra:8080/x", Kind::kDirect, ""},
      {manual, "http://intra.example:8080/x", Kind::kProxy, "http://10.0.0.1:8080"},
      {manual, "http://10.2.3.4/x", Kind::kDirect, ""},
      {manual, "http://10.3.0.1/x", Kind::kProxy, "http://10.0.0.1:8080"},
      {manual, "http://[::1]:81/x", Kind::kDirect, ""},
      {manual, "http://server/x", Kind::kDirect, ""},  // <local>: a name without a dot
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1 8080\nNoProxyFor=only.example\n"
             "ReversedException=true\n"),
       "http://x.only.example/", Kind::kProxy, "http://10.0.0.1:8080"},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1 8080\nNoProxyFor=only.example\n"
             "ReversedException=true\n"),
       "http://else.example/", Kind::kDirect, ""},
      // No proxy for the scheme: the SOCKS one, else direct.
      {Group("ProxyType=1\nhttpProxy=10.0.0.1 3128\nsocksProxy=http://10.0.0.5 1080\n"),
       "https://files.example/", Kind::kProxy, "socks5h://10.0.0.5:1080"},
      {Group("ProxyType=1\nhttpProxy=10.0.0.1 3128\n"), "http://f.example/", Kind::kProxy,
       "http://10.0.0.1:3128"},
      {Group("ProxyType=1\nhttpProxy=10.0.0.1 3128\n"), "https://f.example/", Kind::kDirect, ""},
      // A group of KDE's own syntax around it does not spoil the file.
      {"[General]\nnot a pair\n[Proxy Settings][$i]\nProxyType=1\nhttpProxy[$e]=$HOME\n"
       "httpProxy=http://10.0.0.1 8080\n[Other]\nProxyType=0\n",
       "http://f.example/", Kind::kProxy, "http://10.0.0.1:8080"},
      // None, automatic and detecting.
      {Group("ProxyType=0\nhttpProxy=http://10.0.0.1 8080\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=2\nProxy Config Script=http://pac.example/p.pac\n"), "http://via.example/x",
       Kind::kProxy, "http://10.0.0.7:3128"},
      {Group("ProxyType=2\nProxy Config Script=file:///etc/p.pac\n"), "http://f.example/x",
       Kind::kDirect, ""},
      {Group("ProxyType=2\nProxy Config Script=http://down.example/p.pac\n"),
       "http://via.example/x", Kind::kEnvironment, ""},
      {Group("ProxyType=3\n"), "http://via.example/x", Kind::kProxy, "http://10.0.0.7:3128"},
      // The environment's variables, by name.
      {Group("ProxyType=4\nhttpProxy=HTTP_PROXY\nhttpsProxy=CORP_PROXY\nNoProxyFor=NO_PROXY\n"),
       "http://f.example/", Kind::kProxy, "http://10.0.0.9:3128"},
      {Group("ProxyType=4\nhttpProxy=HTTP_PROXY\nhttpsProxy=CORP_PROXY\nNoProxyFor=NO_PROXY\n"),
       "https://f.example/", Kind::kProxy, "http://10.0.0.8:8080"},
      {Group("ProxyType=4\nhttpProxy=HTTP_PROXY\nNoProxyFor=NO_PROXY\n"), "http://10.1.2.3/",
       Kind::kDirect, ""},
      {Group("ProxyType=4\nhttpProxy=UNSET_PROXY\n"), "http://f.example/", Kind::kDirect, ""},
      {Group("ProxyType=4\nhttpProxy=EMPTY\n"), "http://f.example/", Kind::kDirect, ""},
      // Odd and hostile values: no proxy from the file, never a guess.
      {Group("ProxyType=4\nhttpProxy=BAD_PROXY\n"), "http://f.example/", Kind::kEnvironment, ""},
      {Group("ProxyType=4\nhttpProxy=http://10.0.0.1:3128\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=4\nhttpProxy=HTTP_PROXY\nNoProxyFor=$(reboot)\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1 80 80\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1 99999\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1 0\n"), "http://f.example/", Kind::kEnvironment,
       ""},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1:80 8080\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=1\nhttpProxy=ftp://10.0.0.1 21\n"), "http://f.example/", Kind::kEnvironment,
       ""},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1\\q 8080\n"), "http://f.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=1\nhttpProxy=direct://\n"), "http://f.example/", Kind::kEnvironment, ""},
      {Group("ProxyType=2\nProxy Config Script=javascript:alert(1)\n"), "http://via.example/",
       Kind::kEnvironment, ""},
      {Group("ProxyType=2\n"), "http://via.example/", Kind::kEnvironment, ""},
      {Group("ProxyType=1\nhttpProxy=http://10.0.0.1 8080\n") + std::string("\0junk\n", 6),
       "http://f.example/", Kind::kProxy, "http://10.0.0.1:8080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " | " + c.url);
    const std::optional<KdeProxySettings> settings = ReadKdeProxySettings(c.file);
    ASSERT_TRUE(settings.has_value());
    const ProxyChoice choice = KdeProxyAnswer(*settings, c.url, environment, pac);
    EXPECT_EQ(choice.kind, c.kind);
    EXPECT_EQ(choice.url, c.proxy);
  }
  // A detecting setting asks for the network's own script; PAC is asked only when set.
  EXPECT_NE(std::find(pac_asked.begin(), pac_asked.end(),
                      std::string(kWpadScriptUrl) + " http://via.example/x"),
            pac_asked.end());
  EXPECT_EQ(pac_asked.size(), 4u);

  // Files that say nothing usable.
  const std::string unusable[] = {
      "",
      "ProxyType=1\n",  // outside the group
      Group("httpProxy=http://10.0.0.1 8080\n"),
      Group("ProxyType=5\n"),
      Group("ProxyType=-1\n"),
      Group("ProxyType=1x\n"),
      Group("ProxyType=1\nhttpProxy=http://10.0.0.1\\n 8080\n"),  // a line break in a value
      Group("ProxyType=1\nhttpProxy=http://\xff\xfe 8080\n"),     // not UTF-8
      Group("ProxyType=1\nhttpProxy=http://" + std::string(5000, 'a') + " 8080\n"),
      Group("ProxyType=1\nNoProxyFor=" + std::string(kKdeSettingsMaxBytes, 'a') + "\n"),
  };
  for (const std::string& file : unusable) {
    SCOPED_TRACE(file.substr(0, 80));
    EXPECT_FALSE(ReadKdeProxySettings(file).has_value());
  }
}

}  // namespace
}  // namespace qs::platform
