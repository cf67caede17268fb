#include "platform/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "base/text.h"
#include "platform/file_lock.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

// How often the name may change under us between open and lock before we give up; each round
// means another writer moved or deleted the file in that instant.
constexpr int kOpenAttempts = 8;

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The locked, emptied descriptor of `name` (see StagedFile::Create).
ErrorOr<ScopedFd> OpenLocked(const std::string& name) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // No O_TRUNC: the file may be another writer's until our lock says otherwise. O_NONBLOCK
    // keeps a FIFO planted under the name from blocking the open.
    ScopedFd fd(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
    if (fd.get() < 0) return FailFromErrno(errno).At("open");
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) return FailFromErrno(errno).At("open");
    if (!S_ISREG(opened.st_mode)) return Fail(ErrorCode::kAccessDenied).At("open");
    auto locked = TryLockWholeFile(fd.get(), FileLockKind::kExclusive);
    if (!locked.ok()) return locked.error().At("lock");
    // The previous holder may have renamed or deleted the file between our open and our lock;
    // then we hold a lock on a file that no longer has this name (perhaps a finished download
    // now under its final name), which must not be emptied. Open the name again.
    struct stat named {};
    if (::lstat(name.c_str(), &named) != 0) {
      if (errno == ENOENT) continue;
      return FailFromErrno(errno).At("open");
    }
    if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) continue;
    if (::ftruncate(fd.get(), 0) != 0) return FailFromErrno(errno).At("truncate");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
      return FailFromErrno(errno).At("open");
    }
    return fd;
  }
  return Fail(ErrorCode::kSharingViolation).At("lock");
}

}  // namespace

StagedFile::StagedFile(std::u16string final_path, std::u16string temp_path, ScopedFd fd)
    : final_path_(std::move(final_path)), temp_path_(std::move(temp_path)), fd_(std::move(fd)) {}

ErrorOr<StagedFile> StagedFile::Create(std::u16string final_path, std::u16string_view suffix) {
  std::u16string temp_path = final_path + std::u16string(suffix);
  auto fd = OpenLocked(ToUtf8(temp_path));
  if (!fd.ok()) return fd.error();
  return StagedFile(std::move(final_path), std::move(temp_path), std::move(*fd));
}

StagedFile::~StagedFile() {
  if (fd_.get() < 0) return;  // moved from
  if (!keep_) {
    // Our descriptor still holds the lock: the name is ours to delete. A directory that has
    // taken the name meanwhile is not.
    const std::string name = ToUtf8(temp_path_);
    struct stat named {};
    if (::lstat(name.c_str(), &named) == 0 && !S_ISDIR(named.st_mode)) ::unlink(name.c_str());
  }
}

ErrorOr<void> StagedFile::Write(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno(errno).At("write");
    }
    if (n == 0) return Fail(ErrorCode::kDiskFull).At("write");
    written_ += static_cast<uint64_t>(n);
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

ErrorOr<void> StagedFile::Commit() {
  if (keep_) return Fail(ErrorCode::kInvalidHandle).At("commit");
  while (::fsync(fd_.get()) != 0) {
    if (errno != EINTR) return FailFromErrno(errno).At("flush");
  }
  // From here the complete file is kept, even when it cannot take the final name.
  keep_ = true;
  const std::string target = ToUtf8(final_path_);
  if (::rename(ToUtf8(temp_path_).c_str(), target.c_str()) != 0) {
    return FailFromErrno(errno).At("rename");
  }
  // Make the new name durable as well. Some file systems refuse to sync a folder; the file is
  // in place either way.
  ScopedFd dir(::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
  return {};
}

}  // namespace qs::platform
