// What every fault test shares: a private configuration store and data folder, the development
// server, controls driven only through their method table, a picked download folder, and the
// check made after every test that nothing was left behind (no worker thread, no descriptor, no
// temporary file).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "control/client_site.h"
#include "control/control.h"
#include "control/control_test_support.h"
#include "devserver/server.h"
#include "dialogs/scripted_dialogs.h"
#include "support/pattern.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace qs::testing {

namespace fs = std::filesystem;

inline std::u16string U(const fs::path& p) { return FromUtf8(p.string()); }

// Entries of /proc/self/fd and /proc/self/task.
size_t OpenDescriptors();
size_t Threads();

// Waits, a bounded number of times, for `done`; true when it came.
template <typename Predicate>
bool WaitFor(Predicate done, int tries = 20000) {
  for (int i = 0; i < tries; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Every file below `dir` whose name carries the download's temporary suffix.
std::vector<fs::path> TemporaryFiles(const fs::path& dir);

class FaultTest : public ::testing::Test {
 protected:
  FaultTest();
  void SetUp() override;
  void TearDown() override;

  // A control on a page of the server, with the scripted dialogs of its own site.
  std::unique_ptr<CQSFileTransferCtrl> MakeControl();
  // Grants `dir` to `control` as its download folder, through the folder picker.
  void GrantDownloadDir(CQSFileTransferCtrl& control, const fs::path& dir);

  static Variant Call(CQSFileTransferCtrl& control, std::u16string_view name,
                      std::vector<Variant> args = {});
  // StartFileDownload("/download?file=NAME", target): the ticket, or what the page gets instead.
  static Variant Download(CQSFileTransferCtrl& control, const std::string& name,
                          const fs::path& target);
  static std::string Status(CQSFileTransferCtrl& control);
  // Polls as a page does until the current transfer has ended (bounded).
  static std::string FinalStatus(CQSFileTransferCtrl& control);

  // Serves `bytes` under NAME.
  void Serve(const std::string& name, const std::string& bytes);
  // Waits until `n` answers are held by a stall.
  void AwaitStalls(uint32_t n = 1);
  // Waits until the control's current transfer is running with `bytes` on disk: a stall on the
  // server's side is not yet one on the control's, which may still be reading what came before.
  static void AwaitRunningAt(CQSFileTransferCtrl& control, uint64_t bytes);

  TempDir dir_;
  ScopedEnv config_;
  ScopedEnv data_;
  TempDir root_;        // what the server serves
  fs::path downloads_;  // the picked download folder
  std::unique_ptr<devserver::Server> server_;
  std::vector<std::shared_ptr<ScriptedSite>> sites_;
  std::unique_ptr<CQSFileTransferCtrl> control_;  // made and granted `downloads_` in SetUp

 private:
  size_t fds_before_ = 0;
  size_t threads_before_ = 0;
};

}  // namespace qs::testing
