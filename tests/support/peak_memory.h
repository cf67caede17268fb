// The process's peak resident size, for tests that a transfer streams rather than gathers.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace qs::testing {

// Under the sanitizers the peak says nothing about what the code held at once: AddressSanitizer
// keeps freed memory in quarantine and ThreadSanitizer's own bookkeeping counts as resident.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kPeakMeasuresLiveMemory = false;
#else
inline constexpr bool kPeakMeasuresLiveMemory = true;
#endif

// The process's peak resident size so far (VmHWM), in KiB; nothing when unreadable.
inline std::optional<uint64_t> PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6));
  }
  return std::nullopt;
}

}  // namespace qs::testing
