#include "workdir/path_qualify.h"

#include <vector>

#include "platform/file_system.h"

namespace qs {

namespace {

// Appends the components of `path` to `parts`, resolving "." and ".." against what is there.
void AddComponents(std::u16string_view path, std::vector<std::u16string_view>& parts) {
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = pos;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    const std::u16string_view part = path.substr(pos, end - pos);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
}

}  // namespace

std::u16string QualifyPath(std::u16string_view path, std::u16string_view current_dir) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return {};
  std::vector<std::u16string_view> parts;
  if (!IsPathSeparator(path.front())) {
    if (current_dir.empty() || !IsPathSeparator(current_dir.front())) return {};
    AddComponents(current_dir, parts);
  }
  AddComponents(path, parts);

  std::u16string result;
  for (const auto part : parts) {
    result += u'/';
    result += part;
    if (result.size() >= kMaxQualifiedPathLength) return {};
  }
  if (result.empty() || EndsWithSeparator(path)) result += u'/';
  if (result.size() >= kMaxQualifiedPathLength) return {};
  return result;
}

std::u16string QualifyPath(std::u16string_view path) {
  if (path.empty()) return {};
  if (IsPathSeparator(path.front())) return QualifyPath(path, u"/");
  auto current = platform::CurrentDirectory();
  if (!current.ok()) return {};
  return QualifyPath(path, *current);
}

size_t FindLastSeparator(std::u16string_view path) { return path.find_last_of(u"\\/"); }

std::u16string_view DirectoryPart(std::u16string_view path) {
  const size_t cut = FindLastSeparator(path);
  return cut == std::u16string_view::npos ? std::u16string_view() : path.substr(0, cut + 1);
}

bool EndsWithSeparator(std::u16string_view path) {
  return !path.empty() && IsPathSeparator(path.back());
}

}  // namespace qs
