#include "resources/downloadable_resources.h"

#include "platform/file_system.h"
#include "platform/signed_content.h"
#include "platform/small_file.h"
#include "platform/user_folders.h"
#include "resources/own_texts.h"

namespace qs {

namespace {

constexpr std::u16string_view kResourcesFolder = u"/Tarnholt/Quillstone/Resources/";

// A pack file read once: whether it is there, and what its signature check says of its bytes.
struct PackFile {
  bool exists = false;
  platform::SignedContentCheck check;
};

PackFile ReadPackFile(std::u16string_view path) {
  PackFile file;
  file.exists = platform::PathExists(path);
  if (!file.exists) return file;
  auto bytes = platform::ReadSmallFile(path, kMaxPackFileBytes);
  // Unreadable or too large counts as failing the check.
  if (bytes.ok()) file.check = platform::CheckSignedContent(*bytes);
  return file;
}

// The signature passes: valid, over unmodified content, by a trusted code signer.
bool VerifySignature(const PackFile& file) { return file.exists && file.check.trusted; }

// The pack's own version is at least the one the page asked for. Only for a verified file.
bool IsVersionAtLeast(const PackFile& file, std::u16string_view version,
                      std::optional<LanguagePack>& pack) {
  pack = DecodeLanguagePack(file.check.content);
  return pack && pack->version >= ParseResourceVersion(version);
}

}  // namespace

std::u16string ResourceManager::LoadString(uint32_t id) const {
  if (language_module_ && id <= 0xFFFF) {
    auto it = language_module_->texts.find(static_cast<uint16_t>(id));
    if (it != language_module_->texts.end() && !it->second.empty()) return it->second;
  }
  if (auto own = OwnText(id)) return std::u16string(*own);
  return std::u16string();
}

void ResourceManager::LoadModule(std::u16string_view path) {
  FreeModule();
  PackFile file = ReadPackFile(path);
  if (!VerifySignature(file)) return;
  if (auto pack = DecodeLanguagePack(file.check.content)) UseModule(*std::move(pack));
}

DownloadableResources::~DownloadableResources() {
  if (pending_download_) pending_download_->Cancel();
}

std::u16string DownloadableResources::GetString(uint32_t id) {
  CheckPendingDownload();
  return LoadString(id);
}

std::u16string DownloadableResources::GetString(TextId id) { return GetString(ToUint(id)); }

std::u16string DownloadableResources::Format(TextId id, std::initializer_list<TextArg> args) {
  return FormatText(GetString(id), args);
}

void DownloadableResources::LoadLanguage(const ModuleDownloadStarter& start,
                                         std::u16string_view language, std::u16string_view version,
                                         std::u16string_view url) {
  FreeModule();
  const std::optional<std::u16string> path = BuildModulePath(language, url);
  if (!path) return;
  PackFile file = ReadPackFile(*path);
  if (file.exists && !VerifySignature(file)) {
    if (!platform::RemoveFile(*path).ok()) return;
  } else if (file.exists) {
    std::optional<LanguagePack> pack;
    if (IsVersionAtLeast(file, version, pack)) {
      UseModule(*std::move(pack));
      return;  // signed and recent enough: no server contact
    }
  }
  // Missing, deleted or too old: fetch it. The download renames onto the path only when complete.
  const std::u16string directory = path->substr(0, path->rfind(u'/'));
  if (!platform::IsDirectory(directory) && !platform::CreateDirectoryTree(directory).ok()) return;
  pending_download_.reset();
  pending_download_ = start(std::u16string(url), *path);
}

void DownloadableResources::CheckPendingDownload() {
  if (!pending_download_ || !pending_download_->Done()) return;
  const std::u16string path = pending_download_->local_path();
  pending_download_.reset();
  PackFile file = ReadPackFile(path);
  if (!file.exists) return;  // the server had nothing to send
  if (!VerifySignature(file)) {
    (void)platform::RemoveFile(path);
    return;
  }
  // The version is not asked again: the page asked for this download.
  FreeModule();
  if (auto pack = DecodeLanguagePack(file.check.content)) UseModule(*std::move(pack));
}

std::optional<std::u16string> BuildModulePath(std::u16string_view language,
                                              std::u16string_view url) {
  const std::u16string_view name = ModuleNameOf(url);
  if (!IsPlainLanguageTag(language) || !IsPlainFileName(name)) return std::nullopt;
  const std::u16string folder = platform::LocalAppDataFolder();
  if (folder.empty()) return std::nullopt;
  std::u16string path = folder;
  path.append(kResourcesFolder).append(language).append(u"/").append(name);
  return path;
}

std::u16string ApplicationTitle() {
  return std::u16string(OwnText(ToUint(TextId::kApplicationTitle)).value_or(u""));
}

}  // namespace qs
