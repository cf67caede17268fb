// Questions about local paths and directory creation, for the core's path and working-directory
// logic. Paths are UTF-16 here and UTF-8 towards the system.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// The process's current directory as an absolute path, without a trailing "/" (except "/").
ErrorOr<std::u16string> CurrentDirectory();

// Whether something (file, directory, anything stat can see) exists at `path`, following links.
bool PathExists(std::u16string_view path);
// Whether `path` is a directory, following links.
bool IsDirectory(std::u16string_view path);

// The outcome of creating a directory with all its missing parents.
enum class DirectoryCreation { kCreated, kAlreadyExisted };

// Creates `path` (an absolute path) and every missing directory above it. kAlreadyExisted when
// the directory was there before (183 in the platform numbering). A failure carries the mapped
// errno, except that a file standing where a directory should be is 80 (the file exists): 183
// would claim a directory that is not there. Sets the thread's last error on failure.
ErrorOr<DirectoryCreation> CreateDirectoryTree(std::u16string_view path);

}  // namespace qs::platform
