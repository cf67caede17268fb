// A download that runs into the file-size limit of its process, as on a full disk: the write
// fails, the transfer ends with the platform's text for it, the temporary file is deleted and
// the older target is left as it was.
//
// The limit applies to the whole process, so the download runs in a child of its own: the child
// starts the server, the control and the download, and writes the final status into a pipe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "base/error_codes.h"
#include "faults/fault_fixture.h"
#include "transfer/error_text.h"

namespace qs::testing {
namespace {

constexpr rlim_t kLimit = 64 * 1024;
constexpr size_t kFileSize = 1 << 20;

// The child's part; its result is the final status, or a line that starts with "child:".
std::string DownloadUnderLimit(const fs::path& root, const fs::path& target) {
  devserver::Server server(devserver::Options{root, 0, nullptr});
  if (!server.Start()) return "child: no server";
  auto site = std::make_shared<ScriptedSite>(FromUtf8(server.base_url() + "/wc/page.html"));
  CQSFileTransferCtrl control(site);
  control.ResetProperties();
  site->dialogs.Queue(platform::scripted::Folder{U(target.parent_path())});
  if (control.Invoke(u"SelectDownloadDir", InvokeKind::kMethod, {}).value !=
      Variant::String(U(target.parent_path()))) {
    return "child: no grant";
  }
  // Past this point no file of this process may grow beyond the limit.
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{kLimit, RLIM_INFINITY};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = kLimit;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return "child: no limit";
  InvokeResult started =
      control.Invoke(u"StartFileDownload", InvokeKind::kMethod,
                     {Variant::String(u"/download?file=big.bin"), Variant::String(U(target))});
  if (started.value.type() != Variant::Type::kInt32) return "child: not started";
  std::string status;
  WaitFor(
      [&] {
        status = ToUtf8(control.Invoke(u"GetTransferStatus", InvokeKind::kMethod, {Variant::Int(0)})
                            .value.as_string());
        return status.rfind("1|", 0) != 0;
      },
      120000);
  return status;
}

TEST(DiskFullTest, AFailedWriteDeletesTheTemporaryFileAndKeepsTheOlderTarget) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "config").string());
  ScopedEnv data("XDG_DATA_HOME", (dir.path() / "data").string());
  WriteFile(dir / "root/big.bin", Pattern(kFileSize, 7));
  const fs::path target = dir.path() / "downloads" / "big.bin";
  const std::string older = Pattern(100000, 8);  // larger than the limit: only growth is refused
  WriteFile(target, older);

  // A child that creates threads must not be forked from a process that has other threads.
  ASSERT_TRUE(WaitFor([] { return Threads() == 1; })) << Threads() << " threads";
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(pipe_fds[0]);
    const std::string status = DownloadUnderLimit(dir / "root", target);
    const ssize_t written = write(pipe_fds[1], status.data(), status.size());
    _exit(written == ssize_t(status.size()) ? 0 : 1);
  }
  close(pipe_fds[1]);
  std::string status;
  char buffer[512];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) status.append(buffer, n);
  close(pipe_fds[0]);
  int wait_status = 0;
  ASSERT_EQ(waitpid(pid, &wait_status, 0), pid);
  EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) << wait_status;

  // The bytes written before the failing block are reported; none beyond the limit.
  const std::string text = ToUtf8(FormatErrorText(ToUint(ErrorCode::kFileTooLarge)));
  ASSERT_EQ(status.rfind("-1|", 0), 0u) << status;
  const size_t bar = status.find('|', 3);
  ASSERT_NE(bar, std::string::npos) << status;
  EXPECT_LE(std::stoull(status.substr(3, bar - 3)), kLimit) << status;
  EXPECT_EQ(status.substr(bar + 1), text);
  EXPECT_TRUE(ReadFile(target) == older) << "the older target changed";
  EXPECT_TRUE(TemporaryFiles(dir.path()).empty());
}

}  // namespace
}  // namespace qs::testing
