// A dialogs backend that answers from a script instead of a user, for tests and automation.
//
// Answers are queued in advance and consumed one per dialog, in order, whatever the kind of
// dialog. A dialog with no queued answer is cancelled (No for a question). An answer that does
// not fit the dialog it meets (a folder for a message box, a button the box does not have) is
// consumed and also counts as cancelled, so a script that is out of step shows in the results
// instead of being silently re-aligned. Every dialog is recorded, answered or not, until
// Shown() hands the record over.
//
// Thread-safe: answers may be queued, and dialogs shown, from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/dialogs.h"

namespace qs::platform {

namespace scripted {
struct Folder {
  std::u16string path;
};
struct Files {
  std::vector<std::u16string> paths;  // a single-file dialog takes the first
};
struct Cancel {};
struct Failure {
  uint32_t code = 0;  // e.g. 0x3002 for a file dialog whose name buffer was too small
};
struct Button {
  MessageAnswer answer = MessageAnswer::kNo;  // kYes, kNo or kOk
};
struct Login {
  Credentials credentials;
};
struct App {
  std::u16string id;  // desktop-file id
};
}  // namespace scripted

using ScriptedAnswer =
    std::variant<scripted::Folder, scripted::Files, scripted::Cancel, scripted::Failure,
                 scripted::Button, scripted::Login, scripted::App>;

enum class DialogKind { kFolder, kFile, kFiles, kMessage, kCredentials, kApp };

// What a dialog showed the user.
struct ShownDialog {
  DialogKind kind = DialogKind::kFolder;
  // The window title; for a message box its caption; for the credentials prompt the server.
  std::u16string title;
  // The start folder of a folder picker, the initial directory of a file picker.
  std::u16string start;
  // The message of a message box; the realm of the credentials prompt; the file of the
  // application chooser.
  std::u16string text;
  std::optional<MessageIcon> icon;        // message boxes only
  std::optional<MessageButtons> buttons;  // message boxes only
  std::u16string user;                    // credentials prompt: the proposed user name
  std::u16string content_type;            // application chooser: the file's content type

  bool operator==(const ShownDialog&) const = default;
};

// The names the script host uses: "folder", "file", "files", "message", "credentials", "app";
// "question", "warning", "error"; "yesno", "ok"; "yes", "no", "ok", "cancel".
std::string_view DialogKindName(DialogKind kind);
std::string_view MessageIconName(MessageIcon icon);
std::string_view MessageButtonsName(MessageButtons buttons);
std::string_view MessageAnswerName(MessageAnswer answer);

class ScriptedDialogs final : public Dialogs {
 public:
  void Queue(ScriptedAnswer answer);
  void Queue(std::vector<ScriptedAnswer> answers);
  // Drops the answers still queued; the record of shown dialogs stays.
  void Clear();
  size_t PendingAnswers() const;
  // The dialogs shown since the last call, in order; the record starts afresh.
  std::vector<ShownDialog> Shown();

  DialogResult<std::u16string> PickFolder(const FolderPickerRequest& request) override;
  DialogResult<std::vector<std::u16string>> PickFiles(const FilePickerRequest& request) override;
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override;
  DialogResult<Credentials> AskCredentials(const CredentialsRequest& request) override;
  DialogResult<std::u16string> ChooseApplication(const AppChooserRequest& request) override;

 private:
  // Records `shown` and takes the next answer, both under one lock so that concurrent
  // dialogs pair record and answer consistently.
  std::optional<ScriptedAnswer> Take(ShownDialog shown);

  mutable std::mutex mutex_;
  std::deque<ScriptedAnswer> answers_;
  std::vector<ShownDialog> shown_;
};

}  // namespace qs::platform
