#include "qsft/host_dialogs.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "dialogs/scripted_dialogs.h"
#include "qsft/host_session.h"

namespace qs::app {
namespace {

using platform::FilePickerRequest;
using platform::FileSelection;
using platform::FolderPickerRequest;
using platform::MessageAnswer;
using platform::MessageBoxRequest;
using platform::MessageButtons;
using platform::MessageIcon;

// Stands for the desktop's backend; counts how often the host asked for it.
int desktop_requests = 0;
platform::ScriptedDialogs* desktop_backend = nullptr;
platform::Dialogs* FakeDesktop() {
  ++desktop_requests;
  return desktop_backend;
}
platform::Dialogs* NoDisplay() {
  ++desktop_requests;
  return nullptr;
}

class HostDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_requests = 0;
    desktop_backend = &desktop_;
  }
  void TearDown() override { desktop_backend = nullptr; }

  platform::ScriptedDialogs desktop_;
};

TEST_F(HostDialogsTest, ModesChooseTheBackendAndADialogsOpSwitchesToScript) {
  struct Case {
    const char* name;
    DialogsMode mode;
    platform::Dialogs* (*desktop)();
    enum { kDesktop, kScript, kNull } before;
  };
  const Case cases[] = {
      {"auto with a display", DialogsMode::kAuto, FakeDesktop, Case::kDesktop},
      {"auto without a display", DialogsMode::kAuto, NoDisplay, Case::kScript},
      {"gtk", DialogsMode::kGtk, FakeDesktop, Case::kDesktop},
      {"script", DialogsMode::kScript, FakeDesktop, Case::kScript},
      {"none", DialogsMode::kNone, FakeDesktop, Case::kNull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    desktop_requests = 0;
    HostDialogs dialogs(c.mode, c.desktop);
    EXPECT_EQ(desktop_requests, 0) << "the display is opened only when a dialog is shown";
    platform::Dialogs* current = dialogs.Current();
    (void)dialogs.Current();
    EXPECT_LE(desktop_requests, 1);
    switch (c.before) {
      case Case::kDesktop: EXPECT_EQ(current, &desktop_); break;
      case Case::kScript: EXPECT_EQ(current, &dialogs.UseScript()); break;
      case Case::kNull: EXPECT_EQ(current, nullptr); break;
    }
    platform::Dialogs* script = &dialogs.UseScript();
    EXPECT_EQ(dialogs.Current(), script);
  }
}

HostOptions WithMode(DialogsMode mode) {
  HostOptions options;
  options.dialogs = mode;
  return options;
}

// A session; the options are set before the session is built from them.
struct Host {
  explicit Host(DialogsMode mode = DialogsMode::kScript) : options(WithMode(mode)) {}
  std::ostringstream diag;
  HostOptions options;
  HostSession session{options, diag};
};

TEST_F(HostDialogsTest, QueuedAnswersReachTheDialogsInOrderAndShownReportsThem) {
  Host host(DialogsMode::kNone);
  EXPECT_EQ(host.session.Answer(
                R"({"id":1,"op":"dialogs","answers":[{"folder":"/p"},{"files":["/a","/b"]},)"
                R"({"cancel":true},{"error":12290},{"button":"yes"},)"
                R"({"credentials":{"user":"u","password":"p"}},{"app":"ed.desktop"}]})"),
            R"({"id":1,"result":null})");
  platform::Dialogs* d = host.session.dialogs()->Current();
  ASSERT_NE(d, nullptr);

  auto folder = d->PickFolder(FolderPickerRequest(u"Select a Working Directory", u"/w/DS1"));
  ASSERT_TRUE(folder.chosen());
  EXPECT_EQ(folder.value(), u"/p");
  auto files =
      d->PickFiles(FilePickerRequest(u"Select Files to Upload", {}, FileSelection::kMultiple));
  ASSERT_TRUE(files.chosen());
  EXPECT_EQ(files.value(), (std::vector<std::u16string>{u"/a", u"/b"}));
  EXPECT_TRUE(d->PickFolder(FolderPickerRequest(u"t")).cancelled());
  EXPECT_EQ(d->PickFiles(FilePickerRequest(u"t")).error(), 12290u);
  EXPECT_EQ(d->ShowMessage(MessageBoxRequest(u"Allow?", u"Quillstone Web Client",
                                             MessageIcon::kQuestion, MessageButtons::kYesNo)),
            MessageAnswer::kYes);
  EXPECT_EQ(d->AskCredentials({u"127.0.0.1:8080", u"QS", u"bob"}).value().password, u"p");
  EXPECT_EQ(d->ChooseApplication({u"/w/x.odt", u"text/plain"}).value(), u"ed.desktop");
  // Nothing left: cancelled, and recorded like the others.
  EXPECT_EQ(d->ShowMessage(MessageBoxRequest(u"Gone", u"Quillstone Web Client",
                                             MessageIcon::kWarning, MessageButtons::kOk)),
            MessageAnswer::kCancel);

  EXPECT_EQ(
      host.session.Answer(R"({"id":2,"op":"shown"})"),
      R"({"id":2,"result":[)"
      R"({"kind":"folder","title":"Select a Working Directory","start":"/w/DS1"},)"
      R"({"kind":"files","title":"Select Files to Upload","start":""},)"
      R"({"kind":"folder","title":"t","start":""},)"
      R"({"kind":"file","title":"t","start":""},)"
      R"({"kind":"message","title":"Quillstone Web Client","text":"Allow?","icon":"question","buttons":"yesno"},)"
      R"({"kind":"credentials","title":"127.0.0.1:8080","text":"QS","user":"bob"},)"
      R"({"kind":"app","text":"/w/x.odt","type":"text/plain"},)"
      R"({"kind":"message","title":"Quillstone Web Client","text":"Gone","icon":"warning","buttons":"ok"}]})");
  EXPECT_EQ(host.session.Answer(R"({"id":3,"op":"shown"})"), R"({"id":3,"result":[]})");
}

TEST_F(HostDialogsTest, ClearDropsQueuedAnswers) {
  Host host;
  ASSERT_EQ(host.session.Answer(R"({"op":"dialogs","answers":[{"folder":"/a"},{"folder":"/b"}]})"),
            R"({"id":null,"result":null})");
  ASSERT_EQ(host.session.Answer(R"({"op":"dialogs","clear":true})"),
            R"({"id":null,"result":null})");
  EXPECT_TRUE(host.session.dialogs()->Current()->PickFolder(FolderPickerRequest(u"t")).cancelled());
  // Clear first, then the new answers.
  ASSERT_EQ(host.session.Answer(R"({"op":"dialogs","clear":true,"answers":[{"folder":"/c"}]})"),
            R"({"id":null,"result":null})");
  EXPECT_EQ(host.session.dialogs()->Current()->PickFolder(FolderPickerRequest(u"t")).value(),
            u"/c");
}

TEST_F(HostDialogsTest, MalformedAnswersRefuseTheWholeRequest) {
  const char* requests[] = {
      R"({"op":"dialogs"})",
      R"({"op":"dialogs","answers":{"folder":"/a"}})",
      R"({"op":"dialogs","answers":[{"folder":"/a"},{"folder":1}]})",
      R"({"op":"dialogs","answers":[{"folder":"/a","cancel":true}]})",
      R"({"op":"dialogs","answers":[{"files":["/a",2]}]})",
      R"({"op":"dialogs","answers":[{"cancel":false}]})",
      R"({"op":"dialogs","answers":[{"error":0}]})",
      R"({"op":"dialogs","answers":[{"error":4294967296}]})",
      R"({"op":"dialogs","answers":[{"error":1.5}]})",
      R"({"op":"dialogs","answers":[{"button":"maybe"}]})",
      R"({"op":"dialogs","answers":[{"credentials":{"user":"u"}}]})",
      R"({"op":"dialogs","answers":[{"credentials":{"user":"u","password":"p","x":1}}]})",
      R"({"op":"dialogs","answers":[{"window":"/a"}]})",
      R"({"op":"dialogs","clear":false})",
  };
  for (const char* request : requests) {
    SCOPED_TRACE(request);
    Host host(DialogsMode::kNone);
    const std::string answer = host.session.Answer(request);
    EXPECT_NE(answer.find(R"("error":{"code":-2147024809)"), std::string::npos) << answer;
    EXPECT_EQ(host.session.dialogs()->Current(), nullptr) << "a refused request changes nothing";
  }
}

}  // namespace
}  // namespace qs::app
