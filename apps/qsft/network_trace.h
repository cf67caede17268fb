// What the HTTP client tells a person during a command: always the refusals they can act on
// (a proxy or server that wants credentials), and with -v the proxy and the authentication
// scheme of every request. Lines go to `out` prefixed "qsft: ", a repeated line only once.
#pragma once

#include <ostream>

namespace qs::app {

class NetworkTrace {
 public:
  NetworkTrace(std::ostream& out, bool verbose);
  ~NetworkTrace();
  NetworkTrace(const NetworkTrace&) = delete;
  NetworkTrace& operator=(const NetworkTrace&) = delete;
};

}  // namespace qs::app
