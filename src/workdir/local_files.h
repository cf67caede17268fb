// The script's questions about local files and its actions on them: existence, change since a
// time, setting the time, deleting into the trash and opening with the associated application.
//
// Each asks the access guard first, with its own mask (operation_scope.h), and acts only on the
// path as the guard qualified it, so that the check and the action always see the same file. A
// refused path answers false or does nothing, without a message; only OpenFile speaks to the
// user.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "resources/text_ids.h"
#include "workdir/access_guard.h"

namespace qs {

namespace platform {
class Dialogs;
}

// The control's message text for an id, looked up when it is needed.
using MessageTexts = std::function<std::u16string(TextId)>;

// A time argument: the decimal text of a file time (100-ns intervals since 1601), read as the C
// library's 64-bit conversion reads it: leading white space, an optional sign, then digits up to
// the first other character; out-of-range values saturate. Text without digits reads as 0, which
// means "no time".
int64_t ParseFileTimeText(std::u16string_view text);

// The extension of the path's last component: from its last "." on (the "." included), or empty.
std::u16string_view FileExtension(std::u16string_view path);
// Whether OpenFile refuses files with this extension (compared ignoring ASCII letter case).
bool IsBlockedExtension(std::u16string_view extension);

// True for an allowed path where a file or a directory exists.
bool FileExist(AccessGuard& guard, std::u16string_view abs_name);
// True for an allowed path where a directory exists.
bool FolderExist(AccessGuard& guard, std::u16string_view abs_name);
// Whether the file's modification time differs from `update_time`, to the 100 ns. False for an
// empty time or a refused path; true for a missing file, a time that reads as 0, or a file whose
// time cannot be read.
bool FileChanged(AccessGuard& guard, std::u16string_view abs_name, std::u16string_view update_time);
// Sets the modification time of an allowed regular file to `update_time` (not 0), opening it
// sharing reads only; anything that fails ends the call silently, and a directory is left alone.
void UpdateFileTime(AccessGuard& guard, std::u16string_view abs_name,
                    std::u16string_view update_time);
// Moves an allowed file or folder (with its content) to the trash; nothing where no trash is.
void DeleteFile(AccessGuard& guard, std::u16string_view abs_name);
// Opens an allowed file with its associated application. Refuses, with message 313 and the error
// icon, anything that could run code: a program by its content, a name without an extension or
// ending in ".", a blocked extension, a directory, a missing or otherwise special file. With no
// associated application the user chooses one; any other launch failure shows message 308 with
// the warning icon.
void OpenFile(AccessGuard& guard, std::u16string_view file, platform::Dialogs* dialogs,
              const MessageTexts& texts);

}  // namespace qs
