// The development server holding up like a server: clients that send no head, a process out of
// descriptors, HEAD, conflicting lengths and its own part files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "devserver/raw_client.h"
#include "devserver/server.h"
#include "support/temp_dir.h"

namespace qs::devserver {
namespace {

using namespace std::chrono_literals;
using qs::testing::RawClient;
using qs::testing::RawReply;

class RobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qs::testing::WriteFile(dir_ / "a.txt", "content of a");
    ASSERT_TRUE(server_.Start());
  }

  qs::testing::TempDir dir_;
  Server server_{Options{dir_.path(), 0, {}, 150ms}};
};

TEST_F(RobustnessTest, AHeadThatDoesNotArriveInTimeEndsTheConnection) {
  RawClient idle(server_.port());
  RawClient partial(server_.port());
  ASSERT_TRUE(partial.Send("GET /download?file=a.txt HTTP/1.1\r\nHost: x\r\n"));
  RawClient kept(server_.port());
  ASSERT_TRUE(kept.Get("/download?file=a.txt"));
  EXPECT_EQ(kept.Read().body, "content of a");  // then idle on a kept-alive connection

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(idle.ClosedByServer());
  EXPECT_EQ(partial.Read().status, 408);
  EXPECT_TRUE(partial.ClosedByServer());
  EXPECT_TRUE(kept.ClosedByServer());
  // Closed by the time-out, not by the client's own 30 s safety net.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  // A client that sends its head in time is still served.
  RawClient prompt(server_.port());
  ASSERT_TRUE(prompt.Get("/download?file=a.txt"));
  EXPECT_EQ(prompt.Read().status, 200);
}

TEST_F(RobustnessTest, HeadGetsTheHeadOfGetAndNoBody) {
  RawClient client(server_.port());
  ASSERT_TRUE(client.Send("HEAD /download?file=a.txt HTTP/1.1\r\nHost: x\r\n\r\n"));
  RawReply head = client.ReadHead();
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), "12");
  EXPECT_EQ(head.Header("QS-Content-Length"), "12");
  // No body followed: the next answer on the connection starts right after the head.
  ASSERT_TRUE(client.Send("HEAD /download?file=missing HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ(client.ReadHead().status, 404);
  ASSERT_TRUE(client.Get("/download?file=a.txt"));
  RawReply get = client.Read();
  EXPECT_EQ(get.status, 200);
  EXPECT_EQ(get.body, "content of a");
}

TEST_F(RobustnessTest, TwoDifferentContentLengthsAreRefused) {
  RawClient differing(server_.port());
  ASSERT_TRUE(
      differing.Send("POST /up?chunkIdx=1&offset=0 HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n"
                     "Content-Length: 30\r\n\r\nabc"));
  EXPECT_EQ(differing.Read().status, 400);
  EXPECT_TRUE(differing.ClosedByServer());

  RawClient repeated(server_.port());  // the same value twice says one thing
  ASSERT_TRUE(
      repeated.Send("POST /up?chunkIdx=1&offset=0 HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n"
                    "Content-Length: 3\r\n\r\nabc"));
  EXPECT_EQ(repeated.Read().status, 200);
}

TEST_F(RobustnessTest, PartFilesAreNeverServed) {
  RawClient client(server_.port());
  ASSERT_TRUE(client.Post("/up?chunkIdx=1&offset=0", "half an upload"));
  ASSERT_EQ(client.Read().status, 200);
  std::string part;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / ".qsft-parts")) {
    part = entry.path().filename().string();
  }
  ASSERT_FALSE(part.empty());
  for (const std::string& name : {".qsft-parts/" + part, "./.qsft-parts/" + part,
                                  ".qsft-parts%2F" + part, std::string(".qsft-parts")}) {
    ASSERT_TRUE(client.Get("/download?file=" + name));
    EXPECT_EQ(client.Read().status, 403) << name;
  }
}

// Descriptors open in this process right now.
int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// User and system CPU time of a process so far.
std::chrono::milliseconds CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);  // utime, stime
  }
  return std::chrono::milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
}

// A server in a child process that may open only a few descriptors more than it has: idle
// clients take them all. It must then neither spin nor stay stuck: once they leave, the client
// that waited in the meantime is served.
TEST(DescriptorExhaustionTest, TheServerWaitsWithoutSpinningAndServesOnceDescriptorsAreFree) {
#if defined(__SANITIZE_ADDRESS__)
  // UBSan's type check opens a pipe to probe memory it reads; with every descriptor taken it
  // reports a valid object as broken and ends the server. The plain build runs this test.
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  qs::testing::TempDir dir;
  qs::testing::WriteFile(dir / "a.txt", "content of a");
  int port_pipe[2];
  int stop_pipe[2];
  ASSERT_EQ(pipe(port_pipe), 0);
  ASSERT_EQ(pipe(stop_pipe), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(port_pipe[0]);
    close(stop_pipe[1]);
    const rlim_t limit = static_cast<rlim_t>(OpenDescriptors() + 6);
    rlimit low{limit, limit};
    if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(3);
    Server server(Options{dir.path(), 0, {}});
    if (!server.Start()) _exit(4);
    const uint16_t port = server.port();
    if (write(port_pipe[1], &port, sizeof port) != sizeof port) _exit(5);
    char byte;
    (void)read(stop_pipe[0], &byte, 1);  // until the test ends
    server.Stop();
    _exit(0);
  }
  close(port_pipe[1]);
  close(stop_pipe[0]);
  uint16_t port = 0;
  ASSERT_EQ(read(port_pipe[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
  close(port_pipe[0]);

  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 12; ++i) idle.push_back(std::make_unique<RawClient>(port));
  RawClient waiting(port);
  ASSERT_TRUE(waiting.Get("/download?file=a.txt"));
  std::this_thread::sleep_for(300ms);  // the server is out of descriptors by now

  const auto before = CpuTime(child);
  std::this_thread::sleep_for(500ms);
  EXPECT_LT(CpuTime(child) - before, 50ms) << "the server spins while out of descriptors";

  idle.clear();
  RawReply reply = waiting.Read();
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "content of a");

  close(stop_pipe[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace qs::devserver
