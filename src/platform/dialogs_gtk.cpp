// The GTK 3 dialogs backend.
//
// GTK is not thread-safe and can be initialised once per process. The backend therefore owns
// one thread that initialises GTK and runs every dialog, one after the other; a caller on any
// thread hands its dialog over and waits for the answer. Between dialogs the thread sleeps on
// its queue, so nothing else in the process needs to run a GLib main loop.
//
// The backend is never destroyed: GTK cannot be shut down, and when the process exits a dialog
// may still be open on the GTK thread (a worker's credentials prompt), which a join would wait
// for forever.
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/dialogs.h"
#include "platform/dialogs_gtk_screenshot.h"
#include "platform/owner_thread.h"

namespace qs::platform {
namespace {

// ---- Owning wrappers ------------------------------------------------------------------------

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct WidgetDestroy {
  void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using WidgetPtr = std::unique_ptr<GtkWidget, WidgetDestroy>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// Lets the display catch up with windows just destroyed, so that a closed dialog is gone
// from the screen before the caller goes on.
void FlushEvents() {
  for (int i = 0; i < 1000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && path.front() == '/' && stat(path.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

bool IsExistingFile(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

// Runs on the GTK thread before any dialog.
bool InitialiseGtk() {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  // The pickers must add nothing to the desktop's list of recently used files.
  g_object_set(gtk_settings_get_default(), "gtk-recent-files-enabled", FALSE, nullptr);
  return true;
}

// ---- The dialogs, each run on the GTK thread -----------------------------------------------

GObjectPtr<GtkFileChooserNative> NewChooser(const std::u16string& title,
                                            GtkFileChooserAction action, const char* accept) {
  const std::string title8 = ToUtf8(title);
  GObjectPtr<GtkFileChooserNative> chooser(
      gtk_file_chooser_native_new(title8.c_str(), nullptr, action, accept, "_Cancel"));
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser.get()), TRUE);
  // Local files and folders only: a choice must be a path on this machine.
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser.get()), TRUE);
  return chooser;
}

DialogResult<std::u16string> RunFolderPicker(const FolderPickerRequest& request) {
  auto chooser = NewChooser(request.title, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select");
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser.get());
  gtk_file_chooser_set_create_folders(fc, TRUE);
  const std::string start = ToUtf8(request.start_folder);
  // Shown selected in its parent folder, so that accepting at once gives the start folder.
  if (IsDirectory(start)) gtk_file_chooser_set_filename(fc, start.c_str());

  const gint response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser.get()));
  gtk_native_dialog_hide(GTK_NATIVE_DIALOG(chooser.get()));
  if (response != GTK_RESPONSE_ACCEPT) return DialogResult<std::u16string>::Cancel();
  GCharPtr chosen(gtk_file_chooser_get_filename(fc));
  // Not a file-system folder: counts as cancelled.
  if (!chosen || !IsDirectory(chosen.get())) return DialogResult<std::u16string>::Cancel();
  return DialogResult<std::u16string>::Chosen(FromUtf8(chosen.get()));
}

DialogResult<std::vector<std::u16string>> RunFilePicker(const FilePickerRequest& request) {
  using Result = DialogResult<std::vector<std::u16string>>;
  auto chooser = NewChooser(request.title, GTK_FILE_CHOOSER_ACTION_OPEN, "_Open");
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser.get());
  gtk_file_chooser_set_select_multiple(fc, request.selection == FileSelection::kMultiple);
  const std::string dir = ToUtf8(request.initial_dir);
  if (IsDirectory(dir)) gtk_file_chooser_set_current_folder(fc, dir.c_str());

  const gint response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser.get()));
  gtk_native_dialog_hide(GTK_NATIVE_DIALOG(chooser.get()));
  if (response != GTK_RESPONSE_ACCEPT) return Result::Cancel();

  std::vector<std::u16string> files;
  GSList* names = gtk_file_chooser_get_filenames(fc);
  bool all_exist = true;
  for (GSList* n = names; n != nullptr; n = n->next) {
    const char* name = static_cast<const char*>(n->data);
    all_exist = all_exist && IsExistingFile(name);
    files.push_back(FromUtf8(name));
  }
  g_slist_free_full(names, g_free);
  // Only existing files can be chosen; a choice that is anything else is no choice.
  if (files.empty() || !all_exist) return Result::Cancel();
  if (request.selection == FileSelection::kSingle) files.resize(1);
  return Result::Chosen(std::move(files));
}

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kQuestion: return "dialog-question";
    case MessageIcon::kWarning: return "dialog-warning";
    case MessageIcon::kError: return "dialog-error";
  }
  return "dialog-information";
}

GtkMessageType MessageType(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kQuestion: return GTK_MESSAGE_QUESTION;
    case MessageIcon::kWarning: return GTK_MESSAGE_WARNING;
    case MessageIcon::kError: return GTK_MESSAGE_ERROR;
  }
  return GTK_MESSAGE_OTHER;
}

MessageAnswer RunMessageBox(const MessageBoxRequest& request) {
  const bool question = request.buttons == MessageButtons::kYesNo;
  const std::string text = ToUtf8(request.text);
  // "%s": the text is shown as it stands, never read as a format or as markup.
  WidgetPtr dialog(gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageType(request.icon),
                                          question ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                          text.c_str()));
  gtk_window_set_title(GTK_WINDOW(dialog.get()), ToUtf8(request.caption).c_str());
  gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog.get()), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()),
                                  question ? GTK_RESPONSE_YES : GTK_RESPONSE_OK);

  // Message dialogs show no icon by themselves: put it before the message area.
  GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog.get()));
  GtkWidget* row = gtk_widget_get_parent(area);
  if (row != nullptr && GTK_IS_BOX(row)) {
    GtkWidget* image = gtk_image_new_from_icon_name(IconName(request.icon), GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(row), image, 0);
    gtk_widget_show(image);
  }

  const gint response = gtk_dialog_run(GTK_DIALOG(dialog.get()));
  if (question) return response == GTK_RESPONSE_YES ? MessageAnswer::kYes : MessageAnswer::kNo;
  return response == GTK_RESPONSE_OK ? MessageAnswer::kOk : MessageAnswer::kCancel;
}

GtkWidget* AddEntryRow(GtkGrid* grid, int row, const char* label, GtkWidget* entry) {
  GtkWidget* caption = gtk_label_new_with_mnemonic(label);
  gtk_label_set_mnemonic_widget(GTK_LABEL(caption), entry);
  gtk_widget_set_halign(caption, GTK_ALIGN_END);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_widget_set_hexpand(entry, TRUE);
  gtk_grid_attach(grid, caption, 0, row, 1, 1);
  gtk_grid_attach(grid, entry, 1, row, 1, 1);
  return entry;
}

DialogResult<Credentials> RunCredentialsPrompt(const CredentialsRequest& request) {
  WidgetPtr dialog(gtk_dialog_new_with_buttons("Authentication Required", nullptr, GTK_DIALOG_MODAL,
                                               "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
                                               GTK_RESPONSE_OK, nullptr));
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog.get()), TRUE);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 12);

  std::string intro =
      "The server " + ToUtf8(request.server) + " asks for a user name and password.";
  if (!request.realm.empty()) intro += "\nRealm: " + ToUtf8(request.realm);
  GtkWidget* label = gtk_label_new(intro.c_str());  // plain text, not markup
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_grid_attach(GTK_GRID(grid), label, 0, 0, 2, 1);

  GtkWidget* user = AddEntryRow(GTK_GRID(grid), 1, "_User name:", gtk_entry_new());
  gtk_entry_set_text(GTK_ENTRY(user), ToUtf8(request.user).c_str());
  GtkWidget* password = AddEntryRow(GTK_GRID(grid), 2, "_Password:", gtk_entry_new());
  gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(password), GTK_INPUT_PURPOSE_PASSWORD);

  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()))), grid);
  gtk_widget_show_all(grid);
  gtk_widget_grab_focus(request.user.empty() ? user : password);

  if (gtk_dialog_run(GTK_DIALOG(dialog.get())) != GTK_RESPONSE_OK) {
    return DialogResult<Credentials>::Cancel();
  }
  Credentials credentials{FromUtf8(gtk_entry_get_text(GTK_ENTRY(user))),
                          FromUtf8(gtk_entry_get_text(GTK_ENTRY(password)))};
  return DialogResult<Credentials>::Chosen(std::move(credentials));
}

DialogResult<std::u16string> RunAppChooser(const AppChooserRequest& request) {
  using Result = DialogResult<std::u16string>;
  WidgetPtr dialog;
  if (!request.content_type.empty()) {
    dialog.reset(gtk_app_chooser_dialog_new_for_content_type(nullptr, GTK_DIALOG_MODAL,
                                                             ToUtf8(request.content_type).c_str()));
  } else {
    GObjectPtr<GFile> file(g_file_new_for_path(ToUtf8(request.file).c_str()));
    dialog.reset(gtk_app_chooser_dialog_new(nullptr, GTK_DIALOG_MODAL, file.get()));
  }
  GCharPtr base(g_path_get_basename(ToUtf8(request.file).c_str()));
  const std::string heading = std::string("Open \"") + base.get() + "\" with";
  gtk_app_chooser_dialog_set_heading(GTK_APP_CHOOSER_DIALOG(dialog.get()), heading.c_str());
  gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);

  if (gtk_dialog_run(GTK_DIALOG(dialog.get())) != GTK_RESPONSE_OK) return Result::Cancel();
  GObjectPtr<GAppInfo> app(gtk_app_chooser_get_app_info(GTK_APP_CHOOSER(dialog.get())));
  const char* id = app ? g_app_info_get_id(app.get()) : nullptr;
  if (id == nullptr || *id == '\0') return Result::Cancel();
  return Result::Chosen(FromUtf8(id));
}

// ---- The backend ----------------------------------------------------------------------------

class GtkDialogsImpl final : public Dialogs {
 public:
  bool Start() { return gtk_.Start(InitialiseGtk, FlushEvents); }

  DialogResult<std::u16string> PickFolder(const FolderPickerRequest& request) override {
    return gtk_.Run([&] { return RunFolderPicker(request); });
  }
  DialogResult<std::vector<std::u16string>> PickFiles(const FilePickerRequest& request) override {
    return gtk_.Run([&] { return RunFilePicker(request); });
  }
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override {
    return gtk_.Run([&] { return RunMessageBox(request); });
  }
  DialogResult<Credentials> AskCredentials(const CredentialsRequest& request) override {
    return gtk_.Run([&] { return RunCredentialsPrompt(request); });
  }
  DialogResult<std::u16string> ChooseApplication(const AppChooserRequest& request) override {
    return gtk_.Run([&] { return RunAppChooser(request); });
  }

 private:
  OwnerThread gtk_;
};

}  // namespace

Dialogs* GtkDialogs() {
  // Deliberately never destroyed (see the top of this file).
  static GtkDialogsImpl* const backend = [] {
    auto b = std::make_unique<GtkDialogsImpl>();
    return b->Start() ? b.release() : nullptr;
  }();
  return backend;
}

namespace {

struct ScreenshotRequest {
  std::string path;
  std::promise<bool> done;
};

gboolean TakeScreenshot(gpointer data) {
  std::unique_ptr<std::shared_ptr<ScreenshotRequest>> owner(
      static_cast<std::shared_ptr<ScreenshotRequest>*>(data));
  ScreenshotRequest& request = **owner;
  GdkWindow* root = gdk_get_default_root_window();
  GObjectPtr<GdkPixbuf> picture(gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                                           gdk_window_get_height(root)));
  const bool saved =
      picture && gdk_pixbuf_save(picture.get(), request.path.c_str(), "png", nullptr, nullptr);
  request.done.set_value(saved);
  return G_SOURCE_REMOVE;
}

}  // namespace

bool SaveGtkScreenshot(const std::string& png_path) {
  if (GtkDialogs() == nullptr) return false;
  // Shared with the callback, which may still run after a caller that stopped waiting is gone.
  auto request = std::make_shared<ScreenshotRequest>();
  request->path = png_path;
  auto saved = request->done.get_future();
  // Dispatched by the main loop of whichever dialog the GTK thread is running.
  g_idle_add(TakeScreenshot,
             std::make_unique<std::shared_ptr<ScreenshotRequest>>(request).release());
  if (saved.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return false;
  return saved.get();
}

}  // namespace qs::platform
