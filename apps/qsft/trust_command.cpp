// qsft trust: the user's trusted-sites list, which gives browser pages the trusted-sites zone.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "qsft/commands.h"
#include "trust/trusted_sites.h"

namespace qs::app {

namespace {

constexpr const char kTrustHelp[] =
    "usage: qsft trust add PATTERN | remove PATTERN | list\n"
    "\n"
    "Pages shown in a browser lie in the trusted-sites zone when their host matches this list;\n"
    "all others lie in the internet zone. PATTERN is a host (\"dms.example\", http and https\n"
    "on any port), a pattern \"*.example\" (that domain and every host below it) or an address\n"
    "with a scheme (\"https://dms.example\", that scheme only). \"list\" prints the\n"
    "administrator's entries (marked \"policy\") and then the user's.\n";

}  // namespace

int TrustMain(std::span<char*> args) {
  if (args.size() == 2 && std::strcmp(args[1], "list") == 0) {
    for (const auto& e : ReadPolicyTrustedSites()) std::printf("policy %s\n", ToUtf8(e).c_str());
    for (const auto& e : ReadUserTrustedSites()) std::printf("user   %s\n", ToUtf8(e).c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (args.size() == 3 && std::strcmp(args[1], "add") == 0) {
    auto r = AddUserTrustedSite(FromUtf8(args[2]));
    if (r.ok()) return 0;
    if (r.code() == 87) {
      std::fprintf(stderr, "qsft trust: '%s' matches no page\n", args[2]);
    } else {
      std::fprintf(stderr, "qsft trust: cannot write the settings store (error %u)\n", r.code());
    }
    return 1;
  }
  if (args.size() == 3 && std::strcmp(args[1], "remove") == 0) {
    auto r = RemoveUserTrustedSite(FromUtf8(args[2]));
    if (r.ok()) return 0;
    if (r.code() == 2) {
      std::fprintf(stderr, "qsft trust: '%s' is not in the user's list\n", args[2]);
    } else {
      std::fprintf(stderr, "qsft trust: cannot write the settings store (error %u)\n", r.code());
    }
    return 1;
  }
  const bool help =
      args.size() == 2 && (std::strcmp(args[1], "--help") == 0 || std::strcmp(args[1], "-h") == 0);
  std::fputs(kTrustHelp, help ? stdout : stderr);
  return help ? 0 : 2;
}

}  // namespace qs::app
