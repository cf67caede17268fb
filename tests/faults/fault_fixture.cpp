#include "faults/fault_fixture.h"

#include <dirent.h>

namespace qs::testing {

namespace {

size_t CountEntries(const char* dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    // The descriptor of the listing itself is not counted: it is closed by now.
    if (std::string_view(dir) == "/proc/self/fd") --n;
  }
  return n;
}

}  // namespace

size_t OpenDescriptors() { return CountEntries("/proc/self/fd"); }
size_t Threads() { return CountEntries("/proc/self/task"); }

std::vector<fs::path> TemporaryFiles(const fs::path& dir) {
  std::vector<fs::path> found;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return found;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    if (entry.path().filename().string().find(".!incomplete") != std::string::npos) {
      found.push_back(entry.path());
    }
  }
  return found;
}

FaultTest::FaultTest()
    : config_("XDG_CONFIG_HOME", (dir_.path() / "config").string()),
      data_("XDG_DATA_HOME", (dir_.path() / "data").string()),
      downloads_(dir_.path() / "downloads") {}

void FaultTest::SetUp() {
  // The first download of the process sets up what lives as long as the process (the HTTP
  // library's global state, the platform's caches); the baseline is taken after it.
  static bool warmed_up = false;
  if (!warmed_up) {
    warmed_up = true;
    server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
    ASSERT_TRUE(server_->Start());
    Serve("warm.bin", "warm");
    auto control = MakeControl();
    GrantDownloadDir(*control, downloads_);
    ASSERT_EQ(Download(*control, "warm.bin", downloads_ / "warm.bin").type(),
              Variant::Type::kInt32);
    ASSERT_EQ(FinalStatus(*control), "10|4|");
    control.reset();
    sites_.clear();
    server_->Stop();
    server_.reset();
    fs::remove_all(downloads_);
    WaitFor([] { return Threads() == 1; });
  }
  fds_before_ = OpenDescriptors();
  threads_before_ = Threads();

  server_ = std::make_unique<devserver::Server>(devserver::Options{root_.path(), 0, nullptr});
  ASSERT_TRUE(server_->Start());
  control_ = MakeControl();
  fs::create_directories(downloads_);
  GrantDownloadDir(*control_, downloads_);
}

void FaultTest::TearDown() {
  control_.reset();
  sites_.clear();
  if (server_) server_->Stop();
  server_.reset();
  // Workers are detached: they end by themselves once their transfer has, shortly after.
  EXPECT_TRUE(WaitFor([&] { return Threads() <= threads_before_; }))
      << Threads() << " threads, " << threads_before_ << " before";
  EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() <= fds_before_; }))
      << OpenDescriptors() << " descriptors, " << fds_before_ << " before";
  EXPECT_TRUE(TemporaryFiles(dir_.path()).empty());
}

std::unique_ptr<CQSFileTransferCtrl> FaultTest::MakeControl() {
  auto site = std::make_shared<ScriptedSite>(FromUtf8(server_->base_url() + "/wc/page.html"));
  sites_.push_back(site);
  auto control = std::make_unique<CQSFileTransferCtrl>(site);
  control->ResetProperties();
  return control;
}

void FaultTest::GrantDownloadDir(CQSFileTransferCtrl& control, const fs::path& dir) {
  for (const auto& site : sites_) {
    if (site.get() != control.site()) continue;
    site->dialogs.Queue(platform::scripted::Folder{U(dir)});
    ASSERT_EQ(Call(control, u"SelectDownloadDir"), Variant::String(U(dir)));
    site->dialogs.Shown();
    return;
  }
  FAIL() << "not a control of this test";
}

Variant FaultTest::Call(CQSFileTransferCtrl& control, std::u16string_view name,
                        std::vector<Variant> args) {
  InvokeResult r = control.Invoke(name, InvokeKind::kMethod, args);
  EXPECT_TRUE(r.ok()) << ToUtf8(name) << ": " << ToUtf8(r.message);
  return r.value;
}

Variant FaultTest::Download(CQSFileTransferCtrl& control, const std::string& name,
                            const fs::path& target) {
  return Call(control, u"StartFileDownload",
              {Variant::String(FromUtf8("/download?file=" + name)), Variant::String(U(target))});
}

std::string FaultTest::Status(CQSFileTransferCtrl& control) {
  const Variant status = Call(control, u"GetTransferStatus", {Variant::Int(0)});
  return status.is_string() ? ToUtf8(status.as_string()) : std::string();
}

std::string FaultTest::FinalStatus(CQSFileTransferCtrl& control) {
  std::string status;
  WaitFor(
      [&] {
        status = Status(control);
        return status.rfind("1|", 0) != 0 && status.rfind("2|", 0) != 0;
      },
      120000);
  return status;
}

void FaultTest::Serve(const std::string& name, const std::string& bytes) {
  WriteFile(root_ / name, bytes);
}

void FaultTest::AwaitStalls(uint32_t n) {
  ASSERT_TRUE(WaitFor([&] { return server_->StallsInProgress() >= n; }))
      << server_->StallsInProgress() << " stalls";
}

void FaultTest::AwaitRunningAt(CQSFileTransferCtrl& control, uint64_t bytes) {
  const std::string expected = "1|" + std::to_string(bytes) + "|";
  std::string status;
  ASSERT_TRUE(WaitFor([&] { return (status = Status(control)) == expected; })) << status;
}

}  // namespace qs::testing
