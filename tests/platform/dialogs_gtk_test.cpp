// The GTK backend on a real display: opens dialogs and closes them with key presses sent by
// xdotool, as a user would. Needs a display (scripts/with-display gives a private Xvfb) and
// xdotool; skipped otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "base/text.h"
#include "platform/dialogs.h"
#include "platform/dialogs_gtk_screenshot.h"
#include "support/temp_dir.h"

// Fontconfig keeps its font caches for the life of the process; LeakSanitizer reports them
// once GTK has drawn text. They are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace qs::platform {
namespace {

// Standard output of a shell command ("" when it fails).
std::string Capture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  std::array<char, 256> buffer{};
  while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr) {
    out += buffer.data();
  }
  return out;
}

bool HaveXdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

// The X window whose title is exactly `title`, waiting while it is being mapped (bounded).
std::string FindWindow(const std::string& title) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string id = Capture("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
    if (auto end = id.find('\n'); end != std::string::npos) return id.substr(0, end);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

bool SendKey(const std::string& window, const std::string& key) {
  return std::system(("xdotool windowfocus --sync " + window + " key --clearmodifiers " + key +
                      " >/dev/null 2>&1")
                         .c_str()) == 0;
}

// Where pictures taken by tests are kept: $QSFT_ARTIFACT_DIR, else "artifacts" beside the
// test binary.
std::filesystem::path ArtifactDir() {
  if (const char* dir = std::getenv("QSFT_ARTIFACT_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "artifacts";
}

class GtkDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "GLib's worker threads hand memory over through primitives that "
                    "ThreadSanitizer cannot see, so every dialog reports races inside GLib; "
                    "the handoff to the GTK thread is covered by the OwnerThread tests";
#endif
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      GTEST_SKIP() << "no display (run the tests through scripts/with-display)";
    }
    if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
    dialogs_ = GtkDialogs();
    if (dialogs_ == nullptr) GTEST_SKIP() << "GTK cannot open the display " << display;
    // Keyboard focus is one per display: tests running in parallel processes take turns.
    const std::string lock = "/tmp/qsft-dialog-tests-" + std::string(display) + ".lock";
    lock_fd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock_fd_, 0);
    ASSERT_EQ(flock(lock_fd_, LOCK_EX), 0);
  }

  void TearDown() override {
    if (lock_fd_ >= 0) close(lock_fd_);  // releases the lock
  }

  // Runs `show` on a thread of its own, as a page or a worker would, and gives its result.
  // The thread owns everything it uses, so a dialog that is never closed cannot outlive
  // the test's state.
  template <typename F>
  static auto ShowAsync(F show) {
    using R = decltype(show());
    auto task = std::make_shared<std::packaged_task<R()>>(std::move(show));
    auto result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    return result;
  }

  template <typename R>
  static bool Closed(std::future<R>& result) {
    // Bounded: a dialog that does not close is reported as a failure, not waited for forever.
    return result.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  }

  Dialogs* dialogs_ = nullptr;
  int lock_fd_ = -1;
};

std::string UniqueTitle(const char* what) {
  return std::string("qsft-test-") + what + "-" + std::to_string(getpid());
}

TEST_F(GtkDialogsTest, FolderPickerOpensAndEscapeCancelsIt) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir / "start");
  const std::string title = UniqueTitle("folder");
  FolderPickerRequest request(FromUtf8(title), FromUtf8((dir / "start").string()));
  auto result = ShowAsync([dialogs = dialogs_, request] { return dialogs->PickFolder(request); });

  const std::string window = FindWindow(title);
  ASSERT_FALSE(window.empty()) << "the folder picker never appeared";
  std::error_code ignored;
  std::filesystem::create_directories(ArtifactDir(), ignored);
  const auto picture = ArtifactDir() / "gtk-folder-picker.png";
  if (!SaveGtkScreenshot(picture.string())) {
    std::fprintf(stderr, "note: no screenshot of the folder picker was saved\n");
  }
  ASSERT_TRUE(SendKey(window, "Escape"));

  ASSERT_TRUE(Closed(result));
  EXPECT_TRUE(result.get().cancelled());
}

TEST_F(GtkDialogsTest, FilePickerReturnsTheTypedFile) {
  testing::TempDir dir;
  const std::string name = UniqueTitle("picked") + ".txt";
  testing::WriteFile(dir / name, "x");
  const std::string title = UniqueTitle("file");
  FilePickerRequest request(FromUtf8(title), FromUtf8(dir.path().string()));
  auto result = ShowAsync([dialogs = dialogs_, request] { return dialogs->PickFiles(request); });

  const std::string window = FindWindow(title);
  ASSERT_FALSE(window.empty()) << "the file picker never appeared";
  ASSERT_TRUE(SendKey(window, "ctrl+l"));
  ASSERT_EQ(std::system(("xdotool type --delay 10 '" + (dir / name).string() + "'").c_str()), 0);
  ASSERT_TRUE(SendKey(window, "Return"));

  ASSERT_TRUE(Closed(result));
  auto files = result.get();
  ASSERT_TRUE(files.chosen());
  ASSERT_EQ(files.value().size(), 1u);
  EXPECT_EQ(ToUtf8(files.value()[0]), (dir / name).string());
}

TEST_F(GtkDialogsTest, MessageBoxAnswersAsPressed) {
  struct Case {
    const char* name;
    MessageButtons buttons;
    const char* key;
    MessageAnswer expected;
  };
  const Case cases[] = {
      {"escape-on-question", MessageButtons::kYesNo, "Escape", MessageAnswer::kNo},
      {"yes-by-mnemonic", MessageButtons::kYesNo, "alt+y", MessageAnswer::kYes},
      {"enter-on-notice", MessageButtons::kOk, "Return", MessageAnswer::kOk},
      {"escape-on-notice", MessageButtons::kOk, "Escape", MessageAnswer::kCancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string caption = UniqueTitle(c.name);
    MessageBoxRequest request(u"Allow access to \"a %s <b>.txt\"?", FromUtf8(caption),
                              MessageIcon::kQuestion, c.buttons);
    auto result =
        ShowAsync([dialogs = dialogs_, request] { return dialogs->ShowMessage(request); });
    const std::string window = FindWindow(caption);
    ASSERT_FALSE(window.empty()) << "the message box never appeared";
    ASSERT_TRUE(SendKey(window, c.key));
    ASSERT_TRUE(Closed(result));
    EXPECT_EQ(result.get(), c.expected);
  }
}

TEST_F(GtkDialogsTest, CredentialsPromptReturnsWhatWasTyped) {
  const std::string server = UniqueTitle("server");
  CredentialsRequest request(FromUtf8(server), u"Quillstone", u"alice");
  auto result =
      ShowAsync([dialogs = dialogs_, request] { return dialogs->AskCredentials(request); });
  const std::string window = FindWindow("Authentication Required");
  ASSERT_FALSE(window.empty()) << "the credentials prompt never appeared";
  // The password field has the focus when a user name is proposed.
  ASSERT_EQ(std::system(("xdotool windowfocus --sync " + window +
                         " type --delay 20 'pa ss' >/dev/null 2>&1")
                            .c_str()),
            0);
  ASSERT_TRUE(SendKey(window, "Return"));
  ASSERT_TRUE(Closed(result));
  auto credentials = result.get();
  ASSERT_TRUE(credentials.chosen());
  EXPECT_EQ(credentials.value().user, u"alice");
  EXPECT_EQ(credentials.value().password, u"pa ss");
}

}  // namespace
}  // namespace qs::platform
