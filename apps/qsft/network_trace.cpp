#include "qsft/network_trace.h"

#include <memory>
#include <set>
#include <string>

#include "platform/http_trace.h"

namespace qs::app {

NetworkTrace::NetworkTrace(std::ostream& out, bool verbose) {
  auto shown = std::make_shared<std::set<std::string>>();
  platform::SetHttpTraceSink(
      [&out, shown](platform::HttpTraceLevel, std::string_view line) {
        // Called under the trace's own lock, from the transfer's thread.
        if (!shown->emplace(line).second) return;
        out << "qsft: " << line << std::endl;
      },
      verbose);
}

NetworkTrace::~NetworkTrace() { platform::SetHttpTraceSink({}, false); }

}  // namespace qs::app
