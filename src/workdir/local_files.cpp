#include "workdir/local_files.h"

#include <array>
#include <limits>

#include "base/text.h"
#include "platform/app_launch.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/trash.h"
#include "resources/format_text.h"
#include "workdir/path_qualify.h"

namespace qs {

namespace {

// Extensions whose files run code or change the system when opened. The first fifty are the
// web client's long-standing list; the rest are their Linux counterparts: desktop entries (which
// run their Exec line, as shortcuts do), shell and interpreter scripts, self-running packages
// and installers.
constexpr std::array<std::u16string_view, 70> kBlockedExtensions = {
    u".ade", u".adp", u".app", u".bas", u".bat", u".chm", u".cmd", u".cpl", u".crt", u".csh",
    u".exe", u".fxp", u".hlp", u".hta", u".inf", u".ins", u".isp", u".js", u".jse", u".ksh",
    u".lnk", u".mda", u".mdb", u".mde", u".mdt", u".mdw", u".mdz", u".msc", u".msi", u".msp",
    u".mst", u".ops", u".pcd", u".pif", u".prf", u".prg", u".pst", u".reg", u".scf", u".scr",
    u".sct", u".shb", u".shs", u".url", u".vb", u".vbe", u".vbs", u".wsc", u".wsf", u".wsh",
    // Linux.
    u".desktop", u".sh", u".bash", u".zsh", u".run", u".appimage", u".jar", u".jnlp", u".deb",
    u".rpm", u".flatpak", u".flatpakref", u".py", u".pl", u".py3", u".rb", u".php", u".lua",
    u".tcl", u".kdelnk"};

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

void ShowNotice(platform::Dialogs* dialogs, const MessageTexts& texts, std::u16string text,
                platform::MessageIcon icon) {
  if (dialogs == nullptr) return;
  (void)dialogs->ShowMessage(platform::MessageBoxRequest(
      std::move(text), texts(TextId::kApplicationTitle), icon, platform::MessageButtons::kOk));
}

// Whether opening the file at the qualified `path` could run code, or is no document at all.
bool IsBlockedFile(const std::u16string& path) {
  const std::u16string_view extension = FileExtension(path);
  if (extension.empty() || extension == u".") return true;
  if (IsBlockedExtension(extension)) return true;
  if (!platform::PathExists(path) || platform::IsDirectory(path)) return true;
  return platform::IsProgramFile(path);
}

}  // namespace

int64_t ParseFileTimeText(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulated towards the sign so that the most negative value is reachable.
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const int digit = text[i] - u'0';
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, negative ? -digit : digit, &value)) {
      return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    }
  }
  return value;
}

std::u16string_view FileExtension(std::u16string_view path) {
  const size_t separator = FindLastSeparator(path);
  const std::u16string_view name =
      separator == std::u16string_view::npos ? path : path.substr(separator + 1);
  const size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

bool IsBlockedExtension(std::u16string_view extension) {
  for (const auto blocked : kBlockedExtensions) {
    if (blocked.size() == extension.size() && ToLowerAscii(extension) == blocked) return true;
  }
  return false;
}

bool FileExist(AccessGuard& guard, std::u16string_view abs_name) {
  std::u16string path;
  return guard.CheckAccess(abs_name, access_mask::kExist, &path) && platform::PathExists(path);
}

bool FolderExist(AccessGuard& guard, std::u16string_view abs_name) {
  std::u16string path;
  return guard.CheckAccess(abs_name, access_mask::kExist, &path) && platform::IsDirectory(path);
}

bool FileChanged(AccessGuard& guard, std::u16string_view abs_name,
                 std::u16string_view update_time) {
  if (update_time.empty()) return false;
  std::u16string path;
  if (!guard.CheckAccess(abs_name, access_mask::kFileChanged, &path)) return false;
  if (!platform::PathExists(path)) return true;
  const int64_t given = ParseFileTimeText(update_time);
  if (given == 0) return true;
  auto actual = platform::LastWriteFileTime(path);
  if (!actual.ok()) return true;
  return *actual != given;
}

void UpdateFileTime(AccessGuard& guard, std::u16string_view abs_name,
                    std::u16string_view update_time) {
  if (update_time.empty()) return;
  const int64_t time = ParseFileTimeText(update_time);
  if (time == 0) return;
  std::u16string path;
  if (!guard.CheckAccess(abs_name, access_mask::kUpdateFileTime, &path)) return;
  (void)platform::SetLastWriteFileTime(path, time);  // the outcome is not reported
}

void DeleteFile(AccessGuard& guard, std::u16string_view abs_name) {
  std::u16string path;
  if (!guard.CheckAccess(abs_name, access_mask::kDelete, &path)) return;
  if (!platform::PathExists(path)) return;
  (void)platform::MoveToTrash(path);  // the outcome is not reported
}

void OpenFile(AccessGuard& guard, std::u16string_view file, platform::Dialogs* dialogs,
              const MessageTexts& texts) {
  const std::u16string qualified = QualifyPath(file);
  if (qualified.empty()) return;
  std::u16string path;
  if (!guard.CheckAccess(qualified, access_mask::kOpen, &path)) return;

  if (IsBlockedFile(path)) {
    ShowNotice(dialogs, texts, texts(TextId::kHarmfulFileBlocked), platform::MessageIcon::kError);
    return;
  }
  auto opened = platform::OpenWithDefaultApplication(path);
  if (opened.ok()) return;
  if (opened.error().Is(ErrorCode::kNoAssociation)) {
    if (dialogs == nullptr) return;
    auto chosen = dialogs->ChooseApplication(
        platform::AppChooserRequest(path, platform::ContentTypeForOpening(path)));
    if (chosen.chosen()) (void)platform::OpenWithApplication(path, chosen.value());
    return;
  }
  ShowNotice(dialogs, texts, FormatText(texts(TextId::kRunFailed), {path, opened.code()}),
             platform::MessageIcon::kWarning);
}

}  // namespace qs
