// The browsers' native messaging framing: each message is a 4-byte length in the machine's own
// byte order followed by that many bytes of UTF-8 JSON.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace qs::app {

// Browsers drop the connection on a message to them of more than 1 MB.
inline constexpr size_t kMaxReplyBytes = 1024 * 1024;

enum class FrameStatus {
  kMessage,  // `message` holds one whole message
  kTooLong,  // longer than the limit: skipped to its end, nothing kept
  kEnd,      // the input ended (a frame cut short counts as the end)
};

FrameStatus ReadFrame(std::istream& in, size_t max_bytes, std::string& message);

// The length prefix and the message; the caller keeps replies within kMaxReplyBytes.
std::string EncodeFrame(std::string_view message);

}  // namespace qs::app
