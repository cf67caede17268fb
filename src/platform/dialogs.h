// The desktop's modal dialogs, as the control needs them.
//
// Every dialog is modal and returns when the user closes it. A dialog ends in one of three
// ways: something was chosen, the user cancelled (closing the window, Escape, a missing
// display, no scripted answer), or it failed with a code in the platform numbering (for the
// file picker, the file dialog's own codes: 0x3002 means "name buffer too small").
//
// Implementations: the GTK backend (MakeGtkDialogs, dialogs_gtk.cpp) and the scripted backend
// for tests and automation (ScriptedDialogs, dialogs_scripted.h). Every method may be called
// from any thread; a backend that needs one thread for its toolkit hands the call over and
// waits for the answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qs::platform {

// How a dialog ended: with a choice of type T, cancelled, or failed with a code.
template <typename T>
class [[nodiscard]] DialogResult {
 public:
  struct Cancelled {};
  struct Failed {
    uint32_t code = 0;
  };

  static DialogResult Chosen(T value) { return DialogResult(std::move(value)); }
  static DialogResult Cancel() { return DialogResult(Cancelled{}); }
  static DialogResult Failure(uint32_t code) { return DialogResult(Failed{code}); }

  bool chosen() const { return v_.index() == 0; }
  bool cancelled() const { return v_.index() == 1; }
  bool failed() const { return v_.index() == 2; }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  // The failure code; 0 when the dialog did not fail (chosen or cancelled).
  uint32_t error() const { return failed() ? std::get<2>(v_).code : 0; }

 private:
  explicit DialogResult(T value) : v_(std::move(value)) {}
  explicit DialogResult(Cancelled c) : v_(c) {}
  explicit DialogResult(Failed f) : v_(f) {}

  std::variant<T, Cancelled, Failed> v_;
};

// The file dialog's code for "the name buffer was too small for the selection".
inline constexpr uint32_t kFileDialogBufferTooSmall = 0x3002;

// The requests have constructors so that callers can leave trailing members out without
// tripping -Wmissing-field-initializers.
struct FolderPickerRequest {
  FolderPickerRequest() = default;
  explicit FolderPickerRequest(std::u16string t, std::u16string start = {})
      : title(std::move(t)), start_folder(std::move(start)) {}

  std::u16string title;
  // Shown expanded and preselected when not empty (an absolute path).
  std::u16string start_folder;
};

enum class FileSelection { kSingle, kMultiple };

// Only existing files can be chosen.
struct FilePickerRequest {
  FilePickerRequest() = default;
  explicit FilePickerRequest(std::u16string t, std::u16string dir = {},
                             FileSelection sel = FileSelection::kSingle)
      : title(std::move(t)), initial_dir(std::move(dir)), selection(sel) {}

  std::u16string title;
  // The folder the dialog opens in; empty: the backend's default.
  std::u16string initial_dir;
  FileSelection selection = FileSelection::kSingle;
};

enum class MessageIcon { kQuestion, kWarning, kError };
enum class MessageButtons { kYesNo, kOk };
// The button pressed. Any other way of closing the box (Escape, the window's close button)
// reports kNo for a question and kCancel for a notice.
enum class MessageAnswer { kYes, kNo, kOk, kCancel };

struct MessageBoxRequest {
  MessageBoxRequest() = default;
  MessageBoxRequest(std::u16string t, std::u16string cap, MessageIcon i, MessageButtons b)
      : text(std::move(t)), caption(std::move(cap)), icon(i), buttons(b) {}

  std::u16string text;
  std::u16string caption;
  MessageIcon icon = MessageIcon::kQuestion;
  MessageButtons buttons = MessageButtons::kYesNo;
};

// The server asks for a user name and password.
struct CredentialsRequest {
  CredentialsRequest() = default;
  CredentialsRequest(std::u16string srv, std::u16string rlm, std::u16string proposed_user = {})
      : server(std::move(srv)), realm(std::move(rlm)), user(std::move(proposed_user)) {}

  // Who asks: the server (host and port) and the realm it named, as shown to the user.
  std::u16string server;
  std::u16string realm;
  // Proposed in the user-name field; may be empty.
  std::u16string user;
};

struct Credentials {
  std::u16string user;
  std::u16string password;
};

// Choose the application to open a file with.
struct AppChooserRequest {
  AppChooserRequest() = default;
  AppChooserRequest(std::u16string f, std::u16string type)
      : file(std::move(f)), content_type(std::move(type)) {}

  std::u16string file;          // absolute path of the file to open
  std::u16string content_type;  // its content type (e.g. "text/plain"); may be empty
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The chosen folder (absolute path). A choice that is not a local folder counts as cancelled.
  virtual DialogResult<std::u16string> PickFolder(const FolderPickerRequest& request) = 0;
  // The chosen files (absolute paths), all of them and in the dialog's order; never empty
  // when chosen.
  virtual DialogResult<std::vector<std::u16string>> PickFiles(const FilePickerRequest& request) = 0;
  // Never fails: a box that cannot be shown answers as if closed (kNo / kCancel).
  virtual MessageAnswer ShowMessage(const MessageBoxRequest& request) = 0;
  virtual DialogResult<Credentials> AskCredentials(const CredentialsRequest& request) = 0;
  // The chosen application's desktop-file id (e.g. "org.example.Editor.desktop").
  virtual DialogResult<std::u16string> ChooseApplication(const AppChooserRequest& request) = 0;
};

// True for the answers that mean yes (kYes, kOk).
inline bool IsAffirmative(MessageAnswer answer) {
  return answer == MessageAnswer::kYes || answer == MessageAnswer::kOk;
}

// The GTK backend when a display can be opened, else null. The first call decides; later calls
// give the same process-wide backend (GTK can be initialised once per process). All dialogs run
// on one thread that the backend owns; callers on any thread wait for their answer.
Dialogs* GtkDialogs();

}  // namespace qs::platform
