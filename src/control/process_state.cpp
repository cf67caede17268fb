#include "control/process_state.h"

#include <atomic>

#include "platform/final_path.h"

namespace qs {

namespace {
std::atomic<int> g_lookups{0};

ProcessState LookUp() {
  g_lookups.fetch_add(1, std::memory_order_relaxed);
  ProcessState state;
  state.final_path_lookup = platform::FinalPathLookupAvailable();
  return state;
}
}  // namespace

const ProcessState& EnsureProcessState() {
  static const ProcessState state = LookUp();
  return state;
}

int ProcessStateLookupsForTesting() { return g_lookups.load(std::memory_order_relaxed); }

}  // namespace qs
