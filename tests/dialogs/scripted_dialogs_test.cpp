#include "dialogs/scripted_dialogs.h"

#include "base/text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace qs::platform {
namespace {

using Paths = std::vector<std::u16string>;

FilePickerRequest Several(std::u16string title) {
  return FilePickerRequest(std::move(title), {}, FileSelection::kMultiple);
}

MessageBoxRequest Question(std::u16string text) {
  return {std::move(text), u"Quillstone Web Client", MessageIcon::kQuestion,
          MessageButtons::kYesNo};
}

MessageBoxRequest Notice(MessageIcon icon) {
  return {u"note", u"Quillstone Web Client", icon, MessageButtons::kOk};
}

ShownDialog Record(DialogKind kind, std::u16string title, std::u16string start = {},
                   std::u16string text = {}) {
  ShownDialog d;
  d.kind = kind;
  d.title = std::move(title);
  d.start = std::move(start);
  d.text = std::move(text);
  return d;
}

ShownDialog MessageRecord(std::u16string text, MessageIcon icon, MessageButtons buttons) {
  ShownDialog d = Record(DialogKind::kMessage, u"Quillstone Web Client", {}, std::move(text));
  d.icon = icon;
  d.buttons = buttons;
  return d;
}

TEST(ScriptedDialogs, AnswersAreConsumedInOrderAcrossDialogKinds) {
  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Folder{u"/data/out"},
                 scripted::Files{{u"/a/x.txt", u"/a/y.txt", u"/b/z.txt"}},
                 scripted::Button{MessageAnswer::kYes}, scripted::Login{{u"alice", u"s3cret"}},
                 scripted::App{u"org.example.Editor.desktop"}});

  auto folder = dialogs.PickFolder(FolderPickerRequest(u"Pick", u"/data"));
  ASSERT_TRUE(folder.chosen());
  EXPECT_EQ(folder.value(), u"/data/out");

  auto files = dialogs.PickFiles(Several(u"Files"));
  ASSERT_TRUE(files.chosen());
  EXPECT_EQ(files.value(), (Paths{u"/a/x.txt", u"/a/y.txt", u"/b/z.txt"}));

  EXPECT_EQ(dialogs.ShowMessage(Question(u"Allow?")), MessageAnswer::kYes);

  auto login = dialogs.AskCredentials({u"127.0.0.1:8080", u"QS", u"a"});
  ASSERT_TRUE(login.chosen());
  EXPECT_EQ(login.value().user, u"alice");
  EXPECT_EQ(login.value().password, u"s3cret");

  auto app = dialogs.ChooseApplication({u"/w/r.odt", u"text/plain"});
  ASSERT_TRUE(app.chosen());
  EXPECT_EQ(app.value(), u"org.example.Editor.desktop");
  EXPECT_EQ(dialogs.PendingAnswers(), 0u);
}

TEST(ScriptedDialogs, WithoutAnAnswerEveryDialogIsCancelledAndStillRecorded) {
  ScriptedDialogs dialogs;
  EXPECT_TRUE(dialogs.PickFolder(FolderPickerRequest(u"T")).cancelled());
  EXPECT_TRUE(dialogs.PickFiles(Several(u"F")).cancelled());
  EXPECT_EQ(dialogs.ShowMessage(Question(u"Q")), MessageAnswer::kNo);
  EXPECT_EQ(dialogs.ShowMessage(Notice(MessageIcon::kError)), MessageAnswer::kCancel);
  EXPECT_TRUE(dialogs.AskCredentials({}).cancelled());
  EXPECT_TRUE(dialogs.ChooseApplication({}).cancelled());
  EXPECT_EQ(dialogs.Shown().size(), 6u);
}

TEST(ScriptedDialogs, FailureCodeReachesPickersAndPrompts) {
  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Failure{0x3002}, scripted::Failure{12290}, scripted::Failure{5},
                 scripted::Failure{7}});
  auto files = dialogs.PickFiles(Several(u"F"));
  ASSERT_TRUE(files.failed());
  EXPECT_EQ(files.error(), kFileDialogBufferTooSmall);
  auto folder = dialogs.PickFolder({});
  ASSERT_TRUE(folder.failed());
  EXPECT_EQ(folder.error(), 12290u);
  EXPECT_EQ(dialogs.AskCredentials({}).error(), 5u);
  // A message box cannot fail: it answers as closed.
  EXPECT_EQ(dialogs.ShowMessage(Question(u"Q")), MessageAnswer::kNo);
}

// An answer out of step with the dialogs is used up and cancels the dialog it meets, so that
// the following answers do not silently move up to other dialogs.
TEST(ScriptedDialogs, MismatchedAnswerIsConsumedAndCancels) {
  struct Case {
    const char* name;
    ScriptedAnswer answer;
  };
  const Case cases[] = {
      {"folder for a message box", scripted::Folder{u"/x"}},
      {"ok for a yes/no question", scripted::Button{MessageAnswer::kOk}},
      {"explicit cancel", scripted::Cancel{}},
      {"credentials for a message box", scripted::Login{{u"u", u"p"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDialogs dialogs;
    dialogs.Queue({c.answer, scripted::Button{MessageAnswer::kYes}});
    EXPECT_EQ(dialogs.ShowMessage(Question(u"first")), MessageAnswer::kNo);
    EXPECT_EQ(dialogs.ShowMessage(Question(u"second")), MessageAnswer::kYes);
  }

  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Button{MessageAnswer::kYes}, scripted::Files{{u"/f"}},
                 scripted::Folder{u"/d"}, scripted::Files{{}}});
  EXPECT_TRUE(dialogs.PickFolder({}).cancelled());
  EXPECT_TRUE(dialogs.PickFolder({}).cancelled());
  EXPECT_TRUE(dialogs.PickFiles(Several(u"F")).cancelled());
  EXPECT_TRUE(dialogs.PickFiles(Several(u"F")).cancelled()) << "an empty choice is no choice";
  EXPECT_EQ(dialogs.ShowMessage(Notice(MessageIcon::kWarning)), MessageAnswer::kCancel);
}

TEST(ScriptedDialogs, SingleFilePickerNeverReturnsSeveral) {
  ScriptedDialogs dialogs;
  dialogs.Queue(scripted::Files{{u"/a/one", u"/a/two"}});
  auto files = dialogs.PickFiles(FilePickerRequest(u"One"));
  ASSERT_TRUE(files.chosen());
  EXPECT_EQ(files.value(), (Paths{u"/a/one"}));
}

TEST(ScriptedDialogs, ShownRecordsWhatEachDialogShowedAndIsForgottenAfterReading) {
  ScriptedDialogs dialogs;
  (void)dialogs.PickFolder(FolderPickerRequest(u"Select a Working Directory", u"/w/DS1"));
  (void)dialogs.PickFiles(FilePickerRequest(u"Select File to Upload", u"/in"));
  (void)dialogs.PickFiles(Several(u"Select Files to Upload"));
  (void)dialogs.ShowMessage(Question(u"Allow access to a.txt?"));
  (void)dialogs.ShowMessage(Notice(MessageIcon::kWarning));
  (void)dialogs.AskCredentials({u"127.0.0.1:80", u"R", u"bob"});
  (void)dialogs.ChooseApplication({u"/w/a.xyz", u"application/x-q"});

  ShownDialog credentials = Record(DialogKind::kCredentials, u"127.0.0.1:80", {}, u"R");
  credentials.user = u"bob";
  ShownDialog app = Record(DialogKind::kApp, {}, {}, u"/w/a.xyz");
  app.content_type = u"application/x-q";
  const std::vector<ShownDialog> expected = {
      Record(DialogKind::kFolder, u"Select a Working Directory", u"/w/DS1"),
      Record(DialogKind::kFile, u"Select File to Upload", u"/in"),
      Record(DialogKind::kFiles, u"Select Files to Upload"),
      MessageRecord(u"Allow access to a.txt?", MessageIcon::kQuestion, MessageButtons::kYesNo),
      MessageRecord(u"note", MessageIcon::kWarning, MessageButtons::kOk),
      credentials,
      app,
  };
  EXPECT_EQ(dialogs.Shown(), expected);
  EXPECT_TRUE(dialogs.Shown().empty());
}

TEST(ScriptedDialogs, ClearDropsQueuedAnswersButKeepsTheRecord) {
  ScriptedDialogs dialogs;
  dialogs.Queue({scripted::Folder{u"/a"}, scripted::Folder{u"/b"}});
  EXPECT_EQ(dialogs.PickFolder({}).value(), u"/a");
  dialogs.Clear();
  EXPECT_EQ(dialogs.PendingAnswers(), 0u);
  EXPECT_TRUE(dialogs.PickFolder({}).cancelled());
  EXPECT_EQ(dialogs.Shown().size(), 2u);
}

TEST(ScriptedDialogs, NamesUsedByTheScriptHost) {
  EXPECT_EQ(DialogKindName(DialogKind::kFiles), "files");
  EXPECT_EQ(DialogKindName(DialogKind::kCredentials), "credentials");
  EXPECT_EQ(MessageIconName(MessageIcon::kWarning), "warning");
  EXPECT_EQ(MessageButtonsName(MessageButtons::kYesNo), "yesno");
  EXPECT_EQ(MessageAnswerName(MessageAnswer::kOk), "ok");
}

// Each answer goes to exactly one dialog, and each dialog's record sits at the same position
// as the answer it received, whichever threads show them.
TEST(ScriptedDialogs, ConcurrentDialogsEachGetOneAnswerAndOneRecord) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  ScriptedDialogs dialogs;
  std::vector<std::u16string> names;
  std::vector<ScriptedAnswer> answers;
  for (int i = 0; i < kThreads * kPerThread; ++i) {
    names.push_back(u"/f/" + FromAscii(std::to_string(i)));
    answers.push_back(scripted::Folder{names.back()});
  }
  std::thread feeder([&] { dialogs.Queue(std::move(answers)); });
  feeder.join();

  std::vector<std::map<std::u16string, int>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto r = dialogs.PickFolder(FolderPickerRequest(FromAscii(std::to_string(t))));
        if (r.chosen()) ++got[t][r.value()];
      }
    });
  }
  for (auto& th : threads) th.join();

  // Who received each answer.
  std::map<std::u16string, std::u16string> receiver;
  for (int t = 0; t < kThreads; ++t) {
    for (const auto& [name, count] : got[t]) {
      EXPECT_EQ(count, 1) << "an answer was used twice";
      EXPECT_TRUE(receiver.emplace(name, FromAscii(std::to_string(t))).second);
    }
  }
  ASSERT_EQ(receiver.size(), names.size());
  const auto shown = dialogs.Shown();
  ASSERT_EQ(shown.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(shown[i].title, receiver[names[i]]) << "record " << i << " out of step";
  }
  EXPECT_EQ(dialogs.PendingAnswers(), 0u);
}

}  // namespace
}  // namespace qs::platform
