// The registry text import, which reads files administrators deploy: any bytes are parsed or
// refused with a line number, and every value set by a file that parses comes back unchanged
// when it is written as a line and read again.
#include "config/reg_file.h"
#include "fuzz_input.h"

#include <algorithm>
#include <vector>

namespace {

// Whether `text` survives being written as UTF-8 on one line of a file.
bool FitsOnALine(std::u16string_view text) {
  if (text.find_first_of(u"\r\n", 0) != std::u16string_view::npos) return false;
  if (text.find(u'\0') != std::u16string_view::npos) return false;
  return qs::FromUtf8(qs::ToUtf8(text)) == text;
}

void CheckValueComesBack(const qs::platform::SettingsOp& op) {
  using namespace qs;
  if (!FitsOnALine(op.key) || !FitsOnALine(op.name)) return;
  if (op.key.find_first_of(u"[]") != std::u16string::npos) return;
  const platform::NamedRegValue named{op.name, op.value};
  std::string file(kRegFileHeader);
  file += "\n\n[" + ToUtf8(FullKeyName(op.key)) + "]\n" + FormatRegValue(named) + "\n";
  const RegFileParse again = ParseRegFile(file);
  QSFT_FUZZ_CHECK(again.ok());
  bool found = false;
  for (const auto& back : again.ops) {
    if (back.kind != platform::SettingsOp::Kind::kSetValue) continue;
    QSFT_FUZZ_CHECK(!found);
    found = true;
    QSFT_FUZZ_CHECK(back.key == op.key);
    QSFT_FUZZ_CHECK(back.name == op.name);
    QSFT_FUZZ_CHECK(back.value.type == op.value.type);
    QSFT_FUZZ_CHECK(back.value.data == op.value.data);
  }
  QSFT_FUZZ_CHECK(found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  const std::string_view bytes = fuzz::Bytes(data, size);
  const RegFileParse parsed = ParseRegFile(bytes);

  // Read in small pieces, the file reads the same: no character, line end or byte-order mark
  // is lost where a piece ends.
  const size_t piece = size == 0 ? 1 : data[0] % 7 + 1;
  std::string_view rest = bytes;
  std::vector<platform::SettingsOp> ops;
  const RegFileRead read = ReadRegFile(
      [&](std::span<char> buffer) -> ErrorOr<size_t> {
        const size_t n = std::min({piece, buffer.size(), rest.size()});
        std::copy_n(rest.data(), n, buffer.data());
        rest.remove_prefix(n);
        return n;
      },
      [&](platform::SettingsOp op) -> ErrorOr<void> {
        ops.push_back(std::move(op));
        return {};
      });
  QSFT_FUZZ_CHECK(read.error_line == parsed.error_line);
  QSFT_FUZZ_CHECK(read.error == parsed.error);
  if (parsed.ok()) {
    QSFT_FUZZ_CHECK(ops.size() == parsed.ops.size());
    for (size_t i = 0; i < ops.size(); ++i) {
      QSFT_FUZZ_CHECK(ops[i].kind == parsed.ops[i].kind && ops[i].key == parsed.ops[i].key &&
                      ops[i].name == parsed.ops[i].name &&
                      ops[i].value.type == parsed.ops[i].value.type &&
                      ops[i].value.data == parsed.ops[i].value.data);
    }
  }
  if (!parsed.ok()) {
    QSFT_FUZZ_CHECK(parsed.ops.empty());
    QSFT_FUZZ_CHECK(!parsed.error.empty());
    return 0;
  }
  QSFT_FUZZ_CHECK(parsed.error.empty());
  for (const auto& op : parsed.ops) {
    if (op.kind == platform::SettingsOp::Kind::kSetValue) CheckValueComesBack(op);
  }

  // Key paths as administrators type them on the command line.
  const std::u16string text = fuzz::Utf16(bytes);
  if (auto relative = HiveRelativeKeyPath(text); relative.ok()) {
    auto again = HiveRelativeKeyPath(FullKeyName(*relative));
    QSFT_FUZZ_CHECK(again.ok() && *again == *relative);
  }
  return 0;
}
