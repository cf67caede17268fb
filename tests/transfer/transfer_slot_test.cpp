#include "transfer/transfer_slot.h"

#include <gtest/gtest.h>

#include "transfer/scripted_transfer.h"

namespace qs {
namespace {

using qs::testing::Script;
using qs::testing::ScriptedTransfer;

// The control's slot, with every worker released at the end so none outlives its test.
class TransferSlotTest : public ::testing::Test {
 protected:
  ~TransferSlotTest() override {
    current_.reset();
    for (auto& s : scripts_) {
      s->proceed.Open();
      EXPECT_TRUE(s->destroyed.Wait());
    }
  }

  std::shared_ptr<Script> NewScript() { return scripts_.emplace_back(std::make_shared<Script>()); }
  RefPtr<TransferredFile> NewTransfer(const std::shared_ptr<Script>& script) {
    return MakeRef<ScriptedTransfer>(script);
  }

  RefPtr<TransferredFile> current_;
  std::vector<std::shared_ptr<Script>> scripts_;
};

TEST_F(TransferSlotTest, NoTransferGivesEmptyStatusAndCancelDoesNothing) {
  EXPECT_TRUE(GetTransferStatus(current_.get()).is_empty());
  CancelTransfer(current_.get());
  EXPECT_TRUE(GetTransferStatus(current_.get()).is_empty());
}

TEST_F(TransferSlotTest, StartGivesTheTicketAndTheStatusReportsRunning) {
  auto script = NewScript();
  auto fresh = NewTransfer(script);
  const int32_t ticket = fresh->ticket();
  const Variant result = StartTransfer(current_, std::move(fresh));
  EXPECT_EQ(result, Variant::Int(ticket));
  ASSERT_TRUE(script->entered.Wait());
  EXPECT_EQ(GetTransferStatus(current_.get()), Variant::String(u"1|0|"));
}

TEST_F(TransferSlotTest, FinishedTransferStaysCurrentWithItsFinalStatus) {
  auto script = NewScript();
  script->body = [](ScriptedTransfer& t) {
    t.SetBytesTransferred(1048576);
    return TransferState::kDone;
  };
  ASSERT_EQ(StartTransfer(current_, NewTransfer(script)).type(), Variant::Type::kInt32);
  script->proceed.Open();
  ASSERT_TRUE(qs::testing::WaitUntil([&] { return current_->state() == TransferState::kDone; }));
  EXPECT_EQ(GetTransferStatus(current_.get()), Variant::String(u"10|1048576|"));
  EXPECT_EQ(script->destructions.load(), 0);  // the slot still holds it
}

TEST_F(TransferSlotTest, FailedTransferReportsItsReasonWithTheLineBreakKept) {
  auto script = NewScript();
  script->body = [](ScriptedTransfer& t) {
    t.SetBytesTransferred(8192);
    t.SetError(u"The connection with the server was reset.\r\n");
    return TransferState::kFailed;
  };
  ASSERT_EQ(StartTransfer(current_, NewTransfer(script)).type(), Variant::Type::kInt32);
  script->proceed.Open();
  ASSERT_TRUE(qs::testing::WaitUntil([&] { return current_->state() == TransferState::kFailed; }));
  EXPECT_EQ(GetTransferStatus(current_.get()),
            Variant::String(u"-1|8192|The connection with the server was reset.\r\n"));
}

TEST_F(TransferSlotTest, CancelOnlyCountsWhateverTicketThePagePassed) {
  auto script = NewScript();
  std::atomic<int32_t> seen_by_worker{-1};
  script->body = [&](ScriptedTransfer& t) {
    seen_by_worker.store(t.cancel_count());
    return t.CancelRequested() ? TransferState::kDone : TransferState::kFailed;
  };
  ASSERT_TRUE(StartTransfer(current_, NewTransfer(script)).type() == Variant::Type::kInt32);
  ASSERT_TRUE(script->entered.Wait());
  CancelTransfer(current_.get());
  CancelTransfer(current_.get());
  // Neither waits nor changes the state: the worker is still held at its gate.
  EXPECT_EQ(current_->state(), TransferState::kRunning);
  EXPECT_EQ(GetTransferStatus(current_.get()), Variant::String(u"1|0|"));
  current_.reset();
  script->proceed.Open();
  ASSERT_TRUE(script->destroyed.Wait());
  EXPECT_EQ(seen_by_worker.load(), 2);
  EXPECT_EQ(script->state_at_destruction.load(), TransferState::kDone);
}

TEST_F(TransferSlotTest, ReplacedTransferRunsToItsEndWhileStatusReportsTheNewOne) {
  auto first = NewScript();
  auto second = NewScript();
  std::atomic<bool> first_finished_its_work{false};
  first->body = [&](ScriptedTransfer& t) {
    t.SetBytesTransferred(777);
    first_finished_its_work.store(true);
    return TransferState::kDone;
  };
  ASSERT_EQ(StartTransfer(current_, NewTransfer(first)).type(), Variant::Type::kInt32);
  ASSERT_TRUE(first->entered.Wait());
  auto fresh = NewTransfer(second);
  const int32_t second_ticket = fresh->ticket();
  EXPECT_EQ(StartTransfer(current_, std::move(fresh)), Variant::Int(second_ticket));
  // The slot gave up the first one, but its worker still holds it.
  EXPECT_EQ(first->destructions.load(), 0);
  EXPECT_EQ(GetTransferStatus(current_.get()), Variant::String(u"1|0|"));
  // A cancel now reaches only the new transfer.
  CancelTransfer(current_.get());
  EXPECT_EQ(current_->cancel_count(), 1);

  first->proceed.Open();
  ASSERT_TRUE(first->destroyed.Wait());
  EXPECT_TRUE(first_finished_its_work.load());
  EXPECT_EQ(first->destructions.load(), 1);
  EXPECT_EQ(first->state_at_destruction.load(), TransferState::kDone);
  EXPECT_EQ(GetTransferStatus(current_.get()), Variant::String(u"1|0|"));
}

TEST_F(TransferSlotTest, TransferOutlivingItsSlotIsDestroyedOnceWhenItsWorkerEnds) {
  auto script = NewScript();
  ASSERT_EQ(StartTransfer(current_, NewTransfer(script)).type(), Variant::Type::kInt32);
  ASSERT_TRUE(script->entered.Wait());
  current_.reset();  // the control goes away
  EXPECT_EQ(script->destructions.load(), 0);
  script->proceed.Open();
  ASSERT_TRUE(script->destroyed.Wait());
  EXPECT_EQ(script->destructions.load(), 1);
}

TEST_F(TransferSlotTest, FailedThreadStartGivesFalseAndTheTransferStaysCurrentAndRunning) {
  auto script = NewScript();
  Variant result;
  {
    TransferredFile::ScopedFailThreadStartForTesting no_threads;
    result = StartTransfer(current_, NewTransfer(script));
  }
  EXPECT_EQ(result, Variant::Bool(false));
  ASSERT_TRUE(current_);
  EXPECT_EQ(GetTransferStatus(current_.get()), Variant::String(u"1|0|"));
  EXPECT_FALSE(script->entered.IsOpen());
  // Only the slot holds it: letting go destroys it at once, on this thread.
  current_.reset();
  EXPECT_EQ(script->destructions.load(), 1);
}

TEST_F(TransferSlotTest, NullTransferLeavesTheSlotAlone) {
  auto script = NewScript();
  ASSERT_EQ(StartTransfer(current_, NewTransfer(script)).type(), Variant::Type::kInt32);
  TransferredFile* before = current_.get();
  EXPECT_EQ(StartTransfer(current_, nullptr), Variant::Bool(false));
  EXPECT_EQ(current_.get(), before);
}

}  // namespace
}  // namespace qs
