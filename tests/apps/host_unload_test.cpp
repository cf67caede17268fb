// How `qsft host` ends: its controls are destroyed and every transfer's worker is cancelled and
// waited for, so nothing is left half-written; and how many workers a page may keep running.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "devserver/server.h"
#include "qsft/host_session.h"
#include "support/temp_dir.h"
#include "transfer/scripted_transfer.h"
#include "transfer/transferred_file.h"

namespace qs::app {
namespace {

namespace fs = std::filesystem;
using qs::testing::TempDir;

class HostUnloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qs::testing::WriteFile(root_ / "big.bin", std::string(256 * 1024, 'x'));
    server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    // Every download sends a first piece, then goes silent until the server stops.
    server_->AddFault(
        devserver::Fault::StallAfter(4096).Path("/download").Times(devserver::Fault::kUnlimited));
    options_.dialogs = DialogsMode::kScript;
    session_ = std::make_unique<HostSession>(options_, diag_);
    ASSERT_EQ(Ask(R"({"op":"create","control":"a","page":")" + server_->base_url() +
                  R"(/app/page.html","zone":2})"),
              R"({"id":null,"result":null})");
    const std::string picked = target_.path().string();
    Ask(R"({"op":"dialogs","answers":[{"folder":")" + picked + R"("}]})");
    ASSERT_EQ(Ask(R"({"op":"call","control":"a","name":"SelectDownloadDir","args":[]})"),
              R"({"id":null,"result":")" + picked + R"("})");
  }
  void TearDown() override {
    session_.reset();
    server_->Stop();
  }

  std::string Ask(const std::string& line) { return session_->Answer(line); }
  std::string StartDownload(int n) {
    return Ask(
        R"({"op":"call","control":"a","name":"StartFileDownload","args":["/download?file=big.bin",")" +
        (target_.path() / ("f" + std::to_string(n) + ".bin")).string() + R"("]})");
  }
  size_t FilesInTarget() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(target_.path())) ++n;
    return n;
  }

  TempDir root_;
  TempDir target_;
  std::unique_ptr<devserver::Server> server_;
  HostOptions options_;
  std::ostringstream diag_;
  std::unique_ptr<HostSession> session_;
};

TEST_F(HostUnloadTest, EndingTheSessionInTheMiddleOfADownloadLeavesNoTemporaryFile) {
  ASSERT_NE(StartDownload(1).find(R"("result":)"), std::string::npos);
  ASSERT_TRUE(qs::testing::WaitUntil([&] { return server_->StallsInProgress() == 1; }));
  // The client writes its temporary file once the first piece has arrived.
  ASSERT_TRUE(
      qs::testing::WaitUntil([&] { return fs::exists(target_.path() / "f1.bin.!incomplete"); }));

  session_.reset();  // what the end of the input or "quit" does
  EXPECT_EQ(TransferredFile::RunningWorkers(), 0);
  EXPECT_EQ(FilesInTarget(), 0u);
}

TEST_F(HostUnloadTest, EndingTheSessionInTheMiddleOfAnUploadLeavesNoWorker) {
  const fs::path local = target_.path() / "report.bin";
  qs::testing::WriteFile(local, std::string(200 * 1024, 'r'));
  server_->AddFault(devserver::Fault::StallBeforeHead().Method("POST").Query("chunkIdx=2&"));
  Ask(R"({"op":"dialogs","answers":[{"button":"yes"}]})");
  const std::string started =
      Ask(R"({"op":"call","control":"a","name":"StartFileUpload","args":["/wc/upload",true,")" +
          local.string() + R"(",65536]})");
  ASSERT_EQ(started.find(R"("result":false)"), std::string::npos) << started;
  ASSERT_TRUE(qs::testing::WaitUntil([&] { return server_->StallsInProgress() == 1; }));

  session_.reset();
  EXPECT_EQ(TransferredFile::RunningWorkers(), 0);
  EXPECT_EQ(qs::testing::ReadFile(local), std::string(200 * 1024, 'r'));
}

TEST_F(HostUnloadTest, AtMost32WorkersRunAndTheControlsEndCancelsReplacedOnesToo) {
  for (int i = 1; i <= TransferredFile::kMaxRunningWorkers; ++i) {
    const std::string started = StartDownload(i);
    ASSERT_EQ(started.find(R"("result":false)"), std::string::npos) << i << started;
  }
  ASSERT_TRUE(qs::testing::WaitUntil([&] {
    return server_->StallsInProgress() ==
           static_cast<uint32_t>(TransferredFile::kMaxRunningWorkers);
  }));
  // One more takes the way of a worker that cannot be created.
  EXPECT_EQ(StartDownload(33), R"({"id":null,"result":false})");
  EXPECT_EQ(Ask(R"({"op":"call","control":"a","name":"GetTransferStatus","args":[0]})"),
            R"({"id":null,"result":"1|0|"})");
  EXPECT_EQ(server_->requests().size(), static_cast<size_t>(TransferredFile::kMaxRunningWorkers));

  // Destroying the control stops all 32, the replaced ones included, though the server stalls.
  ASSERT_EQ(Ask(R"({"op":"destroy","control":"a"})"), R"({"id":null,"result":null})");
  EXPECT_TRUE(qs::testing::WaitUntil([] { return TransferredFile::RunningWorkers() == 0; }));
  EXPECT_EQ(FilesInTarget(), 0u);
}

}  // namespace
}  // namespace qs::app
