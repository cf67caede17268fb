#include "qsft/reg_store_command.h"

#include <fstream>
#include <optional>
#include <vector>

#include "base/text.h"
#include "config/reg_file.h"
#include "config/reg_values.h"
#include "platform/settings_store.h"

namespace qs {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kHelp =
    "usage: qsft reg COMMAND ...\n"
    "\n"
    "Reads and changes the current user's settings store.\n"
    "\n"
    "  import FILE              apply a \"Windows Registry Editor Version 5.00\" file\n"
    "                           (UTF-8, or UTF-16LE with a byte-order mark); nothing is\n"
    "                           applied when any line is wrong\n"
    "  export [KEY]             print KEY and its subkeys in that format (UTF-8); the\n"
    "                           whole store without KEY\n"
    "  query KEY [NAME]         print the values of KEY, or only NAME\n"
    "  set KEY NAME TYPE DATA   create or replace a value; TYPE is one of\n"
    "                           REG_SZ, REG_EXPAND_SZ   DATA is the text\n"
    "                           REG_MULTI_SZ            entries separated by \\0\n"
    "                           REG_DWORD               decimal, or hexadecimal after 0x\n"
    "                           REG_BINARY              hex bytes, e.g. 01ff or 01,ff\n"
    "  delete KEY [NAME]        delete KEY with all its subkeys, or only the value NAME\n"
    "\n"
    "KEY may start with HKEY_CURRENT_USER\\ or HKCU\\; an empty NAME (\"\") is the key's\n"
    "default value.\n";

// "qsft reg: <context>: <status text>" for a store status.
int Failure(std::string& err, const std::string& context, uint32_t status) {
  std::string text;
  if (auto message = SystemErrorMessage(status)) text = ToUtf8(*message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) text = "error " + std::to_string(status);
  err += "qsft reg: " + context + ": " + text + "\n";
  return kFailed;
}

int Usage(std::string& err, const std::string& message) {
  err += "qsft reg: " + message + "\nTry 'qsft reg --help'.\n";
  return kUsage;
}

std::optional<std::u16string> KeyArgument(const std::string& arg, std::string& err) {
  auto path = HiveRelativeKeyPath(FromUtf8(arg));
  if (!path.ok()) {
    Usage(err, "not a key of HKEY_CURRENT_USER: " + arg);
    return std::nullopt;
  }
  return std::move(*path);
}

std::optional<platform::RegValue> ParseData(const std::string& type, const std::string& data,
                                            std::string& why) {
  const std::u16string text = FromUtf8(data);
  const std::u16string t = ToLowerAscii(FromUtf8(type));
  if (t == u"reg_sz" || t == u"reg_expand_sz") {
    return platform::RegValue{t == u"reg_sz" ? platform::kRegSz : platform::kRegExpandSz,
                              SzData(text)};
  }
  if (t == u"reg_multi_sz") {
    std::vector<std::u16string> entries;
    for (size_t start = 0; !text.empty() && start <= text.size();) {
      size_t end = text.find(u"\\0", start);
      if (end == std::u16string::npos) end = text.size();
      if (end == start) {
        why = "REG_MULTI_SZ entries cannot be empty";
        return std::nullopt;
      }
      entries.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return platform::RegValue{platform::kRegMultiSz, MultiSzData(entries)};
  }
  if (t == u"reg_dword") {
    const bool hex = data.starts_with("0x") || data.starts_with("0X");
    const std::string digits = hex ? data.substr(2) : data;
    uint64_t n = 0;
    bool good = !digits.empty() && digits.size() <= (hex ? 8u : 10u);
    for (char c : digits) {
      const int d = (c >= '0' && c <= '9')          ? c - '0'
                    : hex && (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : hex && (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                    : -1;
      good = good && d >= 0;
      n = n * (hex ? 16 : 10) + static_cast<uint64_t>(d < 0 ? 0 : d);
    }
    if (!good || n > 0xFFFFFFFFu) {
      why = "REG_DWORD data must be a number from 0 to 4294967295 (or 0x0 to 0xffffffff)";
      return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(n >> (8 * i)));
    return platform::RegValue{platform::kRegDword, std::move(bytes)};
  }
  if (t == u"reg_binary") {
    std::string digits;
    for (char c : data) {
      if (c != ',') digits.push_back(c);
    }
    std::vector<uint8_t> bytes;
    auto nibble = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    bool good = digits.size() % 2 == 0;
    for (size_t i = 0; good && i < digits.size(); i += 2) {
      const int hi = nibble(digits[i]);
      const int lo = nibble(digits[i + 1]);
      good = hi >= 0 && lo >= 0;
      bytes.push_back(static_cast<uint8_t>((hi << 4) | (lo & 0xF)));
    }
    if (!good) {
      why = "REG_BINARY data must be pairs of hexadecimal digits";
      return std::nullopt;
    }
    return platform::RegValue{platform::kRegBinary, std::move(bytes)};
  }
  why = "unknown type " + type + " (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY)";
  return std::nullopt;
}

// The file is read as it is applied, one step at a time, inside one transaction of the store:
// a syntax error anywhere undoes everything before it, and no more than one value of the file
// is held at a time.
int Import(const std::string& file, std::string& err) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    err += "qsft reg: cannot read " + file + "\n";
    return kFailed;
  }
  auto batch = platform::SettingsBatch::Begin();
  if (!batch.ok()) return Failure(err, "import " + file + " (nothing was imported)", batch.code());
  const RegFileRead read = ReadRegFile(
      [&](std::span<char> buffer) -> ErrorOr<size_t> {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.bad()) return ErrorCode::kRegistryIoFailed;
        return static_cast<size_t>(in.gcount());
      },
      [&](platform::SettingsOp op) { return batch->Apply(op); });
  if (in.bad()) {
    err += "qsft reg: cannot read " + file + " (nothing was imported)\n";
    return kFailed;
  }
  if (read.error_line != 0) {
    err += file + ":" + std::to_string(read.error_line) + ": " + read.error +
           "\nqsft reg: nothing was imported\n";
    return kFailed;
  }
  auto applied = read.status.ok() ? batch->Commit() : read.status;
  if (!applied.ok()) {
    return Failure(err, "import " + file + " (nothing was imported)", applied.code());
  }
  return kOk;
}

int Export(std::span<const std::string> args, const RegOutput& out, std::string& err) {
  std::u16string path;
  if (!args.empty()) {
    auto key = KeyArgument(args[0], err);
    if (!key) return kUsage;
    path = std::move(*key);
  }
  bool written = true;
  auto exported = ExportRegFile(path, [&](std::string_view text) -> ErrorOr<void> {
    written = out(text);
    if (!written) return ErrorCode::kIoDevice;
    return {};
  });
  if (!written) {
    err += "qsft reg: cannot write the output\n";
    return kFailed;
  }
  if (!exported.ok()) return Failure(err, ToUtf8(FullKeyName(path)), exported.code());
  return kOk;
}

int Query(const std::u16string& path, const std::string* name, const RegOutput& out,
          std::string& err) {
  auto key = platform::SettingsKey::Open(path);
  if (!key.ok()) return Failure(err, ToUtf8(FullKeyName(path)), key.code());
  if (name != nullptr) {
    const std::u16string value_name = FromUtf8(*name);
    auto value = key->Query(value_name);
    if (!value.ok()) return Failure(err, "value \"" + *name + "\"", value.code());
    out(FormatRegValue({value_name, std::move(*value)}) + "\n");
    return kOk;
  }
  auto values = key->Values();
  if (!values.ok()) return Failure(err, ToUtf8(FullKeyName(path)), values.code());
  out("[" + ToUtf8(FullKeyName(path)) + "]\n");
  for (const auto& value : *values) out(FormatRegValue(value) + "\n");
  return kOk;
}

int Set(const std::u16string& path, std::span<const std::string> args, std::string& err) {
  const std::u16string name = FromUtf8(args[0]);
  if (name.find_first_of(u"\r\n") != std::u16string::npos) {
    return Usage(err, "a value name cannot hold a line break");
  }
  std::string why;
  auto value = ParseData(args[1], args[2], why);
  if (!value) return Usage(err, why);
  // Key and value in one transaction: no other writer sees the key without its value.
  platform::SettingsOp op{platform::SettingsOp::Kind::kSetValue, path, name, std::move(*value)};
  auto done = platform::ApplySettingsBatch(std::span(&op, 1));
  if (!done.ok()) return Failure(err, "set \"" + args[0] + "\"", done.code());
  return kOk;
}

int Delete(const std::u16string& path, const std::string* name, std::string& err) {
  if (name == nullptr) {
    if (path.empty()) return Usage(err, "the whole store cannot be deleted");
    auto done = platform::DeleteSettingsKey(path);
    if (!done.ok()) return Failure(err, ToUtf8(FullKeyName(path)), done.code());
    return kOk;
  }
  auto key = platform::SettingsKey::Open(path);
  if (!key.ok()) return Failure(err, ToUtf8(FullKeyName(path)), key.code());
  auto done = key->DeleteValue(FromUtf8(*name));
  if (!done.ok()) return Failure(err, "value \"" + *name + "\"", done.code());
  return kOk;
}

}  // namespace

int RunRegCommand(std::span<const std::string> args, const RegOutput& out, std::string& err) {
  if (args.empty()) return Usage(err, "missing command");
  const std::string& command = args[0];
  const auto rest = args.subspan(1);
  if (command == "--help" || command == "-h" || command == "help") {
    out(kHelp);
    return kOk;
  }
  if (command == "import") {
    if (rest.size() != 1 || rest[0].empty()) return Usage(err, "import takes one FILE");
    return Import(rest[0], err);
  }
  if (command == "export") {
    if (rest.size() > 1) return Usage(err, "export takes at most one KEY");
    return Export(rest, out, err);
  }
  const bool known = command == "query" || command == "set" || command == "delete";
  if (!known) return Usage(err, "unknown command '" + command + "'");
  if (rest.empty()) return Usage(err, command + " needs a KEY");
  auto path = KeyArgument(rest[0], err);
  if (!path) return kUsage;
  const auto tail = rest.subspan(1);
  if (command == "set") {
    if (tail.size() != 3) return Usage(err, "set takes KEY NAME TYPE DATA");
    return Set(*path, tail, err);
  }
  if (tail.size() > 1) return Usage(err, command + " takes KEY [NAME]");
  const std::string* name = tail.empty() ? nullptr : &tail[0];
  return command == "query" ? Query(*path, name, out, err) : Delete(*path, name, err);
}

}  // namespace qs
