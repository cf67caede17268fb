// What the user has shown the control with a picker: the operation scope, and the request bits
// that callers of the access decision state their purpose with.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace qs {

// Request bits. A caller states what it wants to do as a mask of these; each bit names a kind of
// grant that may satisfy it. A directory scope of kind K satisfies a mask holding every bit of K.
namespace scope {
inline constexpr uint32_t kWorkDir = 0x01;        // the working directory
inline constexpr uint32_t kWorkDir2 = 0x02;       // the working directory
inline constexpr uint32_t kDownloadDir = 0x04;    // a folder picked for downloads
inline constexpr uint32_t kExportDir = 0x08;      // a folder picked for exports
inline constexpr uint32_t kLocatedDir = 0x10;     // the folder of a located file (and all such)
inline constexpr uint32_t kPickedFile = 0x20;     // a file picked one by one
inline constexpr uint32_t kPickedFolder = 0x40;   // the parent of a folder whose files were picked
inline constexpr uint32_t kWorkDirDelete = 0x80;  // the working directory

// Any of these is satisfied by the working directory.
inline constexpr uint32_t kAnyWorkDir = kWorkDir | kWorkDir2 | kWorkDirDelete;
}  // namespace scope

// The masks of the operations that touch local paths.
namespace access_mask {
inline constexpr uint32_t kOpen = 0x01;
inline constexpr uint32_t kExist = 0x1D;  // FileExist, FolderExist
inline constexpr uint32_t kFileChanged = 0x0D;
inline constexpr uint32_t kUpdateFileTime = 0x0F;
inline constexpr uint32_t kDelete = 0x9B;
inline constexpr uint32_t kDownload = 0x0D;  // StartFileDownload
inline constexpr uint32_t kUpload = 0x72;    // StartFileUpload, GetFileSizes
}  // namespace access_mask

struct OperationScope {
  // 0: no directory scope; otherwise one of kDownloadDir, kExportDir, kLocatedDir, kPickedFolder.
  uint32_t kind = 0;
  // The qualified scope directory (with "/" separators); empty when kind is 0.
  std::u16string dir;
  // The picked files, exactly as they were granted (compared case-sensitively).
  std::set<std::u16string> picked_files;

  bool operator==(const OperationScope&) const = default;
};

}  // namespace qs
