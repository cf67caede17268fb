#include "platform/directory_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

EntryKind KindOf(DIR* dir, const dirent& entry) {
  if (entry.d_type == DT_REG) return EntryKind::kFile;
  if (entry.d_type == DT_DIR) return EntryKind::kDirectory;
  const int dir_fd = ::dirfd(dir);
  struct stat info {};
  if (entry.d_type == DT_UNKNOWN) {
    if (::fstatat(dir_fd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kOther;
    if (S_ISREG(info.st_mode)) return EntryKind::kFile;
    if (S_ISDIR(info.st_mode)) return EntryKind::kDirectory;
    if (!S_ISLNK(info.st_mode)) return EntryKind::kOther;
  } else if (entry.d_type != DT_LNK) {
    return EntryKind::kOther;
  }
  // A link: a file when it leads to a regular file.
  if (::fstatat(dir_fd, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode)) {
    return EntryKind::kFile;
  }
  return EntryKind::kOther;
}

}  // namespace

ErrorOr<std::vector<DirectoryEntry>> ListDirectory(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  if (target.empty() || target.find('\0') != std::string::npos) {
    return Fail(ErrorCode::kInvalidParameter);
  }
  std::unique_ptr<DIR, DirCloser> dir(::opendir(target.c_str()));
  if (!dir) return FailFromErrno(errno);
  std::vector<DirectoryEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return FailFromErrno(errno);
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    entries.push_back(DirectoryEntry{FromUtf8(entry->d_name), KindOf(dir.get(), *entry)});
  }
  return entries;
}

}  // namespace qs::platform
