#include "transfer/transferred_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "transfer/ref_ptr.h"
#include "transfer/scripted_transfer.h"

namespace qs {
namespace {

using qs::testing::Script;
using qs::testing::ScriptedTransfer;

RefPtr<ScriptedTransfer> NewTransfer(std::shared_ptr<Script> script) {
  return qs::MakeRef<ScriptedTransfer>(std::move(script));
}

// The counter is process-wide, so only a process that has created no transfer yet shows where it
// starts: the check runs in a freshly executed copy of this test binary.
TEST(TransferTicketTest, FirstTicketOfAFreshProcessIsTwoAndTicketsCountUpByOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto first = NewTransfer(std::make_shared<Script>());
        auto second = NewTransfer(std::make_shared<Script>());
        std::exit(first->ticket() == 2 && second->ticket() == 3 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(TransferTicketTest, EveryTransferTakesTheNextTicket) {
  const int32_t expected = TransferredFile::PeekNextTicket();
  auto a = NewTransfer(std::make_shared<Script>());
  auto b = NewTransfer(std::make_shared<Script>());
  EXPECT_EQ(a->ticket(), expected);
  EXPECT_EQ(b->ticket(), expected + 1);
  EXPECT_EQ(TransferredFile::PeekNextTicket(), expected + 2);
}

TEST(TransferredFileTest, StartsCreatedWithNothingTransferred) {
  auto t = NewTransfer(std::make_shared<Script>());
  EXPECT_EQ(t->state(), TransferState::kCreated);
  EXPECT_EQ(t->StatusText(), u"0|0|");
  EXPECT_EQ(t->cancel_count(), 0);
  EXPECT_FALSE(t->CancelRequested());
}

struct StatusCase {
  TransferState state;
  uint64_t bytes;
  std::u16string text;
  std::u16string expected;
};

TEST(TransferredFileTest, StatusTextIsStateBytesAndTextAsStored) {
  const StatusCase cases[] = {
      {TransferState::kRunning, 65536, u"", u"1|65536|"},
      {TransferState::kDone, 1048576, u"", u"10|1048576|"},
      {TransferState::kFailed, 8192, u"TransferError", u"-1|8192|TransferError"},
      {TransferState::kFinishing, 4096, u"answer", u"2|4096|answer"},
      // A text with its own "|" and a trailing line break comes back whole.
      {TransferState::kFailed, 0, u"a|b\r\n", u"-1|0|a|b\r\n"},
      // The counter is 64 bits wide.
      {TransferState::kRunning, 5000000000ULL, u"", u"1|5000000000|"},
  };
  for (const auto& c : cases) {
    auto t = NewTransfer(std::make_shared<Script>());
    t->SetState(c.state);
    t->SetBytesTransferred(c.bytes);
    t->SetErrorText(c.text);
    EXPECT_EQ(t->StatusText(), c.expected);
  }
}

TEST(TransferredFileTest, SetErrorRecordsTheTextThenFails) {
  auto t = NewTransfer(std::make_shared<Script>());
  t->SetState(TransferState::kRunning);
  t->SetErrorText(u"chunk 1 accepted");
  EXPECT_EQ(t->state(), TransferState::kRunning);
  t->SetError(u"TransferError");
  EXPECT_EQ(t->state(), TransferState::kFailed);
  EXPECT_EQ(t->GetErrorText(), u"TransferError");
}

TEST(TransferredFileTest, WorkerStoresWhatRunReturnsAndDropsItsReference) {
  struct Case {
    std::function<TransferState(ScriptedTransfer&)> body;
    TransferState final_state;
  };
  const Case cases[] = {
      {nullptr, TransferState::kDone},
      {[](ScriptedTransfer&) { return TransferState::kFailed; }, TransferState::kFailed},
      // A failure recorded midway does not decide the end: Run's result does.
      {[](ScriptedTransfer& t) {
         t.SetError(u"late answer");
         return TransferState::kDone;
       },
       TransferState::kDone},
      // An exception escaping Run ends the transfer as failed instead of ending the process.
      {[](ScriptedTransfer&) -> TransferState { throw std::runtime_error("boom"); },
       TransferState::kFailed},
  };
  for (const auto& c : cases) {
    auto script = std::make_shared<Script>();
    script->body = c.body;
    auto t = NewTransfer(script);
    ASSERT_TRUE(t->Start());
    t.reset();  // only the worker holds it now
    script->proceed.Open();
    ASSERT_TRUE(script->destroyed.Wait());
    EXPECT_EQ(script->state_at_destruction.load(), c.final_state);
    EXPECT_EQ(script->destructions.load(), 1);
  }
}

TEST(TransferredFileTest, FailingThreadStartKeepsRunningAndGivesBackTheWorkersReference) {
  auto script = std::make_shared<Script>();
  auto t = NewTransfer(script);
  {
    TransferredFile::ScopedFailThreadStartForTesting no_threads;
    EXPECT_FALSE(t->Start());
  }
  EXPECT_EQ(t->state(), TransferState::kRunning);
  EXPECT_FALSE(script->entered.IsOpen());
  EXPECT_EQ(script->destructions.load(), 0);
  t.reset();  // the one remaining reference: no worker reference was left behind
  EXPECT_EQ(script->destructions.load(), 1);
}

// A status read racing the worker's text and counter updates sees one whole text and a counter
// the worker wrote, never a mix. Run under ThreadSanitizer as well.
TEST(TransferredFileTest, StatusReadNeverSeesAHalfWrittenText) {
  const std::u16string shortText(100, u'a');
  const std::u16string longText(5000, u'b');
  constexpr int kWrites = 20000;
  auto script = std::make_shared<Script>();
  std::atomic<bool> writing_done{false};
  script->body = [&](ScriptedTransfer& t) {
    for (int i = 1; i <= kWrites; ++i) {
      t.SetErrorText(i % 2 ? longText : shortText);
      t.SetBytesTransferred(static_cast<uint64_t>(i));
    }
    writing_done.store(true);
    return TransferState::kDone;
  };
  auto t = NewTransfer(script);
  ASSERT_TRUE(t->Start());
  script->proceed.Open();
  int torn = 0;
  for (int reads = 0; reads < 200000 && !writing_done.load(); ++reads) {
    const std::u16string status = t->StatusText();
    const auto first = status.find(u'|');
    const auto second = status.find(u'|', first + 1);
    const std::u16string text = status.substr(second + 1);
    if (!(text.empty() || text == shortText || text == longText)) ++torn;
  }
  EXPECT_EQ(torn, 0);
  t.reset();
  ASSERT_TRUE(script->destroyed.Wait());
}

TEST(RefPtrTest, CountsReferencesAndDestroysOnce) {
  auto script = std::make_shared<Script>();
  RefPtr<ScriptedTransfer> a = NewTransfer(script);
  {
    RefPtr<TransferredFile> b = a;  // upcast copy adds one
    RefPtr<TransferredFile> c = std::move(b);
    EXPECT_FALSE(b);
    a.reset();
    EXPECT_EQ(script->destructions.load(), 0);
    c = c;  // self-assignment keeps it alive
    EXPECT_EQ(script->destructions.load(), 0);
  }
  EXPECT_EQ(script->destructions.load(), 1);
}

}  // namespace
}  // namespace qs
