// The one qualification of local paths. Every path a page or a template names goes through
// QualifyPath before it is compared or acted on, so that an access check and the action after
// it always see the same file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qs {

// Qualified paths are kept below this many UTF-16 units, as in the buffers the client's paths
// have always been qualified into; anything longer is refused.
inline constexpr size_t kMaxQualifiedPathLength = 260;

// Both "\" and "/" separate components of the paths pages and templates name.
constexpr bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The absolute, lexically canonical form of `path`, with "/" as separator:
// - "\" and "/" both separate, repeated separators count as one;
// - "." components vanish and ".." removes the component before it ("/.." stays "/");
//   links are not followed;
// - a relative path is taken against the process's current directory;
// - a trailing separator on the input is kept (after "." or ".." as last component none is
//   added), and the root is "/".
// Empty on failure: an empty path, a path holding a NUL (the system would see a shorter one), a
// current directory that cannot be read, or a result of kMaxQualifiedPathLength units or more.
std::u16string QualifyPath(std::u16string_view path);

// The same, with `current_dir` (an absolute path) standing for the current directory.
std::u16string QualifyPath(std::u16string_view path, std::u16string_view current_dir);

// Position of the last "\" or "/" in `path`, npos when there is none.
size_t FindLastSeparator(std::u16string_view path);

// The text up to and including the last separator; empty when there is none.
std::u16string_view DirectoryPart(std::u16string_view path);

// Whether `path` ends with "\" or "/".
bool EndsWithSeparator(std::u16string_view path);

}  // namespace qs
