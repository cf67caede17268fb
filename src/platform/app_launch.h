// Opening files with the desktop's applications, and telling programs from documents.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// Whether the regular file at `path` is a program or otherwise runs code when opened, judged from
// its content whatever its name: it starts with "\x7fELF", "#!" or "MZ"; or its type sniffed
// from the data alone is an executable, shared library, shell script, desktop entry or DOS or
// Windows program; or it is executable by this user and holds text (a shell runs such a file);
// or a line anywhere in it is a desktop entry's group header ("[Desktop Entry]"), which a
// launcher honours after any amount of leading comment.
// A file that cannot be read counts as a program.
bool IsProgramFile(std::u16string_view path);

// The content type the desktop picks applications by for the file at `path` (its name and data,
// as the file manager sees it, e.g. "text/plain"); empty when it cannot be determined.
std::u16string ContentTypeForOpening(std::u16string_view path);

// Starts the application associated with the file's content type on the file, without waiting
// for it. 1155 (no association) when no application is associated; the launch's failure
// otherwise. The application gets no standard input or output of this process. Sets the
// thread's last error on failure.
ErrorOr<void> OpenWithDefaultApplication(std::u16string_view path);

// Starts the application with desktop-file id `app_id` (e.g. "org.example.Editor.desktop") on the
// file. 1155 when no such application is installed.
ErrorOr<void> OpenWithApplication(std::u16string_view path, std::u16string_view app_id);

}  // namespace qs::platform
