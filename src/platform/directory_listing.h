// Listing the entries of a folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace qs::platform {

enum class EntryKind {
  kFile,       // a regular file, or a link to one
  kDirectory,  // a directory itself (a link to a directory is kOther: following it could loop)
  kOther,      // links to directories, dangling links, devices, pipes, sockets
};

struct DirectoryEntry {
  std::u16string name;
  EntryKind kind = EntryKind::kOther;
};

// The entries of the folder at `path`, in the order the file system gives them, hidden ones
// included, without "." and "..". Sets the thread's last error on failure.
ErrorOr<std::vector<DirectoryEntry>> ListDirectory(std::u16string_view path);

}  // namespace qs::platform
