// The text of an upload's answer, which the server writes: read in pieces of any size, it
// decodes to the UTF-8 of the body up to its first zero byte (at most kMaxAnswerBytes of it),
// never holds a lone surrogate, and a body that breaks off gives the failure's text.
// Input: one byte choosing the read sizes (and, with its high bit, a break at the end), then
// the body.
#include <algorithm>
#include <cstring>

#include "fuzz_input.h"
#include "upload/http_upload_request.h"

namespace {

// A request whose answer is already there: the body handed out in pieces of varying size.
class CannedAnswer : public qs::platform::HttpPostRequest {
 public:
  CannedAnswer(std::string_view body, uint8_t step, bool breaks)
      : body_(body), step_(step), breaks_(breaks) {}

  qs::ErrorOr<void> Send(uint64_t) override { return {}; }
  qs::ErrorOr<void> Write(std::span<const std::byte>) override { return {}; }
  qs::ErrorOr<void> End() override { return {}; }
  uint32_t Status() const override { return 200; }
  qs::ErrorOr<size_t> Read(std::span<std::byte> buffer) override {
    if (body_.empty()) {
      if (breaks_) return qs::ErrorCode::kInternetTimeout;
      return size_t{0};
    }
    // Sizes cycle through 1 .. step+1, so short reads of every length come up.
    const size_t want = 1 + (reads_++ % (static_cast<size_t>(step_) + 1));
    const size_t n = std::min({want, buffer.size(), body_.size()});
    std::memcpy(buffer.data(), body_.data(), n);
    body_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view body_;
  uint8_t step_;
  bool breaks_;
  size_t reads_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  if (size < 1) return 0;
  const bool breaks = (data[0] & 0x80) != 0;
  const std::string_view body = fuzz::Bytes(data + 1, size - 1);

  HttpUploadRequest request;
  request.Reset(std::make_unique<CannedAnswer>(body, static_cast<uint8_t>(data[0] & 0x7F), breaks));
  std::u16string answer;
  const bool read = request.ReadAnswer(answer);
  if (breaks && body.size() < kMaxAnswerBytes) {
    QSFT_FUZZ_CHECK(!read && !answer.empty());
    return 0;
  }
  QSFT_FUZZ_CHECK(read);
  std::string_view text = body.substr(0, kMaxAnswerBytes);
  text = text.substr(0, text.find('\0'));
  QSFT_FUZZ_CHECK(answer == FromUtf8(text));
  return 0;
}
