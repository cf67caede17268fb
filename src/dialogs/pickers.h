// The picker methods: the native dialogs, and the grants that record what the user showed.
//
// A page cannot browse the disk; the user shows it the way with these pickers, and each choice
// becomes a grant in the control's operation scope (workdir/access_guard.h) so that the
// uploads, downloads and file operations that follow are allowed. Folders are given back with
// "/" separators, as the dialogs report them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"
#include "dialogs/native_dialogs.h"
#include "workdir/access_guard.h"

namespace qs {

// Appends the files of `folder` to `list` (folder, "/", name), in the order the file system gives
// them. Hidden files and folders (names beginning with ".") are left out, as the grant of the
// folder never reaches them (workdir/access_guard.h). With `recursively` each sub-folder's files
// are appended where the sub-folder stands, depth first; otherwise sub-folders are skipped. Links
// to folders are never followed and links to files are listed; entries that are neither files nor
// folders are left out. An unreadable folder adds nothing.
void CollectFiles(std::u16string_view folder, std::vector<std::u16string>& list, bool recursively);

// Everything a picker method needs from its control.
struct PickerContext {
  platform::Dialogs* dialogs = nullptr;  // null: every dialog is cancelled
  AccessGuard* guard = nullptr;
  TextSource texts;
};

// The chosen folder, granted as an export (kExportDir) or download (kDownloadDir) folder;
// the null string when nothing was chosen, and then the scope is untouched.
std::optional<std::u16string> SelectExportDir(const PickerContext& context);
std::optional<std::u16string> SelectDownloadDir(const PickerContext& context);
// The chosen folder's parent (ending in "/") followed by the folder's files; the chosen folder
// itself is granted as kPickedFolder. The picker failure result when nothing was chosen.
Variant SelectFilesInFolder(const PickerContext& context, bool recursively);
// The chosen files, each granted; the picker failure result when nothing was chosen.
Variant SelectFiles(const PickerContext& context);
// The chosen file, granted; nothing when none was chosen.
std::optional<std::u16string> SelectFile(const PickerContext& context);
// Asks the user to locate `file_path` (text 301 with the name); the chosen file's folder,
// ending in "/", granted as kLocatedDir and recorded for the whole process; nothing when none
// was chosen.
std::optional<std::u16string> LocateFile(const PickerContext& context,
                                         std::u16string_view file_path);

}  // namespace qs
