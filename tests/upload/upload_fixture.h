// An upload against the development server on 127.0.0.1: a served root, the session, the
// server's log of answers, scripted dialogs for the credentials prompt, and an UploadedFile that
// runs on the calling thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "devserver/server.h"
#include "dialogs/scripted_dialogs.h"
#include "support/pattern.h"
#include "support/temp_dir.h"
#include "transfer/ref_ptr.h"
#include "transfer/session.h"
#include "upload/uploaded_file.h"

namespace qs::testing {

// Runs Run() where the test wants it, and stores its result as the worker would.
class DirectUpload : public UploadedFile {
 public:
  using UploadedFile::UploadedFile;
  TransferState RunHere() {
    Finish(Run());
    return state();
  }
};

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devserver::Options options{root_.path(), 0, [this](const devserver::LogEntry& entry) {
                                 std::lock_guard<std::mutex> hold(log_mutex_);
                                 log_.push_back(entry);
                                 if (on_log_) on_log_(entry);
                               }};
    server_ = std::make_unique<devserver::Server>(std::move(options));
    ASSERT_TRUE(server_->Start());
    ScopedSessionTimeoutsForTesting timeouts(20000);
    ASSERT_TRUE(EnsureSession(session_));
  }

  void TearDown() override { server_->Stop(); }

  // A local file with `bytes`; returns its path.
  std::filesystem::path Local(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = local_.path() / name;
    WriteFile(path, bytes);
    return path;
  }

  CredentialsPrompt Prompt() {
    return [this](const platform::CredentialsRequest& request) {
      return dialogs_.AskCredentials(request);
    };
  }

  RefPtr<DirectUpload> Make(const std::string& url, const std::filesystem::path& path,
                            uint32_t chunk_size, bool first_file = false) {
    return MakeRef<DirectUpload>(session_.handle(), FromUtf8(url), first_file,
                                 FromUtf8(path.string()), chunk_size, std::u16string(), Prompt());
  }

  // The server records a request before it answers, and logs it after the answer went out:
  // once the client has its answers, the records are complete, and the log follows shortly.
  std::vector<devserver::LogEntry> SettledLog() const {
    const size_t recorded = server_->requests().size();
    for (int i = 0; i < 10000; ++i) {
      {
        std::lock_guard<std::mutex> hold(log_mutex_);
        if (log_.size() >= recorded) return log_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "the server did not log every request";
    std::lock_guard<std::mutex> hold(log_mutex_);
    return log_;
  }
  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const auto& r : server_->requests()) targets.push_back(r.target);
    return targets;
  }
  std::vector<uint64_t> BodySizes() const {
    std::vector<uint64_t> sizes;
    for (const auto& r : server_->requests()) sizes.push_back(r.body_size);
    return sizes;
  }
  std::vector<uint64_t> ConnectionIds() const {
    std::vector<uint64_t> ids;
    for (const auto& r : server_->requests()) ids.push_back(r.connection_id);
    return ids;
  }
  std::vector<int> Statuses() const {
    std::vector<int> statuses;
    for (const auto& entry : SettledLog()) statuses.push_back(entry.status);
    return statuses;
  }

  std::string Url(const std::string& path) const { return server_->base_url() + path; }

  TempDir root_;
  TempDir local_;
  std::unique_ptr<devserver::Server> server_;
  InternetHandle session_;
  platform::ScriptedDialogs dialogs_;
  mutable std::mutex log_mutex_;
  std::vector<devserver::LogEntry> log_;
  // Runs on the server's connection thread after each logged request, before that connection
  // reads its next request. Set before the upload starts.
  std::function<void(const devserver::LogEntry&)> on_log_;
};

}  // namespace qs::testing
