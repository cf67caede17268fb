#include "config/reg_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_fixture.h"
#include "config/store_layout.h"
#include "qsft/reg_store_command.h"
#include "support/peak_memory.h"

namespace qs {
namespace {

using platform::SettingsKey;
using platform::SettingsOp;
using testing::Bytes;

struct RegRun {
  int status;
  std::string out;
  std::string err;
};

RegRun Reg(std::vector<std::string> args) {
  RegRun r{};
  r.status = RunRegCommand(
      args,
      [&](std::string_view text) {
        r.out += text;
        return true;
      },
      r.err);
  return r;
}

class RegFileTest : public testing::StoreTest {
 protected:
  RegRun Import(const std::string& bytes) {
    const auto file = dir_.path() / "import.reg";
    testing::WriteFile(file, bytes);
    return Reg({"import", file.string()});
  }
};

// What administrators deploy: the three policies, as a file written by hand (CRLF, HKCU prefix
// in one place, comments, a default value and escapes).
constexpr std::string_view kPolicyFile =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; Quillstone policies\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\r\n"
    "\"1\"=\"https://intranet.example\"\r\n"
    "\"2\"=\"*.docs.example\"\r\n"
    "\r\n"
    "[HKCU\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SafeWorkDirs]\r\n"
    "\"1\"=\"%LocalAppData%\\\\Work \\\"A\\\"\"\r\n"
    "\"2\"=hex(2):2f,00,64,00,00,00\r\n"
    "\r\n"
    "[SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\ZoneLock]\r\n"
    "\"TrustedZoneDisabled\"=dword:00000001\r\n"
    "@=\"default\"\r\n";

constexpr std::string_view kPolicyExport =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client]\n"
    "\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SafeWorkDirs]\n"
    "\"1\"=\"%LocalAppData%\\\\Work \\\"A\\\"\"\n"
    "\"2\"=hex(2):2f,00,64,00,00,00\n"
    "\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\n"
    "\"1\"=\"https://intranet.example\"\n"
    "\"2\"=\"*.docs.example\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\ZoneLock]\n"
    "\"TrustedZoneDisabled\"=dword:00000001\n"
    "@=\"default\"\n"
    "\n";

TEST_F(RegFileTest, PolicyFileImportsAndExportsTheSameValues) {
  RegRun imported = Import(std::string(kPolicyFile));
  ASSERT_EQ(imported.status, 0) << imported.err;

  // The readers see what the file says.
  EXPECT_EQ(ReadNumberedList(PolicyKeyPath(kSiteLock)),
            (std::vector<std::u16string>{u"https://intranet.example", u"*.docs.example"}));
  EXPECT_EQ(ReadNumberedList(PolicyKeyPath(kSafeWorkDirs)),
            (std::vector<std::u16string>{u"%LocalAppData%\\Work \"A\"", u"/d"}));
  EXPECT_EQ(ReadTrustedZoneDisabled(), 1u);

  RegRun exported =
      Reg({"export", "HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out, kPolicyExport);

  // The export imports into an empty store and exports again unchanged.
  ASSERT_EQ(Reg({"delete", "HKCU\\SOFTWARE"}).status, 0);
  EXPECT_EQ(SettingsKey::Open(PolicyKeyPath(kSiteLock)).code(), 2u);
  ASSERT_EQ(Import(exported.out).status, 0);
  EXPECT_EQ(Reg({"export", "software\\policies\\tarnholt\\quillstone web client"}).out,
            kPolicyExport);
}

TEST_F(RegFileTest, Utf16LittleEndianWithBomAndCrlfIsRead) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\r\n"
      u"\"1\"=\"https://b\u00fcro.example\"\r\n"
      u"\"2\"=hex(7):61,00,00,00,\\\r\n"
      u"  00,00\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  RegRun imported = Import(bytes);
  ASSERT_EQ(imported.status, 0) << imported.err;
  auto key = SettingsKey::Open(PolicyKeyPath(kSiteLock));
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(TextFromData(ReadRegValue(*key, u"1").value()), u"https://b\u00fcro.example");
  auto list = key->Query(u"2");
  ASSERT_TRUE(list.ok());
  EXPECT_EQ(list->type, platform::kRegMultiSz);
  EXPECT_EQ(list->data, Bytes({'a', 0, 0, 0, 0, 0}));

  // Export is UTF-8.
  RegRun exported =
      Reg({"export", "HKCU\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock"});
  EXPECT_NE(exported.out.find("\"1\"=\"https://b\xC3\xBCro.example\"\n"), std::string::npos);
}

TEST_F(RegFileTest, AFailedImportLeavesAnEmptyStoreWhereThereWasNoneAndKeepsOneThatWas) {
  const std::string bad =
      "Windows Registry Editor Version 5.00\n\n[New]\n\"a\"=dword:00000001\nnot a line\n";
  EXPECT_EQ(Import(bad).status, 1);
  EXPECT_EQ(SettingsKey::Open(u"New").code(), 2u);
  // The next writer finds a store it can use as if nothing had happened.
  ASSERT_EQ(Reg({"set", "Existing", "v", "REG_SZ", "old"}).status, 0);
  EXPECT_EQ(Import(bad).status, 1);
  EXPECT_EQ(Reg({"query", "Existing", "v"}).out, "\"v\"=\"old\"\n");
  EXPECT_EQ(SettingsKey::Open(u"New").code(), 2u);
}

TEST_F(RegFileTest, SyntaxErrorReportsItsLineAndAppliesNothing) {
  ASSERT_EQ(Reg({"set", "Existing", "v", "REG_SZ", "old"}).status, 0);
  const std::string file =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[-Existing]\n"
      "[New]\n"
      "\"a\"=\"fine\"\n"
      "\"b\"=hex:01,02,\\\n"
      "  03,zz\n"
      "\"c\"=\"never read\"\n";
  RegRun r = Import(file);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("import.reg:7: "), std::string::npos) << r.err;
  EXPECT_TRUE(SettingsKey::Open(u"Existing").ok());
  EXPECT_EQ(SettingsKey::Open(u"New").code(), 2u);
}

TEST_F(RegFileTest, ImportRefusesWhatTheRegistryRefusesAndHugeValuesWithTheirLine) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  std::string deep_path = "HKEY_CURRENT_USER";
  for (int i = 0; i < 513; ++i) deep_path += "\\k";
  std::string fits_path = "HKEY_CURRENT_USER";
  for (int i = 0; i < 512; ++i) fits_path += "\\k";
  // A string of 64 MiB (as the store keeps it, in UTF-16) on line 4.
  const std::string huge =
      header + "[Big]\n\"v\"=\"" + std::string(platform::kMaxImportedValueBytes / 2, 'x') + "\"\n";
  struct Case {
    std::string file;
    std::string error;
  };
  const Case cases[] = {
      {header + "[" + deep_path + "]\n", "import.reg:3: the key path is deeper than 512 levels"},
      {header + "[Long\\" + std::string(256, 'n') + "]\n",
       "import.reg:3: a key name is longer than 255 characters"},
      {header + "[Key]\n\"" + std::string(16384, 'v') + "\"=\"x\"\n",
       "import.reg:4: the value name is too long"},
      {huge, "import.reg:4: the value is larger than 64 MiB"},
  };
  for (const auto& c : cases) {
    RegRun r = Import(c.file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err.substr(0, 200);
  }
  EXPECT_EQ(SettingsKey::Open(u"Big").code(), 2u);
  EXPECT_EQ(SettingsKey::Open(u"k").code(), 2u);

  // The deepest path the registry takes imports, and the store refuses one level more.
  RegRun fits = Import(header + "[" + fits_path + "]\n\"v\"=dword:1\n");
  EXPECT_EQ(fits.status, 0) << fits.err;
  std::u16string deepest = u"k";
  for (int i = 1; i < 512; ++i) deepest += u"\\k";
  EXPECT_TRUE(SettingsKey::Open(deepest).ok());
  EXPECT_EQ(SettingsKey::Create(deepest + u"\\k").code(), 87u);
}

// Values far larger than the pieces the file is read in: each is read straight into its data
// and written into the store piece by piece, so an import's peak stays within twice the value.
TEST_F(RegFileTest, LargeValuesImportWithinTwiceTheirSize) {
  constexpr size_t kTextUnits = 6u << 20;  // 12 MiB of data from 18 MiB of UTF-8
  constexpr size_t kHexBytes = 8u << 20;   // from 24 MiB of "xx,"
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n[Large]\r\n";
  const auto text_file = dir_.path() / "text.reg";
  {
    std::ofstream out(text_file, std::ios::binary);
    out << header << "\"text\"=\"";
    std::string piece;
    for (size_t j = 0; j < 4096; ++j) piece += "\xE4\xB8\x80";  // U+4E00: 3 bytes, 2 in the data
    for (size_t i = 0; i < kTextUnits; i += 4096) out << piece;
    out << "\"\r\n";
  }
  const auto hex_file = dir_.path() / "hex.reg";
  {
    std::ofstream out(hex_file, std::ios::binary);
    out << header << "\"hex\"=hex:";
    std::string line;
    for (size_t i = 0; i < kHexBytes; ++i) {
      static constexpr char kDigits[] = "0123456789abcdef";
      const auto b = static_cast<uint8_t>(i * 7);
      line += kDigits[b >> 4];
      line += kDigits[b & 0xF];
      if (i + 1 < kHexBytes) line += (i % 25 == 24) ? ",\\\r\n  " : ",";
      if (line.size() > 65536) out << line, line.clear();
    }
    out << line << "\r\n";
  }

  const auto before = testing::PeakResidentKiB();
  RegRun imported = Reg({"import", text_file.string()});
  const auto after = testing::PeakResidentKiB();
  ASSERT_EQ(imported.status, 0) << imported.err;
  ASSERT_TRUE(before && after);
  if (testing::kPeakMeasuresLiveMemory) {
    EXPECT_LT(*after - *before, 2 * (2 * kTextUnits) / 1024)
        << "peak before " << *before << " KiB, after " << *after << " KiB";
  }
  imported = Reg({"import", hex_file.string()});
  ASSERT_EQ(imported.status, 0) << imported.err;

  auto key = SettingsKey::Open(u"Large");
  ASSERT_TRUE(key.ok());
  auto text = key->QueryInfo(u"text");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->type, platform::kRegSz);
  EXPECT_EQ(text->size, kTextUnits * 2 + 2);
  auto hex = key->Query(u"hex");
  ASSERT_TRUE(hex.ok());
  ASSERT_EQ(hex->data.size(), kHexBytes);
  for (size_t i : {size_t{0}, size_t{24}, size_t{25}, kHexBytes / 2 + 3, kHexBytes - 1}) {
    EXPECT_EQ(hex->data[i], static_cast<uint8_t>(i * 7)) << i;
  }
}

// A file read in pieces of any size reads as the whole file does: characters, line ends and
// byte-order marks split between pieces included.
TEST(RegFileParse, PiecesOfAnySizeReadAsTheWholeFile) {
  std::string utf8 =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "[A\\B\xC3\xBCr\xF0\x9F\x98\x80]\r\n"
      "\"na\xE4\xB8\x80me\"=\"v\xC3\xA4lue\rwith CR\"\r\n"
      "\"bin\"=hex:01,02,\\\r\n  03\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : FromUtf8(utf8.substr(3))) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  for (const std::string& file : {utf8, utf16, utf8 + "\"bad\"=\"\xC3\x28\"\r\n"}) {
    const RegFileParse whole = ParseRegFile(file);
    for (size_t piece = 1; piece <= 5; ++piece) {
      std::vector<SettingsOp> ops;
      std::string_view rest = file;
      const RegFileRead read = ReadRegFile(
          [&](std::span<char> buffer) -> ErrorOr<size_t> {
            const size_t n = std::min({piece, buffer.size(), rest.size()});
            std::copy_n(rest.data(), n, buffer.data());
            rest.remove_prefix(n);
            return n;
          },
          [&](SettingsOp op) -> ErrorOr<void> {
            ops.push_back(std::move(op));
            return {};
          });
      EXPECT_EQ(read.error_line, whole.error_line) << piece;
      if (!whole.ok()) continue;
      ASSERT_EQ(ops.size(), whole.ops.size()) << piece;
      for (size_t i = 0; i < ops.size(); ++i) {
        EXPECT_EQ(ops[i].key, whole.ops[i].key);
        EXPECT_EQ(ops[i].name, whole.ops[i].name);
        EXPECT_EQ(ops[i].value.data, whole.ops[i].value.data);
      }
    }
    if (file.size() == utf8.size()) {
      ASSERT_TRUE(whole.ok()) << whole.error;
      EXPECT_EQ(whole.ops[0].key, u"A\\B\u00fcr\U0001F600");
      EXPECT_EQ(whole.ops[1].name, u"na\u4e00me");
      EXPECT_EQ(whole.ops[1].value.data, SzData(u"v\u00e4lue\rwith CR"));
      EXPECT_EQ(whole.ops[2].value.data, Bytes({1, 2, 3}));
    }
  }
  EXPECT_EQ(ParseRegFile(utf8 + "\"bad\"=\"\xC3\x28\"\r\n").error_line, 7u);
}

TEST(RegFileParse, ReadsEveryForm) {
  const std::string file =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER]\n"
      "@=\"root default\"\n"
      "[-HKCU\\Old\\Tree]\n"
      "[A\\B]\n"
      "\"quote\\\"and\\\\slash\" = \"x\"\n"
      "\"gone\"=-\n"
      "\"d\"=DWORD:1F\n"
      "\"empty\"=hex:\n"
      "\"typed\"=hex(b):01,02,03,04,05,06,07,08\n"
      "\"sz\"=\"\"\n";
  RegFileParse p = ParseRegFile(file);
  ASSERT_TRUE(p.ok()) << p.error_line << ": " << p.error;
  ASSERT_EQ(p.ops.size(), 10u);
  EXPECT_EQ(p.ops[0].kind, SettingsOp::Kind::kCreateKey);
  EXPECT_EQ(p.ops[0].key, u"");
  EXPECT_EQ(p.ops[1].name, u"");
  EXPECT_EQ(p.ops[1].value.data, SzData(u"root default"));
  EXPECT_EQ(p.ops[2].kind, SettingsOp::Kind::kDeleteKey);
  EXPECT_EQ(p.ops[2].key, u"Old\\Tree");
  EXPECT_EQ(p.ops[3].key, u"A\\B");
  EXPECT_EQ(p.ops[4].name, u"quote\"and\\slash");
  EXPECT_EQ(p.ops[5].kind, SettingsOp::Kind::kDeleteValue);
  EXPECT_EQ(p.ops[5].name, u"gone");
  EXPECT_EQ(p.ops[6].value.type, platform::kRegDword);
  EXPECT_EQ(p.ops[6].value.data, Bytes({0x1F, 0, 0, 0}));
  EXPECT_EQ(p.ops[7].value.type, platform::kRegBinary);
  EXPECT_TRUE(p.ops[7].value.data.empty());
  EXPECT_EQ(p.ops[8].value.type, 11u);
  EXPECT_EQ(p.ops[8].value.data.size(), 8u);
  EXPECT_EQ(p.ops[9].value.data, Bytes({0, 0}));
}

TEST(RegFileParse, RefusesMalformedInputAtTheRightLine) {
  const std::string header = "Windows Registry Editor Version 5.00\n";
  struct Case {
    const char* what;
    std::string file;
    size_t line;
  };
  const Case cases[] = {
      {"no header", "[A]\n", 1},
      {"old header", "REGEDIT4\n", 1},
      {"empty file", "", 1},
      {"value before a key", header + "\"a\"=\"b\"\n", 2},
      {"other hive", header + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n", 2},
      {"short other hive", header + "[HKLM\\SOFTWARE]\n", 2},
      {"deleting the hive", header + "[-HKEY_CURRENT_USER]\n", 2},
      {"doubled separator", header + "[A\\\\B]\n", 2},
      {"trailing separator", header + "[A\\]\n", 2},
      {"key name too long", header + "[" + std::string(256, 'k') + "]\n", 2},
      {"unclosed key", header + "[A\n", 2},
      {"text after key", header + "[A] x\n", 2},
      {"value under deleted key", header + "[-A]\n\"v\"=\"x\"\n", 3},
      {"unknown escape", header + "[A]\n\"v\"=\"C:\\dir\"\n", 3},
      {"unclosed string", header + "[A]\n\"v\"=\"abc\n", 3},
      {"text after string", header + "[A]\n\"v\"=\"abc\" x\n", 3},
      {"missing equals", header + "[A]\n\"v\" \"abc\"\n", 3},
      {"dword too long", header + "[A]\n\"v\"=dword:123456789\n", 3},
      {"dword not hex", header + "[A]\n\"v\"=dword:12g4\n", 3},
      {"bad hex byte", header + "[A]\n\"v\"=hex:01,123\n", 3},
      {"empty hex byte", header + "[A]\n\"v\"=hex:01,,02\n", 3},
      {"bad hex type", header + "[A]\n\"v\"=hex(z):01\n", 3},
      {"unknown data", header + "[A]\n\"v\"=string:abc\n", 3},
      {"continuation past the end", header + "[A]\n\"v\"=hex:01,\\", 3},
      {"error on continuation line", header + "[A]\n\"v\"=hex:01,\\\n  02,\\\n  0x\n", 5},
      {"invalid UTF-8", header + "[A]\n\"v\"=\"\xC3\x28\"\n", 3},
      {"UTF-16 big-endian", "\xFE\xFF\0W", 1},
      {"odd UTF-16 length", "\xFF\xFEW\0x", 1},
  };
  for (const auto& c : cases) {
    RegFileParse p = ParseRegFile(c.file);
    EXPECT_FALSE(p.ok()) << c.what;
    EXPECT_EQ(p.error_line, c.line) << c.what << ": " << p.error;
    EXPECT_TRUE(p.ops.empty()) << c.what;
  }
}

TEST(RegFileFormat, EveryValueSurvivesAWriteAndARead) {
  std::vector<uint8_t> long_binary;
  for (int i = 0; i < 100; ++i) long_binary.push_back(static_cast<uint8_t>(i));
  const platform::NamedRegValue values[] = {
      {u"plain", {platform::kRegSz, SzData(u"text with \"quotes\" and \\ slash")}},
      {u"", {platform::kRegSz, SzData(u"default")}},
      {u"no final NUL", {platform::kRegSz, Bytes({'a', 0})}},
      {u"odd length", {platform::kRegSz, Bytes({'a', 0, 0})}},
      {u"zero length", {platform::kRegSz, {}}},
      {u"line break", {platform::kRegSz, SzData(u"a\nb")}},
      {u"embedded NUL", {platform::kRegSz, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0})}},
      {u"lone surrogate", {platform::kRegSz, Bytes({0x00, 0xD8, 0, 0})}},
      {u"short dword", {platform::kRegDword, Bytes({1, 2})}},
      {u"dword", {platform::kRegDword, Bytes({0x78, 0x56, 0x34, 0x12})}},
      {u"long binary", {platform::kRegBinary, long_binary}},
      {u"type 0", {platform::kRegNone, Bytes({1})}},
      {u"big type", {0x12345678u, Bytes({})}},
  };
  std::string file = std::string(kRegFileHeader) + "\n\n[A]\n";
  for (const auto& v : values) file += FormatRegValue(v) + "\n";
  for (const auto& line :
       {"\"dword\"=dword:12345678", "\"short dword\"=hex(4):01,02", "\"no final NUL\"=hex(1):61,00",
        "\"plain\"=\"text with \\\"quotes\\\" and \\\\ slash\""}) {
    EXPECT_NE(file.find(std::string(line) + "\n"), std::string::npos) << line;
  }
  for (size_t start = 0, end; (end = file.find('\n', start)) != std::string::npos;
       start = end + 1) {
    EXPECT_LE(end - start, 80u) << "exported lines wrap";
  }

  RegFileParse p = ParseRegFile(file);
  ASSERT_TRUE(p.ok()) << p.error_line << ": " << p.error << "\n" << file;
  ASSERT_EQ(p.ops.size(), 1 + std::size(values));
  for (size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(p.ops[i + 1].name, values[i].name);
    EXPECT_EQ(p.ops[i + 1].value.type, values[i].value.type) << ToUtf8(values[i].name);
    EXPECT_EQ(p.ops[i + 1].value.data, values[i].value.data) << ToUtf8(values[i].name);
  }
}

TEST(RegFileKeys, HiveRelativeKeyPath) {
  EXPECT_EQ(HiveRelativeKeyPath(u"HKEY_CURRENT_USER\\A\\B").value(), u"A\\B");
  EXPECT_EQ(HiveRelativeKeyPath(u"hkcu\\A").value(), u"A");
  EXPECT_EQ(HiveRelativeKeyPath(u"HKEY_CURRENT_USER").value(), u"");
  EXPECT_EQ(HiveRelativeKeyPath(u"HKCUX\\A").value(),
            u"HKCUX\\A");  // not the prefix, an ordinary key
  EXPECT_EQ(HiveRelativeKeyPath(u"HKEY_USERS\\A").code(), 87u);
  EXPECT_EQ(HiveRelativeKeyPath(u"HKCU\\").code(), 87u);
}

TEST_F(RegFileTest, CommandSetQueryDelete) {
  EXPECT_EQ(Reg({"set", "HKCU\\T", "Sites", "REG_MULTI_SZ", "a.example\\0b.example"}).status, 0);
  EXPECT_EQ(Reg({"set", "HKCU\\T", "Flag", "reg_dword", "0x10"}).status, 0);
  EXPECT_EQ(Reg({"set", "HKCU\\T", "", "REG_SZ", "dflt"}).status, 0);
  EXPECT_EQ(Reg({"set", "HKCU\\T", "Raw", "REG_BINARY", "01,ff"}).status, 0);

  auto key = SettingsKey::Open(u"T");
  ASSERT_TRUE(key.ok());
  auto found = MultiSzContains(*key, u"sites", u"B.EXAMPLE");
  EXPECT_TRUE(found.ok() && *found);

  RegRun q = Reg({"query", "T", "flag"});
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out, "\"flag\"=dword:00000010\n");
  q = Reg({"query", "T"});
  EXPECT_EQ(q.out,
            "[HKEY_CURRENT_USER\\T]\n"
            "\"Sites\"=hex(7):61,00,2e,00,65,00,78,00,61,00,6d,00,70,00,6c,00,65,00,00,00,62,\\\n"
            "  00,2e,00,65,00,78,00,61,00,6d,00,70,00,6c,00,65,00,00,00,00,00\n"
            "\"Flag\"=dword:00000010\n"
            "@=\"dflt\"\n"
            "\"Raw\"=hex:01,ff\n");

  EXPECT_EQ(Reg({"delete", "T", "Flag"}).status, 0);
  RegRun missing = Reg({"query", "T", "Flag"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("qsft reg: value \"Flag\""), std::string::npos) << missing.err;
  EXPECT_EQ(Reg({"delete", "T", "Flag"}).status, 1);
  EXPECT_EQ(Reg({"delete", "T"}).status, 0);
  EXPECT_EQ(Reg({"query", "T"}).status, 1);
  EXPECT_EQ(Reg({"export", "T"}).status, 1);
}

TEST_F(RegFileTest, CommandUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"import"},
      {"export", "A", "B"},
      {"query"},
      {"query", "HKLM\\SOFTWARE"},
      {"set", "A", "v", "REG_SZ"},
      {"set", "A", "v", "REG_QWORD", "1"},
      {"set", "A", "v", "REG_DWORD", "4294967296"},
      {"set", "A", "v", "REG_DWORD", "0x1ffffffff"},
      {"set", "A", "v", "REG_DWORD", "12a"},
      {"set", "A", "v", "REG_BINARY", "0g"},
      {"set", "A", "v", "REG_BINARY", "012"},
      {"set", "A", "v", "REG_MULTI_SZ", "a\\0\\0b"},
      {"delete", "HKEY_CURRENT_USER"},
  };
  for (const auto& args : wrong) {
    RegRun r = Reg(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]) << " " << r.err;
  }
  EXPECT_EQ(SettingsKey::Open(u"A").code(), 2u);
  RegRun help = Reg({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("import FILE"), std::string::npos);
}

TEST_F(RegFileTest, ImportOfAMissingFileFails) {
  RegRun r = Reg({"import", (dir_.path() / "absent.reg").string()});
  EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace qs
