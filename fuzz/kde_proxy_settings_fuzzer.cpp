// The user's kioslaverc as Plasma's proxy settings: any text reads as settings or as nothing,
// and the settings answer any URL with a direct connection, the environment, or a proxy the
// HTTP client can use, never a crash. Input: a URL on the first line, then the file's text.
#include "fuzz_input.h"
#include "platform/kde_proxy_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs::platform;
  const std::vector<std::string_view> pieces = qs::fuzz::Pieces(qs::fuzz::Bytes(data, size), 2);
  const std::optional<KdeProxySettings> settings = ReadKdeProxySettings(pieces[1]);
  if (!settings) return 0;
  // The file names the variables it reads; every one holds the file's own proxy setting, so
  // the answers get odd proxies to read as well.
  const EnvironmentReader environment = [&](std::string_view) -> std::optional<std::string> {
    return settings->http;
  };
  const PacRunner pac = [&](const std::string&,
                            const std::string&) -> std::optional<std::vector<std::string>> {
    return std::vector<std::string>{settings->https, settings->socks};
  };
  for (const std::string_view url : {pieces[0], std::string_view("http://files.example:8080/x"),
                                     std::string_view("https://[::1]/")}) {
    const ProxyChoice choice = KdeProxyAnswer(*settings, url, environment, pac);
    if (choice.kind == ProxyChoice::Kind::kProxy) {
      QSFT_FUZZ_CHECK(ParseProxyAnswer(choice.url).has_value());
      QSFT_FUZZ_CHECK(choice.url.find_first_of(" \t\r\n") == std::string::npos);
    } else {
      QSFT_FUZZ_CHECK(choice.url.empty());
    }
  }
  return 0;
}
