// `qsft langpack`: builds signed language packs from .po files and shows what a pack holds.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/signed_content.h"
#include "platform/small_file.h"
#include "qsft/cli_control.h"
#include "qsft/cli_options.h"
#include "qsft/commands.h"
#include "qsft/po_file.h"
#include "resources/language_pack.h"

namespace qs::app {

namespace {

constexpr const char kLangpackHelp[] =
    "usage: qsft langpack build --version A.B.C.D --key KEY --cert CERT [--chain FILE]\n"
    "                           TEXTS.po -o FILE\n"
    "       qsft langpack show FILE\n"
    "\n"
    "build  signs the texts of a gettext .po file into a language pack: each entry's msgctxt\n"
    "       is the text's numeric id (0 to 65535), its msgstr the text; untranslated and fuzzy\n"
    "       entries are left out, so the control shows its own text for them.\n"
    "         --version A.B.C.D  the pack's file version, four numbers from 0 to 65535; pages\n"
    "                            ask for it as 16 hexadecimal digits (2.1.5.300 is\n"
    "                            000200010005012C)\n"
    "         --key KEY          the signer's private key (PEM)\n"
    "         --cert CERT        the signer's certificate (PEM); the control accepts a pack\n"
    "                            whose signer chains to a root the system trusts and whose\n"
    "                            certificate allows code signing\n"
    "         --chain FILE       intermediate certificates to include (PEM)\n"
    "         -o FILE            where the pack is written\n"
    "show   prints the pack's version, signer, whether the control would trust it (and why\n"
    "       not), and its texts. The trust store is OpenSSL's default one, which honours\n"
    "       SSL_CERT_FILE and SSL_CERT_DIR.\n"
    "\n"
    "exit status: 0 built / trusted, 1 failed / not trusted, 2 wrong arguments\n";

int Usage(const std::string& error) {
  std::cerr << "qsft langpack: " << error << "\n\n" << kLangpackHelp;
  return kExitUsage;
}

std::optional<uint64_t> ParseDottedVersion(std::string_view text) {
  uint64_t version = 0;
  int parts = 0;
  while (parts < 4) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size() || value > 0xFFFF) {
      return std::nullopt;
    }
    version = version << 16 | value;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  if (parts != 4 || text.find('.') != std::string_view::npos) return std::nullopt;
  return version;
}

std::string DottedVersion(uint64_t v) {
  return std::to_string(v >> 48) + "." + std::to_string(v >> 32 & 0xFFFF) + "." +
         std::to_string(v >> 16 & 0xFFFF) + "." + std::to_string(v & 0xFFFF);
}

std::string HexVersion(uint64_t v) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016llX", static_cast<unsigned long long>(v));
  return buffer;
}

// A text on one line, with control characters and quotes escaped.
std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char c : ToUtf8(text)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

int Build(std::span<char*> args) {
  std::string version_text, key, cert, chain, output, po;
  for (size_t i = 2; i < args.size();) {
    const std::string_view arg = args[i];
    std::string error;
    bool taken = false;
    for (auto [name, target] :
         {std::pair{"--version", &version_text}, std::pair{"--key", &key},
          std::pair{"--cert", &cert}, std::pair{"--chain", &chain}, std::pair{"-o", &output}}) {
      if (auto value = TakeOptionValue(args, i, name, error)) {
        *target = *value;
        taken = true;
        break;
      }
      if (!error.empty()) return Usage(error);
    }
    if (taken) continue;
    if (arg.starts_with("-") || !po.empty())
      return Usage("unexpected argument " + std::string(arg));
    po = arg;
    ++i;
  }
  if (version_text.empty()) return Usage("needs --version A.B.C.D");
  const std::optional<uint64_t> version = ParseDottedVersion(version_text);
  if (!version) return Usage("--version must be four numbers from 0 to 65535, e.g. 2.1.5.300");
  if (key.empty() || cert.empty()) return Usage("needs --key KEY and --cert CERT");
  if (po.empty()) return Usage("needs the .po file");
  if (output.empty()) return Usage("needs -o FILE");

  std::ifstream in(po, std::ios::binary);
  std::ostringstream source;
  source << in.rdbuf();
  if (!in) {
    std::cerr << "qsft langpack: cannot read " << po << "\n";
    return kExitFailed;
  }
  PoTexts texts = ReadPoTexts(source.str(), po);
  if (!texts.error.empty()) {
    std::cerr << texts.error << "\n";
    return kExitFailed;
  }
  LanguagePack pack{*version, std::move(texts.texts)};
  std::string problem;
  const std::string signed_pack =
      platform::SignContent(EncodeLanguagePack(pack), {key, cert, chain}, problem);
  if (signed_pack.empty()) {
    std::cerr << "qsft langpack: " << problem << "\n";
    return kExitFailed;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(signed_pack.data(), static_cast<std::streamsize>(signed_pack.size()));
  out.close();
  if (!out) {
    std::cerr << "qsft langpack: cannot write " << output << "\n";
    return kExitFailed;
  }
  std::cout << output << ": version " << DottedVersion(pack.version) << " ("
            << HexVersion(pack.version) << "), " << pack.texts.size() << " texts\n";
  return kExitOk;
}

int Show(std::span<char*> args) {
  if (args.size() != 3) return Usage("show takes one FILE");
  const std::string file = args[2];
  auto bytes = platform::ReadSmallFile(FromUtf8(file), kMaxPackFileBytes);
  if (!bytes.ok()) {
    std::cerr << "qsft langpack: cannot read " << file << " (error " << bytes.code() << ")\n";
    return kExitFailed;
  }
  const platform::SignedContentCheck check = platform::CheckSignedContent(*bytes);
  if (!check.readable) {
    std::cout << file << ": not a language pack: " << check.problem << "\n";
    return kExitFailed;
  }
  const std::optional<LanguagePack> pack = DecodeLanguagePack(check.content);
  std::cout << "file:      " << file << "\n";
  if (pack) {
    std::cout << "version:   " << DottedVersion(pack->version) << " (" << HexVersion(pack->version)
              << ")\n";
  }
  std::cout << "signer:    " << (check.signer_subject.empty() ? "(unknown)" : check.signer_subject)
            << "\n";
  std::cout << "signature: " << (check.signature_valid ? "verifies" : check.problem) << "\n";
  if (check.signature_valid) {
    std::cout << "trust:     " << (check.trusted ? "trusted" : "NOT TRUSTED: " + check.problem)
              << "\n";
  }
  if (!pack) {
    std::cout << "content:   malformed, not a language pack's texts\n";
    return kExitFailed;
  }
  std::cout << "texts:     " << pack->texts.size() << "\n";
  for (const auto& [id, text] : pack->texts) std::cout << "  " << id << " " << Quoted(text) << "\n";
  return check.trusted ? kExitOk : kExitFailed;
}

}  // namespace

int LangpackMain(std::span<char*> args) {
  if (args.size() < 2) return Usage("needs build or show");
  const std::string_view sub = args[1];
  if (IsHelpOption(sub)) {
    std::cout << kLangpackHelp;
    return kExitOk;
  }
  for (size_t i = 2; i < args.size(); ++i) {
    if (IsHelpOption(args[i])) {
      std::cout << kLangpackHelp;
      return kExitOk;
    }
  }
  if (sub == "build") return Build(args);
  if (sub == "show") return Show(args);
  return Usage("unknown sub-command " + std::string(sub));
}

}  // namespace qs::app
