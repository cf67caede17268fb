// qsft-proxy-bench: what choosing a proxy costs a request, in the desktop world it runs in
// (run it with the proxy settings to measure: XDG_CURRENT_DESKTOP=GNOME, GSETTINGS_BACKEND,
// XDG_CONFIG_HOME; or XDG_CURRENT_DESKTOP=KDE with a kioslaverc in XDG_CONFIG_HOME; a PAC script
// needs the session bus).
//
//   qsft-proxy-bench URL [N]   N lookups (default 200): the first, then the desktop's answer
//                              for new hosts, then the session's cached answer per request
//
// Prints one line of "key=value" pairs, times in microseconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/proxy_resolver.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qsft-proxy-bench URL [N]\n");
    return 2;
  }
  const std::string url = argv[1];
  const int n = argc > 2 ? std::atoi(argv[2]) : 200;
  if (n < 1) return 2;
  const qs::platform::ProxyLookup lookup = qs::platform::DesktopProxyLookup();

  auto start = Clock::now();
  const qs::platform::ProxyChoice first = lookup(url);
  const double first_us = MicrosSince(start);

  // New hosts: the desktop answers each (a PAC script runs for each).
  start = Clock::now();
  for (int i = 0; i < n; ++i) lookup("http://host" + std::to_string(i) + ".example/x");
  const double uncached_us = MicrosSince(start) / n;

  qs::platform::ProxyCache cache(lookup);
  cache.Choose("origin", url);
  start = Clock::now();
  for (int i = 0; i < n * 100; ++i) cache.Choose("origin", url);
  const double cached_us = MicrosSince(start) / (n * 100);

  std::printf("proxy=%s first_us=%.1f uncached_us=%.2f cached_us=%.3f\n", first.Describe().c_str(),
              first_us, uncached_us, cached_us);
  return 0;
}
