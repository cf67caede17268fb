// The working directory of each pair of datasource and user.
//
// The directory is remembered in the settings store under the pair's key ("UserWorkDir") and
// bound to the hosts of the pages that may use it ("AllowedSites"). When none is stored for the
// page's host, a default is built from the page's template, created on disk, and taken without
// asking the user only when it was just created inside a safe location; otherwise the user picks
// the folder. Nothing is cached: every resolution reads the store and the disk afresh.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "workdir/macro_expander.h"

namespace qs {

namespace platform {
class Dialogs;
}

// The built-in safe location: directories created below it are taken without asking.
inline constexpr std::u16string_view kSafeWorkDirTemplate =
    u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%";

// What the page asks for.
enum class WorkDirMode {
  kChoose,  // the stored directory, else a new one (asking the user unless it is safe)
  kChange,  // always let the user pick, starting from the stored directory
  kCheck,   // never ask: the stored directory, or a default just created in a safe location
};

// What a resolution works from: the control's properties and its view of the page.
struct WorkDirContext {
  std::u16string_view datasource;  // DatasourceName as the page set it
  std::u16string_view user;        // User, already free of "/" and "\"
  // The hosting page's address; nothing when the control could not get one.
  std::optional<std::u16string> page_url;
  // The folder picker's backend; null cancels the picker.
  platform::Dialogs* dialogs = nullptr;
  // The picker's title, looked up only when the picker is shown.
  std::function<std::u16string()> picker_title;
};

// Resolves the working directory. `user_work_dir` is the UserWorkDir property: read as the
// default's template, and on success overwritten with the result. Returns the directory, empty
// when there is none (and then `user_work_dir` is unchanged). Refuses a datasource name holding
// "\" or "/" (it would not be one key name, and would move the default out of its safe
// location). May create the default directory and append the page's host to "AllowedSites" even
// when it ends empty; in kCheck mode it never shows a dialog.
std::u16string ResolveWorkDir(const WorkDirContext& context, std::u16string& user_work_dir,
                              WorkDirMode mode);

// The macros of working-directory templates: "LocalAppData" (the user's local application-data
// folder), "Datasource" (the datasource name with each ":" as "_") and "User".
MacroExpander WorkDirMacros(std::u16string_view datasource, std::u16string_view user);

// Whether a freshly created directory may be taken without asking: it lies in the built-in safe
// location or in one the administrator listed under the "SafeWorkDirs" policy, each template
// expanded with `expander`. A location L covers the qualified path P when P equals L, or P
// begins with L and L ends with "/" or P continues with "/" (so ".../DS1" does not cover
// ".../DS10"). Compared exactly: file names are case-sensitive here.
bool IsSafeWorkDir(std::u16string_view path, MacroExpander expander);

}  // namespace qs
