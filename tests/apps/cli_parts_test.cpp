// The pieces the transfer commands parse with: page origins, chunk sizes, options and the
// control's status text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qsft/cli_control.h"
#include "qsft/cli_options.h"
#include "qsft/transfer_watch.h"

namespace qs::app {
namespace {

TEST(OriginOf, KeepsSchemeHostAndPortAndEndsWithASlash) {
  EXPECT_EQ(OriginOf("http://127.0.0.1:8080/download?file=a.bin"), "http://127.0.0.1:8080/");
  EXPECT_EQ(OriginOf("https://dms.example.test"), "https://dms.example.test/");
  EXPECT_EQ(OriginOf("http://h.test?x=1"), "http://h.test/");
  EXPECT_EQ(OriginOf("http://user@h.test:81#top"), "http://user@h.test:81/");
  EXPECT_EQ(OriginOf("download?file=a.bin"), std::nullopt);
  EXPECT_EQ(OriginOf("/download?file=a.bin"), std::nullopt);
  EXPECT_EQ(OriginOf("http:///path"), std::nullopt);
  EXPECT_EQ(OriginOf("://h.test/"), std::nullopt);
  EXPECT_EQ(OriginOf("a b://h.test/"), std::nullopt);
}

TEST(ParseChunkSize, BytesOrKOrMWithinThirtyTwoBits) {
  EXPECT_EQ(ParseChunkSize("65536"), 65536u);
  EXPECT_EQ(ParseChunkSize("64K"), 65536u);
  EXPECT_EQ(ParseChunkSize("4m"), 4u * 1024 * 1024);
  EXPECT_EQ(ParseChunkSize("4294967295"), 4294967295u);
  EXPECT_EQ(ParseChunkSize("4194303K"), 4194303u * 1024);
  EXPECT_EQ(ParseChunkSize("4194304K"), std::nullopt);  // 2^32
  EXPECT_EQ(ParseChunkSize("4294967296"), std::nullopt);
  EXPECT_EQ(ParseChunkSize("0"), std::nullopt);
  EXPECT_EQ(ParseChunkSize("0M"), std::nullopt);
  EXPECT_EQ(ParseChunkSize(""), std::nullopt);
  EXPECT_EQ(ParseChunkSize("M"), std::nullopt);
  EXPECT_EQ(ParseChunkSize("-1"), std::nullopt);
  EXPECT_EQ(ParseChunkSize("1.5M"), std::nullopt);
  EXPECT_EQ(ParseChunkSize("12 "), std::nullopt);
}

TEST(TakeOptionValue, SeparateOrJoinedValue) {
  std::string a0 = "cmd", a1 = "--page", a2 = "http://p/", a3 = "--page=http://q/", a4 = "--page";
  std::vector<char*> args = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data()};
  std::string error;
  size_t i = 1;
  EXPECT_EQ(TakeOptionValue(args, i, "--page", error), "http://p/");
  EXPECT_EQ(i, 3u);
  EXPECT_EQ(TakeOptionValue(args, i, "--pages", error), std::nullopt);  // not this option
  EXPECT_EQ(i, 3u);
  EXPECT_EQ(TakeOptionValue(args, i, "--page", error), "http://q/");
  EXPECT_EQ(i, 4u);
  EXPECT_EQ(TakeOptionValue(args, i, "--page", error), std::nullopt);  // last, without value
  EXPECT_EQ(error, "--page needs a value");
  EXPECT_EQ(i, 4u);

  std::string b1 = "--page=", b2 = "--page", b3 = "";
  std::vector<char*> empty = {a0.data(), b1.data(), b2.data(), b3.data()};
  for (size_t at : {1u, 2u}) {
    error.clear();
    i = at;
    EXPECT_EQ(TakeOptionValue(empty, i, "--page", error), std::nullopt);
    EXPECT_EQ(error, "--page needs a value");
    EXPECT_EQ(i, at);
  }
}

TEST(ParseFileOperand, RefusesWhatCannotNameAFile) {
  EXPECT_EQ(ParseFileOperand("PATH", "").error, "PATH is empty; name a file");
  for (const std::string dir : {"/tmp", "/tmp/", "/no/such/dir/", "/no/such/..", "."}) {
    EXPECT_EQ(ParseFileOperand("PATH", dir).error, dir + " is a directory; name a file");
  }
  const FileOperand ok = ParseFileOperand("PATH", "/no/such/../dir/a.bin");
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.path, "/no/dir/a.bin");
}

TEST(ParseTransferStatus, SplitsAtTheFirstTwoBarsOnly) {
  auto running = ParseTransferStatus(u"1|65536|");
  ASSERT_TRUE(running);
  EXPECT_EQ(running->state, 1);
  EXPECT_EQ(running->bytes, 65536u);
  EXPECT_EQ(running->text, u"");

  auto failed = ParseTransferStatus(u"-1|8192|Server said: a|b\nc\n");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->state, -1);
  EXPECT_EQ(failed->bytes, 8192u);
  EXPECT_EQ(failed->text, u"Server said: a|b\nc\n");

  auto huge = ParseTransferStatus(u"10|18446744073709551615|OK");
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->bytes, UINT64_MAX);

  EXPECT_FALSE(ParseTransferStatus(u""));
  EXPECT_FALSE(ParseTransferStatus(u"10|5"));
  EXPECT_FALSE(ParseTransferStatus(u"x|5|"));
  EXPECT_FALSE(ParseTransferStatus(u"10||"));
  EXPECT_FALSE(ParseTransferStatus(u"10|-5|"));
}

}  // namespace
}  // namespace qs::app
