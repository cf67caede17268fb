// What the user has shown the control with a picker: the operation scope, and the request bits
// that callers of the access decision state their purpose with.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace qs {

// Request bits. A caller states what it wants to do as a mask of these; each bit names a kind of
// grant that may satisfy it. The values are the ones pages and administrators know them by.
enum class ScopeBit : uint8_t {
  kWorkDir = 0x01,        // the working directory
  kWorkDir2 = 0x02,       // the working directory
  kDownloadDir = 0x04,    // a folder picked for downloads
  kExportDir = 0x08,      // a folder picked for exports
  kLocatedDir = 0x10,     // the folder of a located file (and all such)
  kPickedFile = 0x20,     // a file picked one by one
  kPickedFolder = 0x40,   // a folder whose files were picked
  kWorkDirDelete = 0x80,  // the working directory
};

inline constexpr ScopeBit kEveryScopeBit[] = {ScopeBit::kWorkDir,      ScopeBit::kWorkDir2,
                                              ScopeBit::kDownloadDir,  ScopeBit::kExportDir,
                                              ScopeBit::kLocatedDir,   ScopeBit::kPickedFile,
                                              ScopeBit::kPickedFolder, ScopeBit::kWorkDirDelete};

// A set of request bits. It is made only from named bits (`ScopeBit::kWorkDir |
// ScopeBit::kExportDir`), never from a number, so a mask that names no known purpose cannot be
// written.
class AccessMask {
 public:
  constexpr AccessMask() = default;                                         // no bit
  constexpr AccessMask(ScopeBit bit) : bits_(static_cast<uint8_t>(bit)) {}  // NOLINT: one bit

  constexpr AccessMask operator|(AccessMask other) const { return AccessMask(bits_ | other.bits_); }
  constexpr bool Has(ScopeBit bit) const { return (bits_ & static_cast<uint8_t>(bit)) != 0; }
  constexpr bool HasAny(AccessMask other) const { return (bits_ & other.bits_) != 0; }
  // The bits as pages know the mask (0x1D for FileExist), for messages and tests.
  constexpr uint8_t value() const { return bits_; }
  constexpr bool operator==(const AccessMask&) const = default;

 private:
  constexpr explicit AccessMask(int bits) : bits_(static_cast<uint8_t>(bits)) {}
  uint8_t bits_ = 0;
};

constexpr AccessMask operator|(ScopeBit a, ScopeBit b) { return AccessMask(a) | b; }

// The kinds of directory scope a picker sets.
enum class ScopeKind : uint8_t {
  kNone,          // no directory scope
  kDownloadDir,   // SelectDownloadDir
  kExportDir,     // SelectExportDir
  kLocatedDir,    // LocateFile
  kPickedFolder,  // SelectFilesInFolder
};

// The request bit a directory scope of `kind` satisfies (kNone satisfies none).
constexpr AccessMask GrantedBits(ScopeKind kind) {
  switch (kind) {
    case ScopeKind::kNone: return {};
    case ScopeKind::kDownloadDir: return ScopeBit::kDownloadDir;
    case ScopeKind::kExportDir: return ScopeBit::kExportDir;
    case ScopeKind::kLocatedDir: return ScopeBit::kLocatedDir;
    case ScopeKind::kPickedFolder: return ScopeBit::kPickedFolder;
  }
  return {};
}

namespace scope {
// Any of these is satisfied by the working directory.
inline constexpr AccessMask kAnyWorkDir =
    ScopeBit::kWorkDir | ScopeBit::kWorkDir2 | ScopeBit::kWorkDirDelete;
}  // namespace scope

// The masks of the operations that touch local paths.
namespace access_mask {
using enum ScopeBit;
inline constexpr AccessMask kOpen = kWorkDir;
inline constexpr AccessMask kExist =  // FileExist, FolderExist
    kWorkDir | kDownloadDir | kExportDir | kLocatedDir;
inline constexpr AccessMask kFileChanged = kWorkDir | kDownloadDir | kExportDir;
inline constexpr AccessMask kUpdateFileTime = kWorkDir | kWorkDir2 | kDownloadDir | kExportDir;
inline constexpr AccessMask kDelete =
    kWorkDir | kWorkDir2 | kExportDir | kLocatedDir | kWorkDirDelete;
inline constexpr AccessMask kDownload = kWorkDir | kDownloadDir | kExportDir;  // StartFileDownload
inline constexpr AccessMask kUpload =  // StartFileUpload, GetFileSizes
    kWorkDir2 | kPickedFile | kPickedFolder | kLocatedDir;
static_assert(kOpen.value() == 0x01 && kExist.value() == 0x1D && kFileChanged.value() == 0x0D &&
              kUpdateFileTime.value() == 0x0F && kDelete.value() == 0x9B &&
              kDownload.value() == 0x0D && kUpload.value() == 0x72);
}  // namespace access_mask

struct OperationScope {
  ScopeKind kind = ScopeKind::kNone;
  // The qualified scope directory (with "/" separators); empty when kind is 0.
  std::u16string dir;
  // The picked files, exactly as they were granted (compared case-sensitively).
  std::set<std::u16string> picked_files;

  bool operator==(const OperationScope&) const = default;
};

}  // namespace qs
