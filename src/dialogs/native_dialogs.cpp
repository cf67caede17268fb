#include "dialogs/native_dialogs.h"

#include <utility>

#include "base/error.h"
#include "resources/format_text.h"

namespace qs {

namespace {

template <typename T>
PickerStatus NotChosen(const platform::DialogResult<T>& result) {
  return PickerStatus::NotChosen(result.error());
}

}  // namespace

PickerStatus ShowFolderPicker(platform::Dialogs* dialogs, std::u16string_view title,
                              std::u16string& folder) {
  if (dialogs == nullptr) return PickerStatus::NotChosen(0);
  auto result = dialogs->PickFolder(platform::FolderPickerRequest(std::u16string(title), folder));
  if (!result.chosen()) return NotChosen(result);
  folder = std::move(result).value();
  return PickerStatus::Chosen();
}

PickerStatus ShowFilePicker(platform::Dialogs* dialogs, std::u16string_view title,
                            std::vector<std::u16string>& picked, std::u16string_view initial_dir,
                            platform::FileSelection selection) {
  if (dialogs == nullptr) return PickerStatus::NotChosen(0);
  auto result = dialogs->PickFiles(
      platform::FilePickerRequest(std::u16string(title), std::u16string(initial_dir), selection));
  if (!result.chosen()) return NotChosen(result);
  // A backend never answers a choice with no file; a single-file dialog gives one.
  auto files = std::move(result).value();
  if (files.empty()) return PickerStatus::NotChosen(0);
  if (selection == platform::FileSelection::kSingle) files.resize(1);
  for (auto& file : files) picked.push_back(std::move(file));
  return PickerStatus::Chosen();
}

PickerStatus PickFileToLocate(platform::Dialogs* dialogs, std::u16string_view title_format,
                              std::u16string& path) {
  std::u16string initial_dir = path;
  std::u16string name;
  if (const auto cut = path.find_last_of(u"\\/"); cut != std::u16string::npos) {
    initial_dir = path.substr(0, cut + 1);
    name = path.substr(cut + 1);
  }
  for (char16_t& c : initial_dir) {
    if (c == u'\\') c = u'/';
  }
  const std::u16string title = FormatText(title_format, {name});

  std::vector<std::u16string> picked;
  PickerStatus status =
      ShowFilePicker(dialogs, title, picked, initial_dir, platform::FileSelection::kSingle);
  if (status) path = std::move(picked.front());
  return status;
}

Variant MakePickerFailureResult(const PickerStatus& status, const TextSource& texts) {
  const uint32_t code = status.dialog_error();
  if (code == 0) return Variant::Int(0);
  if (code == platform::kFileDialogBufferTooSmall) {
    if (auto text = SystemErrorMessage(ToUint(ErrorCode::kInvalidName))) {
      return Variant::String(std::move(*text));
    }
  }
  return Variant::String(texts(TextId::kErrorOccurred) + u" (" + DecimalText(code) + u")");
}

}  // namespace qs
