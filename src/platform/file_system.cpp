#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

bool StatPath(const std::string& path, struct stat& info) {
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool IsDirectoryUtf8(const std::string& path) {
  struct stat info {};
  return StatPath(path, info) && S_ISDIR(info.st_mode);
}

// Creates one directory whose parent exists.
ErrorOr<DirectoryCreation> MakeOneDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return DirectoryCreation::kCreated;
  const int err = errno;
  if (err == EEXIST) {
    if (IsDirectoryUtf8(path)) return DirectoryCreation::kAlreadyExisted;
    return Fail(ErrorCode::kFileExists);
  }
  return FailFromErrno(err);
}

}  // namespace

ErrorOr<std::u16string> CurrentDirectory() {
  std::vector<char> buffer(256);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return FromUtf8(buffer.data());
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return FailFromErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
}

bool PathExists(std::u16string_view path) {
  struct stat info {};
  return StatPath(ToUtf8(path), info);
}

bool IsDirectory(std::u16string_view path) { return IsDirectoryUtf8(ToUtf8(path)); }

ErrorOr<DirectoryCreation> CreateDirectoryTree(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  if (target.empty() || target.front() != '/' || target.find('\0') != std::string::npos) {
    return Fail(ErrorCode::kInvalidParameter);
  }
  // Each missing parent first, from the root down; a parent that already exists is fine.
  for (size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1)) {
    if (slash + 1 == target.size()) break;  // trailing separator: the target itself
    const std::string parent = target.substr(0, slash);
    if (parent.back() == '/') continue;  // doubled separator
    auto made = MakeOneDirectory(parent);
    if (!made.ok()) return made.error();
  }
  std::string final_path = target;
  while (final_path.size() > 1 && final_path.back() == '/') final_path.pop_back();
  return MakeOneDirectory(final_path);
}

}  // namespace qs::platform
