// Runs the built `qsft host` through pipes, one request at a time: each answer must arrive
// before the next request is written, which only works if the host flushes every line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/child_process.h"

namespace {

using qs::testing::ChildProcess;

// Generous bound so that a host that fails to answer ends the test instead of hanging it.
constexpr int kAnswerBoundMs = 60000;

bool Send(ChildProcess& host, const std::string& line) { return host.Write(line + "\n"); }

// The next line from the host, or "<none>" when it ends or does not answer in time.
std::string ReadLine(ChildProcess& host) {
  bool ok = false;
  std::string line = host.ReadLine(ok, kAnswerBoundMs);
  return ok ? line : "<none>";
}

std::string QsftProgram() {
  const char* dir = std::getenv("QSFT_BIN_DIR");
  return dir ? std::string(dir) + "/qsft" : std::string();
}

TEST(HostProgram, AnswersLineByLineThroughPipesAndQuits) {
  const std::string program = QsftProgram();
  if (program.empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
  ASSERT_TRUE(std::filesystem::exists(program)) << program;

  ChildProcess host({program, "host"}, {}, {.err_to_ours = true});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(Send(host, R"({"id":1,"op":"create","control":"a","props":{"User":"a/b\\c"}})"));
  EXPECT_EQ(ReadLine(host), R"({"id":1,"result":null})");
  ASSERT_TRUE(Send(host, R"({"id":2,"op":"get","control":"a","name":"user"})"));
  EXPECT_EQ(ReadLine(host), R"({"id":2,"result":"a_b_c"})");
  ASSERT_TRUE(Send(host, "not json"));
  EXPECT_EQ(ReadLine(host).rfind(R"({"id":null,"error":{"code":-2147024809,)", 0), 0u);
  ASSERT_TRUE(
      Send(host, R"({"id":3,"op":"call","control":"a","name":"GetTransferStatus","args":[7]})"));
  EXPECT_EQ(ReadLine(host), R"({"id":3,"result":null})");
  ASSERT_TRUE(Send(host, R"({"id":4,"op":"quit"})"));
  EXPECT_EQ(ReadLine(host), R"({"id":4,"result":null})");
  // It ends by itself, its input still open, with nothing else on standard output.
  EXPECT_EQ(host.Wait(kAnswerBoundMs), 0);
  EXPECT_EQ(host.Unread(), "");
}

TEST(HostProgram, EndOfInputQuits) {
  const std::string program = QsftProgram();
  if (program.empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";

  ChildProcess host({program, "host"}, {}, {.err_to_ours = true});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(Send(host, R"({"id":1,"op":"create","control":"a"})"));
  ASSERT_TRUE(Send(host, R"({"id":2,"op":"create","control":"b","props":{}})"));
  EXPECT_EQ(host.Finish(kAnswerBoundMs), 0);
  EXPECT_EQ(host.out(), "{\"id\":1,\"result\":null}\n{\"id\":2,\"result\":null}\n");
}

}  // namespace
