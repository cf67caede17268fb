#include "platform/app_launch.h"

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"
#include "platform/file_descriptor.h"
#include "platform/gio_error.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

// As much of the start of a file as content sniffing looks at.
constexpr size_t kSniffBytes = 4096;

// Sniffed types (and their subtypes) that run code when opened.
constexpr const char* kProgramTypes[] = {
    "application/x-executable", "application/x-sharedlib",         "application/x-shellscript",
    "application/x-desktop",    "application/x-ms-dos-executable", "application/x-msdownload",
};

// Starts of programs and scripts: ELF, "#!" interpreter lines, DOS and Windows programs.
constexpr std::string_view kProgramMagics[] = {
    "\x7f"
    "ELF",
    "#!", "MZ"};

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct GObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Group headers that make a key file a desktop entry; the launcher honours them wherever they
// stand, after any number of comment or blank lines.
constexpr std::string_view kDesktopEntryHeaders[] = {"[Desktop Entry]", "[KDE Desktop Entry]"};
// The longest header, for the overlap kept between the pieces a file is scanned in.
constexpr size_t kLongestDesktopHeader = 19;
constexpr size_t kScanPieceBytes = 64 * 1024;

bool StartsWith(const std::string& data, std::string_view magic) {
  return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
}

bool IsTextType(const char* type) {
  return g_content_type_is_a(type, "text/plain") ||
         g_content_type_equals(type, "application/x-zerosize");
}

// Refuses paths that are not absolute or would reach the system shortened.
bool UsablePath(const std::string& path) {
  return !path.empty() && path.front() == '/' && path.find('\0') == std::string::npos;
}

ErrorOr<void> Launch(GAppInfo* app, const std::string& path) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GCharPtr uri(g_file_get_uri(file.get()));
  GList uris{};
  uris.data = uri.get();

  GError* raw_error = nullptr;
  gboolean launched = FALSE;
  if (G_IS_DESKTOP_APP_INFO(app)) {
    // The application must not write into this process's output, which may be a protocol.
    ScopedFd null_fd(::open("/dev/null", O_RDWR | O_CLOEXEC));
    launched = g_desktop_app_info_launch_uris_as_manager_with_fds(
        G_DESKTOP_APP_INFO(app), &uris, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
        nullptr, null_fd.get(), null_fd.get(), -1, &raw_error);
  } else {
    launched = g_app_info_launch_uris(app, &uris, nullptr, &raw_error);
  }
  if (launched) return {};
  GErrorPtr error(raw_error);
  return Fail(Error{CodeFromGError(error.get())});
}

// Whether `text` holds a desktop entry's group header at the start of a line (after blanks or a
// byte order mark). Lines are judged only when they begin inside `text`.
bool HoldsDesktopEntryHeader(std::string_view text) {
  for (const auto header : kDesktopEntryHeaders) {
    for (size_t at = text.find(header); at != std::string_view::npos;
         at = text.find(header, at + 1)) {
      std::string_view before = text.substr(0, at);
      while (!before.empty() && (before.back() == ' ' || before.back() == '\t')) {
        before.remove_suffix(1);
      }
      if (before.ends_with("\xEF\xBB\xBF")) before.remove_suffix(3);
      if (before.empty() || before.back() == '\n' || before.back() == '\r') return true;
    }
  }
  return false;
}

// Reads the rest of the open file in pieces and looks for a desktop entry's group header
// anywhere in it. `seen` is what was read already (the start of the file). A failed read counts
// as a header found.
bool DesktopEntryAnywhere(int fd, std::string seen) {
  if (HoldsDesktopEntryHeader(seen)) return true;
  std::string window = seen.substr(seen.size() - std::min(seen.size(), kLongestDesktopHeader + 8));
  std::string piece(kScanPieceBytes, '\0');
  for (;;) {
    const ssize_t n = ::read(fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return true;
    if (n == 0) return false;
    window.append(piece.data(), static_cast<size_t>(n));
    if (HoldsDesktopEntryHeader(window)) return true;
    window.erase(0, window.size() - std::min(window.size(), kLongestDesktopHeader + 8));
  }
}

}  // namespace

bool IsProgramFile(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  if (!UsablePath(target)) return true;
  ScopedFd fd(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return true;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return true;

  std::string data(kSniffBytes, '\0');
  size_t filled = 0;
  while (filled < data.size()) {
    const ssize_t n = ::read(fd.get(), data.data() + filled, data.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return true;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  data.resize(filled);

  for (const auto magic : kProgramMagics) {
    if (StartsWith(data, magic)) return true;
  }
  // Guessed from the data alone: a name would decide the type by itself and hide the content.
  GCharPtr type(g_content_type_guess(nullptr, reinterpret_cast<const guchar*>(data.data()),
                                     data.size(), nullptr));
  if (!type) return true;
  for (const char* program_type : kProgramTypes) {
    if (g_content_type_is_a(type.get(), program_type)) return true;
  }
  if (::access(target.c_str(), X_OK) == 0 && IsTextType(type.get())) return true;
  return DesktopEntryAnywhere(fd.get(), std::move(data));
}

std::u16string ContentTypeForOpening(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  if (!UsablePath(target)) return {};
  GObjectPtr<GFile> file(g_file_new_for_path(target.c_str()));
  GObjectPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                               G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info) return {};
  const char* type = g_file_info_get_content_type(info.get());
  return type ? FromUtf8(type) : std::u16string();
}

ErrorOr<void> OpenWithDefaultApplication(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  if (!UsablePath(target)) return Fail(ErrorCode::kInvalidParameter);
  const std::string type = ToUtf8(ContentTypeForOpening(path));
  if (type.empty()) return Fail(ErrorCode::kNoAssociation);
  GObjectPtr<GAppInfo> app(g_app_info_get_default_for_type(type.c_str(), FALSE));
  if (!app) return Fail(ErrorCode::kNoAssociation);
  return Launch(app.get(), target);
}

ErrorOr<void> OpenWithApplication(std::u16string_view path, std::u16string_view app_id) {
  const std::string target = ToUtf8(path);
  const std::string id = ToUtf8(app_id);
  if (!UsablePath(target) || id.empty() || id.find('\0') != std::string::npos) {
    return Fail(ErrorCode::kInvalidParameter);
  }
  GObjectPtr<GDesktopAppInfo> app(g_desktop_app_info_new(id.c_str()));
  if (!app) return Fail(ErrorCode::kNoAssociation);
  return Launch(G_APP_INFO(app.get()), target);
}

}  // namespace qs::platform
