// A download against the development server on 127.0.0.1: a served root, a target directory, the
// session, and a DownloadedFile that runs on the calling thread with a sleeper that only records.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/text.h"
#include "devserver/server.h"
#include "support/pattern.h"
#include "support/temp_dir.h"
#include "transfer/downloaded_file.h"
#include "transfer/ref_ptr.h"
#include "transfer/session.h"

namespace qs::testing {

// Records the pauses asked for and returns at once; calls `during` (if set) in each pause.
class RecordingSleeper {
 public:
  Sleeper AsSleeper() {
    return [this](std::chrono::milliseconds pause) {
      std::function<bool(size_t)> during;
      size_t count = 0;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        pauses_.push_back(pause.count());
        during = during_;
        count = pauses_.size();
      }
      return during ? during(count) : true;
    };
  }
  // Called with the number of pauses so far; its result is the pause's (false: cut short).
  void During(std::function<bool(size_t)> during) {
    std::lock_guard<std::mutex> hold(mutex_);
    during_ = std::move(during);
  }
  std::vector<long long> pauses() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return pauses_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<long long> pauses_;
  std::function<bool(size_t)> during_;
};

// Runs Run() where the test wants it, and stores its result as the worker would.
class DirectDownload : public DownloadedFile {
 public:
  using DownloadedFile::DownloadedFile;
  TransferState RunHere() {
    Finish(Run());
    return state();
  }
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    ScopedSessionTimeoutsForTesting timeouts(20000);
    ASSERT_TRUE(EnsureSession(session_));
  }

  void TearDown() override {
    server_->Stop();
    // No download may leave its temporary file behind, whatever the outcome (tests that expect
    // one remove it themselves).
    for (const auto& entry : std::filesystem::recursive_directory_iterator(target_dir_.path())) {
      EXPECT_EQ(entry.path().string().find(".!incomplete"), std::string::npos) << entry.path();
    }
  }

  // Serves `bytes` as NAME; returns the URL that downloads it.
  std::string Serve(const std::string& name, const std::string& bytes) {
    WriteFile(root_ / name, bytes);
    return server_->base_url() + "/download?file=" + name;
  }

  RefPtr<DirectDownload> Make(const std::string& url, const std::filesystem::path& target) {
    return MakeRef<DirectDownload>(session_.handle(), FromUtf8(url), FromUtf8(target.string()),
                                   sleeper_.AsSleeper());
  }

  // The request targets the server saw, in order.
  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& r : server_->requests()) targets.push_back(r.target);
    return targets;
  }

  static std::filesystem::path TempOf(const std::filesystem::path& target) {
    return std::filesystem::path(target.string() + ".!incomplete");
  }

  TempDir root_;
  TempDir target_dir_;
  std::unique_ptr<devserver::Server> server_;
  InternetHandle session_;
  RecordingSleeper sleeper_;
};

}  // namespace qs::testing
