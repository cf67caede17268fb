#include "qsft/native_framing.h"

#include <cstdint>
#include <cstring>
#include <istream>

namespace qs::app {

FrameStatus ReadFrame(std::istream& in, size_t max_bytes, std::string& message) {
  message.clear();
  char prefix[4];
  if (!in.read(prefix, sizeof prefix)) return FrameStatus::kEnd;
  uint32_t length = 0;
  std::memcpy(&length, prefix, sizeof length);
  if (length > max_bytes) {
    // Skipped in bounded steps: a hostile length costs time, never memory.
    char sink[4096];
    uint64_t left = length;
    while (left > 0) {
      const auto step = static_cast<std::streamsize>(left < sizeof sink ? left : sizeof sink);
      if (!in.read(sink, step)) return FrameStatus::kEnd;
      left -= static_cast<uint64_t>(step);
    }
    return FrameStatus::kTooLong;
  }
  message.resize(length);
  if (length > 0 && !in.read(message.data(), static_cast<std::streamsize>(length))) {
    message.clear();
    return FrameStatus::kEnd;
  }
  return FrameStatus::kMessage;
}

std::string EncodeFrame(std::string_view message) {
  const auto length = static_cast<uint32_t>(message.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(message);
  return frame;
}

}  // namespace qs::app
