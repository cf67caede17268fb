// Host names to their ASCII form: a converted host is always a valid sequence of STD3 labels,
// an all-ASCII host comes back unchanged, and the capacity a caller gives is honoured.
// Input: the host.
#include "fuzz_input.h"
#include "platform/host_names.h"
#include "url/scheme_and_host.h"

namespace {

bool IsLabelCharacter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
}

// Labels of 1 to 63 characters from a-z, 0-9 and "-", none beginning or ending with "-".
bool IsStd3Host(std::u16string_view host) {
  size_t start = 0;
  while (true) {
    const size_t dot = host.find(u'.', start);
    const std::u16string_view label =
        host.substr(start, dot == std::u16string_view::npos ? host.npos : dot - start);
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == u'-' || label.back() == u'-') return false;
    for (char16_t c : label) {
      if (!IsLabelCharacter(c)) return false;
    }
    if (dot == std::u16string_view::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  const std::u16string host = fuzz::Utf16(fuzz::Bytes(data, size));

  auto ascii = platform::HostNameToAscii(host);
  if (platform::IsAsciiHost(host)) {
    QSFT_FUZZ_CHECK(ascii.ok() && *ascii == host);
  } else if (ascii.ok()) {
    QSFT_FUZZ_CHECK(IsStd3Host(*ascii));
  } else {
    QSFT_FUZZ_CHECK(ascii.code() == 123 || ascii.code() == 8);
  }

  // The same conversion behind a caller's buffer of a size taken from the input.
  const size_t capacity = size % 300;
  std::u16string in_place = host;
  const uint32_t code = HostToAscii(&in_place, capacity);
  if (code == 0) {
    QSFT_FUZZ_CHECK(ascii.ok() && in_place == *ascii);
    // An all-ASCII host is left as it is, whatever the capacity.
    QSFT_FUZZ_CHECK(platform::IsAsciiHost(host) || in_place.size() < capacity);
  } else {
    QSFT_FUZZ_CHECK(in_place == host);
  }
  return 0;
}
