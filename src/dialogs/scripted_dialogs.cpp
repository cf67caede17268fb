#include "dialogs/scripted_dialogs.h"

#include <utility>

namespace qs::platform {

namespace {

// A dialog with no answer, or an answer that does not fit it, is cancelled.
template <typename T>
DialogResult<T> CancelledOrFailed(const std::optional<ScriptedAnswer>& answer) {
  if (answer) {
    if (const auto* failure = std::get_if<scripted::Failure>(&*answer)) {
      return DialogResult<T>::Failure(failure->code);
    }
  }
  return DialogResult<T>::Cancel();
}

MessageAnswer Closed(MessageButtons buttons) {
  return buttons == MessageButtons::kYesNo ? MessageAnswer::kNo : MessageAnswer::kCancel;
}

bool BoxHasButton(MessageButtons buttons, MessageAnswer answer) {
  if (buttons == MessageButtons::kYesNo) {
    return answer == MessageAnswer::kYes || answer == MessageAnswer::kNo;
  }
  return answer == MessageAnswer::kOk;
}

}  // namespace

std::string_view DialogKindName(DialogKind kind) {
  switch (kind) {
    case DialogKind::kFolder: return "folder";
    case DialogKind::kFile: return "file";
    case DialogKind::kFiles: return "files";
    case DialogKind::kMessage: return "message";
    case DialogKind::kCredentials: return "credentials";
    case DialogKind::kApp: return "app";
  }
  return "";
}

std::string_view MessageIconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kQuestion: return "question";
    case MessageIcon::kWarning: return "warning";
    case MessageIcon::kError: return "error";
  }
  return "";
}

std::string_view MessageButtonsName(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kYesNo: return "yesno";
    case MessageButtons::kOk: return "ok";
  }
  return "";
}

std::string_view MessageAnswerName(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::kYes: return "yes";
    case MessageAnswer::kNo: return "no";
    case MessageAnswer::kOk: return "ok";
    case MessageAnswer::kCancel: return "cancel";
  }
  return "";
}

void ScriptedDialogs::Queue(ScriptedAnswer answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(answer));
}

void ScriptedDialogs::Queue(std::vector<ScriptedAnswer> answers) {
  std::lock_guard lock(mutex_);
  for (auto& answer : answers) answers_.push_back(std::move(answer));
}

void ScriptedDialogs::Clear() {
  std::lock_guard lock(mutex_);
  answers_.clear();
}

size_t ScriptedDialogs::PendingAnswers() const {
  std::lock_guard lock(mutex_);
  return answers_.size();
}

std::vector<ShownDialog> ScriptedDialogs::Shown() {
  std::lock_guard lock(mutex_);
  return std::exchange(shown_, {});
}

std::optional<ScriptedAnswer> ScriptedDialogs::Take(ShownDialog shown) {
  std::lock_guard lock(mutex_);
  shown_.push_back(std::move(shown));
  if (answers_.empty()) return std::nullopt;
  ScriptedAnswer answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

DialogResult<std::u16string> ScriptedDialogs::PickFolder(const FolderPickerRequest& request) {
  ShownDialog shown;
  shown.kind = DialogKind::kFolder;
  shown.title = request.title;
  shown.start = request.start_folder;
  auto answer = Take(std::move(shown));
  if (answer) {
    if (auto* folder = std::get_if<scripted::Folder>(&*answer); folder && !folder->path.empty()) {
      return DialogResult<std::u16string>::Chosen(std::move(folder->path));
    }
  }
  return CancelledOrFailed<std::u16string>(answer);
}

DialogResult<std::vector<std::u16string>> ScriptedDialogs::PickFiles(
    const FilePickerRequest& request) {
  const bool several = request.selection == FileSelection::kMultiple;
  ShownDialog shown;
  shown.kind = several ? DialogKind::kFiles : DialogKind::kFile;
  shown.title = request.title;
  shown.start = request.initial_dir;
  auto answer = Take(std::move(shown));
  if (answer) {
    if (auto* files = std::get_if<scripted::Files>(&*answer); files && !files->paths.empty()) {
      // A single-file dialog cannot give more than one file.
      if (!several) files->paths.resize(1);
      return DialogResult<std::vector<std::u16string>>::Chosen(std::move(files->paths));
    }
  }
  return CancelledOrFailed<std::vector<std::u16string>>(answer);
}

MessageAnswer ScriptedDialogs::ShowMessage(const MessageBoxRequest& request) {
  ShownDialog shown;
  shown.kind = DialogKind::kMessage;
  shown.title = request.caption;
  shown.text = request.text;
  shown.icon = request.icon;
  shown.buttons = request.buttons;
  auto answer = Take(std::move(shown));
  if (answer) {
    if (const auto* button = std::get_if<scripted::Button>(&*answer);
        button && BoxHasButton(request.buttons, button->answer)) {
      return button->answer;
    }
  }
  return Closed(request.buttons);
}

DialogResult<Credentials> ScriptedDialogs::AskCredentials(const CredentialsRequest& request) {
  ShownDialog shown;
  shown.kind = DialogKind::kCredentials;
  shown.title = request.server;
  shown.text = request.realm;
  shown.user = request.user;
  auto answer = Take(std::move(shown));
  if (answer) {
    if (auto* login = std::get_if<scripted::Login>(&*answer)) {
      return DialogResult<Credentials>::Chosen(std::move(login->credentials));
    }
  }
  return CancelledOrFailed<Credentials>(answer);
}

DialogResult<std::u16string> ScriptedDialogs::ChooseApplication(const AppChooserRequest& request) {
  ShownDialog shown;
  shown.kind = DialogKind::kApp;
  shown.text = request.file;
  shown.content_type = request.content_type;
  auto answer = Take(std::move(shown));
  if (answer) {
    if (auto* app = std::get_if<scripted::App>(&*answer); app && !app->id.empty()) {
      return DialogResult<std::u16string>::Chosen(std::move(app->id));
    }
  }
  return CancelledOrFailed<std::u16string>(answer);
}

}  // namespace qs::platform
