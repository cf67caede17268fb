// The language pack reader, which reads files the server sent: the signed structure, then the
// table of texts inside it. Neither may crash or read out of bounds; whatever decodes must
// encode back to the same bytes (the layout has one form only), and its texts must keep within
// the loader's limits. A first byte of 0 feeds the rest to the table reader directly, so that it
// is fuzzed without a signature in the way.
#include "fuzz_input.h"
#include "platform/signed_content.h"
#include "resources/language_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  if (size < 1) return 0;
  const std::string_view input = fuzz::Bytes(data + 1, size - 1);
  std::string content;
  if (data[0] == 0) {
    content = input;
  } else {
    const platform::SignedContentCheck check = platform::CheckSignedContent(input);
    QSFT_FUZZ_CHECK(!check.trusted || check.signature_valid);
    if (!check.readable) return 0;
    content = check.content;
  }
  const std::optional<LanguagePack> pack = DecodeLanguagePack(content);
  if (!pack) return 0;
  for (const auto& [id, text] : pack->texts) QSFT_FUZZ_CHECK(text.size() <= kMaxPackTextLength);
  QSFT_FUZZ_CHECK(EncodeLanguagePack(*pack) == content);
  return 0;
}
