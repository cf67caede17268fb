#include "dialogs/pickers.h"

#include <utility>

#include "platform/directory_listing.h"
#include "workdir/operation_scope.h"
#include "workdir/path_qualify.h"

namespace qs {

namespace {

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!EndsWithSeparator(path)) path += u'/';
  path += name;
  return path;
}

std::optional<std::u16string> SelectGrantedFolder(const PickerContext& context, TextId title,
                                                  ScopeKind kind) {
  std::u16string folder;
  if (!ShowFolderPicker(context.dialogs, context.texts(title), folder)) return std::nullopt;
  context.guard->SetScopeDir(folder, kind);
  return folder;
}

// The text up to and including the last separator: the parent of a folder, or the folder of a
// file; a root stays itself.
std::u16string ParentWithSeparator(std::u16string_view path) {
  std::u16string_view parent = DirectoryPart(path);
  return std::u16string(parent.empty() ? path : parent);
}

}  // namespace

void CollectFiles(std::u16string_view folder, std::vector<std::u16string>& list, bool recursively) {
  auto entries = platform::ListDirectory(folder);
  if (!entries.ok()) return;
  for (const auto& entry : *entries) {
    // Hidden files and folders are left out: no grant of a folder reaches them (CheckAccess),
    // so a page handed them could only fail to use them.
    if (entry.name.starts_with(u'.')) continue;
    switch (entry.kind) {
      case platform::EntryKind::kDirectory:
        if (recursively) CollectFiles(JoinPath(folder, entry.name), list, true);
        break;
      case platform::EntryKind::kFile: list.push_back(JoinPath(folder, entry.name)); break;
      case platform::EntryKind::kOther: break;
    }
  }
}

std::optional<std::u16string> SelectExportDir(const PickerContext& context) {
  return SelectGrantedFolder(context, TextId::kSelectExportDirTitle, ScopeKind::kExportDir);
}

std::optional<std::u16string> SelectDownloadDir(const PickerContext& context) {
  return SelectGrantedFolder(context, TextId::kSelectDownloadDirTitle, ScopeKind::kDownloadDir);
}

Variant SelectFilesInFolder(const PickerContext& context, bool recursively) {
  try {
    std::u16string folder;
    const PickerStatus status =
        ShowFolderPicker(context.dialogs, context.texts(TextId::kSelectFolderTitle), folder);
    if (!status) return MakePickerFailureResult(status, context.texts);
    std::vector<std::u16string> list;
    std::u16string base = ParentWithSeparator(folder);
    list.push_back(base);
    CollectFiles(folder, list, recursively);
    // The list starts with the parent so that the page keeps the folder's name in the paths it
    // derives; the grant is the folder the user picked, never its siblings.
    context.guard->SetScopeDir(folder, ScopeKind::kPickedFolder);
    return Variant::List(std::move(list));
  } catch (...) {
    return Variant::String(u"Exception");
  }
}

Variant SelectFiles(const PickerContext& context) {
  try {
    std::vector<std::u16string> files;
    const PickerStatus status =
        ShowFilePicker(context.dialogs, context.texts(TextId::kSelectFilesTitle), files, {},
                       platform::FileSelection::kMultiple);
    if (!status) return MakePickerFailureResult(status, context.texts);
    for (const auto& file : files) context.guard->GrantFile(file);
    return Variant::List(std::move(files));
  } catch (...) {
    return Variant::String(u"Exception");
  }
}

std::optional<std::u16string> SelectFile(const PickerContext& context) {
  try {
    std::u16string path;
    if (!PickFileToLocate(context.dialogs, context.texts(TextId::kSelectFileTitle), path)) {
      return std::nullopt;
    }
    context.guard->GrantFile(path);
    return path;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::u16string> LocateFile(const PickerContext& context,
                                         std::u16string_view file_path) {
  try {
    std::u16string path(file_path);
    if (!PickFileToLocate(context.dialogs, context.texts(TextId::kLocateFileTitle), path)) {
      return std::nullopt;
    }
    std::u16string dir(DirectoryPart(path));
    context.guard->SetScopeDir(dir, ScopeKind::kLocatedDir);
    return dir;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace qs
