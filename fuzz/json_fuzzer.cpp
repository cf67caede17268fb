// The `qsft host` request reader: whatever arrives on a line, the reader answers with a value or
// an error within its limits, and every value it accepts is written back as text that reads as
// the same value, on one line.
#include "fuzz_input.h"
#include "qsft/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  const std::string_view text = fuzz::Bytes(data, size);
  json::Limits limits;
  limits.max_bytes = 64 * 1024;
  limits.max_depth = 16;
  auto parsed = json::Parse(text, limits);
  if (auto* error = std::get_if<json::ParseError>(&parsed)) {
    QSFT_FUZZ_CHECK(error->column >= 1 && error->column <= text.size() + 1);
    (void)error->ToString();
    return 0;
  }
  const json::Value& value = std::get<json::Value>(parsed);
  const std::string written = json::Write(value);
  QSFT_FUZZ_CHECK(written.find('\n') == std::string::npos);
  json::Limits unbounded;
  unbounded.max_bytes = written.size() + 1;
  auto again = json::Parse(written, unbounded);
  QSFT_FUZZ_CHECK(std::holds_alternative<json::Value>(again));
  QSFT_FUZZ_CHECK(std::get<json::Value>(again) == value);
  QSFT_FUZZ_CHECK(json::Write(std::get<json::Value>(again)) == written);

  (void)value.AsInteger(INT32_MIN, INT32_MAX);
  (void)value.Find(u"op");
  return 0;
}
