// The dialog routines beneath the picker methods and the working-directory picker.
//
// They show a dialog, give back what the user chose and say why nothing was chosen; they grant
// nothing and know nothing of the operation scope. Titles come from the caller, already looked
// up by text id at the moment of the call. A null backend (no display and no script) cancels
// every dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"
#include "platform/dialogs.h"
#include "resources/text_ids.h"

namespace qs {

// What a picker routine ended with: a choice, or the reason there is none (0 after a cancel,
// otherwise the dialog's failure code, such as platform::kFileDialogBufferTooSmall).
class [[nodiscard]] PickerStatus {
 public:
  static PickerStatus Chosen() { return PickerStatus(true, 0); }
  static PickerStatus NotChosen(uint32_t dialog_error) { return PickerStatus(false, dialog_error); }

  bool chosen() const { return chosen_; }
  explicit operator bool() const { return chosen_; }
  // 0 when chosen or cancelled.
  uint32_t dialog_error() const { return dialog_error_; }

 private:
  PickerStatus(bool chosen, uint32_t error) : chosen_(chosen), dialog_error_(error) {}
  bool chosen_;
  uint32_t dialog_error_;
};

// Shows the folder picker. In: `folder` is the start folder (an absolute path, shown
// preselected), or empty for none. On a choice `folder` becomes the chosen folder; otherwise
// it is left as it was.
PickerStatus ShowFolderPicker(platform::Dialogs* dialogs, std::u16string_view title,
                              std::u16string& folder);

// Shows the file picker for existing files and appends every chosen file, in the dialog's
// order, to `picked`; `picked` is untouched when nothing was chosen. `initial_dir` empty: the
// dialog's default.
PickerStatus ShowFilePicker(platform::Dialogs* dialogs, std::u16string_view title,
                            std::vector<std::u16string>& picked, std::u16string_view initial_dir,
                            platform::FileSelection selection);

// Asks for one file, starting from the path the page gave. "\" and "/" both separate; the
// directory part (up to and including the last separator) is the initial directory and the
// name fills "%s" of `title_format`; a path without a separator is the initial directory
// itself, with an empty name in the title. On a choice `path` becomes the chosen file's full
// path; otherwise it is left as it was.
PickerStatus PickFileToLocate(platform::Dialogs* dialogs, std::u16string_view title_format,
                              std::u16string& path);

// The control's message text for an id, looked up when needed.
using TextSource = std::function<std::u16string(TextId)>;

// The script result for a file picker that gave nothing: the integer 0 after a cancel; for
// "name buffer too small" (0x3002) the system's text for an invalid file name (123); for any
// other code, or when the system has no text, text 312 followed by " (code)".
Variant MakePickerFailureResult(const PickerStatus& status, const TextSource& texts);

}  // namespace qs
