#include "platform/http_trace.h"

#include <atomic>
#include <mutex>

namespace qs::platform {

namespace {

std::mutex g_mutex;
HttpTraceSink g_sink;
std::atomic<bool> g_details{false};

}  // namespace

void SetHttpTraceSink(HttpTraceSink sink, bool details) {
  std::lock_guard lock(g_mutex);
  g_details.store(details && static_cast<bool>(sink), std::memory_order_relaxed);
  g_sink = std::move(sink);
}

bool HttpTraceDetails() { return g_details.load(std::memory_order_relaxed); }

void HttpTrace(HttpTraceLevel level, std::string_view line) {
  if (level == HttpTraceLevel::kDetail && !HttpTraceDetails()) return;
  std::lock_guard lock(g_mutex);
  if (g_sink) g_sink(level, line);
}

}  // namespace qs::platform
