// The control's session against a real server on 127.0.0.1.
#include "transfer/session.h"

#include <gtest/gtest.h>

#include <array>

#include "base/text.h"
#include "devserver/server.h"
#include "support/temp_dir.h"
#include "transfer/error_text.h"
#include "transfer/scripted_transfer.h"
#include "transfer/transfer_slot.h"

namespace qs {
namespace {

using qs::testing::Script;
using qs::testing::ScriptedTransfer;
using qs::testing::TempDir;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qs::testing::WriteFile(dir_ / "a.txt", "hello");
    server_ = std::make_unique<devserver::Server>(devserver::Options{dir_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
  }

  std::string Url(const std::string& target) const { return server_->base_url() + target; }

  TempDir dir_;
  std::unique_ptr<devserver::Server> server_;
};

// What a worker does with the borrowed session: one GET, its body read to the end.
TransferState FetchWhole(ScriptedTransfer& t, const std::string& url) {
  auto request = t.session()->OpenUrl(url);
  if (!request.ok()) {
    t.SetError(FormatErrorText(request.code()));
    return TransferState::kFailed;
  }
  std::array<std::byte, 4096> buffer;
  uint64_t total = 0;
  for (int reads = 0; reads < 1000; ++reads) {
    auto n = (*request)->Read(buffer);
    if (!n.ok()) {
      t.SetError(FormatErrorText(n.code()));
      return TransferState::kFailed;
    }
    if (*n == 0) break;
    total += *n;
    t.SetBytesTransferred(total);
  }
  return TransferState::kDone;
}

TEST_F(SessionTest, TwoTransfersStartedOneAfterTheOtherOpenTheSessionOnce) {
  ScopedSessionTimeoutsForTesting short_timeouts(5000);
  InternetHandle session;
  RefPtr<TransferredFile> current;
  const uint64_t opened_before = platform::HttpSession::OpenCountForTesting();
  std::array<std::shared_ptr<Script>, 2> scripts;
  for (auto& script : scripts) {
    ASSERT_TRUE(EnsureSession(session));
    script = std::make_shared<Script>();
    const std::string url = Url("/download?file=a.txt");
    script->body = [url](ScriptedTransfer& t) { return FetchWhole(t, url); };
    ASSERT_EQ(StartTransfer(current, MakeRef<ScriptedTransfer>(script, session.handle())).type(),
              Variant::Type::kInt32);
  }
  EXPECT_EQ(platform::HttpSession::OpenCountForTesting(), opened_before + 1);

  current.reset();
  for (auto& script : scripts) {
    script->proceed.Open();
    ASSERT_TRUE(script->destroyed.Wait());
    EXPECT_EQ(script->state_at_destruction.load(), TransferState::kDone);
  }
  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) {
    bool agent_seen = false;
    for (const auto& [name, value] : r.headers) {
      if (EqualsIgnoreCase(FromAscii(name), u"User-Agent")) {
        EXPECT_EQ(value, kSessionAgent);
        agent_seen = true;
      }
    }
    EXPECT_TRUE(agent_seen);
  }
}

// The control goes away while its transfer's worker is inside a request: closing the session
// aborts that request, the worker records the failure in its own object and ends; nothing it
// holds is freed under it.
TEST_F(SessionTest, WorkerOutlivesItsControlAndEndsOnTheClosedSession) {
  server_->AddFault(devserver::Fault::StallBeforeHead());
  auto script = std::make_shared<Script>();
  const std::string url = Url("/download?file=a.txt");
  script->body = [url](ScriptedTransfer& t) { return FetchWhole(t, url); };
  std::shared_ptr<platform::HttpSession> observed;
  {
    // The control: its session handle and its slot.
    InternetHandle session;
    RefPtr<TransferredFile> current;
    ASSERT_TRUE(EnsureSession(session));
    observed = session.handle();
    ASSERT_EQ(StartTransfer(current, MakeRef<ScriptedTransfer>(script, session.handle())).type(),
              Variant::Type::kInt32);
    script->proceed.Open();
    ASSERT_TRUE(qs::testing::WaitUntil([&] { return !server_->requests().empty(); }));
    current.reset();
  }  // the session handle closes the session here
  EXPECT_TRUE(observed->IsClosed());
  ASSERT_TRUE(script->destroyed.Wait());
  EXPECT_EQ(script->state_at_destruction.load(), TransferState::kFailed);
  EXPECT_EQ(script->destructions.load(), 1);
  // A closed session refuses new requests and says why.
  auto again = observed->OpenUrl(url);
  EXPECT_EQ(again.code(), ToUint(ErrorCode::kInternetOperationCancelled));
  server_->Stop();
}

}  // namespace
}  // namespace qs
