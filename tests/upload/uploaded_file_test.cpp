#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/download_decisions.h"
#include "transfer/error_text.h"
#include "upload/url_encode.h"
#include "upload_fixture.h"

namespace qs::testing {
namespace {

std::string Checkin(const std::filesystem::path& path) {
  return "&checkin=" + ToUtf8(UrlEncode(FromUtf8(path.string())));
}

std::string StatusOf(const TransferredFile& upload) { return ToUtf8(upload.StatusText()); }

// The chunks a file goes up in: the exact requests, their bodies, the bytes the server
// assembled and the status the page reads at the end.
TEST_F(UploadTest, ChunkLayout) {
  struct Row {
    size_t size;
    uint32_t chunk;
    bool first;
    std::vector<std::string> queries;  // without the checkin value, added to the last
    std::vector<uint64_t> bodies;
  };
  const Row rows[] = {
      {10000,
       4096,
       true,
       {"chunkIdx=1&offset=0&start=true", "chunkIdx=2&offset=4096", "chunkIdx=3&offset=8192"},
       {4096, 4096, 1808}},
      {8192, 4096, false, {"chunkIdx=1&offset=0", "chunkIdx=2&offset=4096"}, {4096, 4096}},
      {4096,
       1000,
       false,
       {"chunkIdx=1&offset=0", "chunkIdx=2&offset=1000", "chunkIdx=3&offset=2000",
        "chunkIdx=4&offset=3000", "chunkIdx=5&offset=4000"},
       {1000, 1000, 1000, 1000, 96}},
      {0, 4096, true, {"chunkIdx=1&offset=0&start=true"}, {0}},
      {5000, 1 << 20, false, {"chunkIdx=1&offset=0"}, {5000}},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.size);
    server_->ClearRequests();
    const std::string name = "file" + std::to_string(++n) + ".bin";
    const std::string bytes = Pattern(row.size);
    const auto path = Local(name, bytes);
    auto upload = Make(Url("/up"), path, row.chunk, row.first);
    EXPECT_EQ(upload->RunHere(), TransferState::kDone);

    std::vector<std::string> expected;
    for (const auto& query : row.queries) expected.push_back("/up?" + query);
    expected.back() += Checkin(path);
    EXPECT_EQ(Targets(), expected);
    EXPECT_EQ(BodySizes(), row.bodies);
    EXPECT_EQ(ReadFile(root_ / name), bytes);
    EXPECT_EQ(StatusOf(*upload),
              "10|" + std::to_string(row.size) + "|OK " + std::to_string(row.size));
    // One connection for all chunks.
    const auto ids = ConnectionIds();
    EXPECT_EQ(std::set<uint64_t>(ids.begin(), ids.end()).size(), 1u);
  }
}

TEST_F(UploadTest, ChunkParametersFollowTheUrlsOwnQuery) {
  const auto path = Local("q.bin", Pattern(10));
  auto upload = Make(Url("/app/upload?ds=7"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(Targets(),
            std::vector<std::string>{"/app/upload?ds=7&chunkIdx=1&offset=0" + Checkin(path)});
}

TEST_F(UploadTest, CheckinCarriesThePathPercentEncoded) {
  const auto path = Local("a b \xC3\xA9-x.txt", "hello");
  auto upload = Make(Url("/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  const std::string target = Targets().at(0);
  EXPECT_NE(target.find("a%20b%20%C3%A9%2Dx%2Etxt"), std::string::npos) << target;
  EXPECT_EQ(target.find('/', 1), std::string::npos) << "every / of the path is encoded";
  EXPECT_EQ(ReadFile(root_ / "a b \xC3\xA9-x.txt"), "hello");
}

TEST_F(UploadTest, AFailureStatusEndsTheUploadWithTheAnswerAsText) {
  server_->AddFault(devserver::Fault::Status(500, "disk full").Query("chunkIdx=2&"));
  const auto path = Local("f.bin", Pattern(10000));
  auto upload = Make(Url("/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(StatusOf(*upload), "-1|4096|disk full");
  EXPECT_EQ(Targets().size(), 2u);
}

// Nothing failed on our side, so "the last error" would claim success: the refusal reads as
// the protocol failure it is.
TEST_F(UploadTest, AFailureWithoutBodyIsATransferErrorNotASuccessText) {
  server_->AddFault(devserver::Fault::Status(404, ""));
  auto upload = Make(Url("/up"), Local("f.bin", Pattern(100)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(upload->GetErrorText(), u"TransferError");
}

TEST_F(UploadTest, AskAgainWithTheSameUriRepeatsTheRequestWithoutBody) {
  server_->AddFault(devserver::Fault::AskAgain().Times(3));
  const std::string bytes = Pattern(3000);
  const auto path = Local("s.bin", bytes);
  auto upload = Make(Url("/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  const std::string target = "/up?chunkIdx=1&offset=0" + Checkin(path);
  EXPECT_EQ(Targets(), std::vector<std::string>(4, target));
  EXPECT_EQ(BodySizes(), (std::vector<uint64_t>{3000, 0, 0, 0}));
  EXPECT_EQ(Statuses(), (std::vector<int>{202, 202, 202, 200}));
  EXPECT_EQ(StatusOf(*upload), "10|3000|OK 3000");
  EXPECT_EQ(ReadFile(root_ / "s.bin"), bytes);
}

// A server that answers 202 for ever is asked ever more slowly, and a cancel in a pause ends
// the upload with nothing more sent.
TEST_F(UploadTest, AskedAgainForEverIsPacedAndACancelInThePauseEndsIt) {
  server_->AddFault(devserver::Fault::AskAgain().Times(devserver::Fault::kUnlimited));
  std::vector<long long> pauses;
  RefPtr<DirectUpload> upload;
  Sleeper sleeper = [&](std::chrono::milliseconds pause) {
    pauses.push_back(pause.count());
    if (pauses.size() < 6) return true;
    upload->RequestCancel();
    return false;
  };
  upload = MakeRef<DirectUpload>(session_.handle(), FromUtf8(Url("/up")), false,
                                 FromUtf8(Local("f.bin", Pattern(100)).string()), 4096,
                                 std::u16string(), Prompt(), sleeper);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(upload->end()->kind, TransferEnd::Kind::kCancelled);
  EXPECT_EQ(pauses, (std::vector<long long>{50, 100, 200, 400, 800, 1000}));
  EXPECT_EQ(Targets().size(), 9u);  // the chunk, three at once, then one after each full pause
}

// A server that keeps asking again after about half an hour (as the pauses count it) is given
// up on: the upload fails with the platform's time-out.
TEST_F(UploadTest, AskedAgainForEverEndsInATimeOutAfterHalfAnHour) {
  constexpr size_t kBound = kMostAskAgainAnswers;
  server_->AddFault(devserver::Fault::AskAgain().Times(devserver::Fault::kUnlimited));
  long long waited = 0;
  size_t pauses = 0;
  RefPtr<DirectUpload> upload;
  Sleeper sleeper = [&](std::chrono::milliseconds pause) {
    waited += pause.count();
    if (++pauses < 2 * kBound) return true;
    upload->RequestCancel();  // the bound was not kept
    return false;
  };
  upload = MakeRef<DirectUpload>(session_.handle(), FromUtf8(Url("/up")), false,
                                 FromUtf8(Local("f.bin", Pattern(100)).string()), 4096,
                                 std::u16string(), Prompt(), sleeper);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(upload->end()->error.code, ToUint(ErrorCode::kInternetTimeout));
  EXPECT_EQ(StatusOf(*upload), "-1|0|The operation timed out.\r\n");
  EXPECT_EQ(Targets().size(), kBound);  // the chunk, then each time it was asked again
  EXPECT_GE(waited, 29LL * 60 * 1000);
}

TEST_F(UploadTest, AskAgainWithAnotherUriPostsThereOnTheSameConnection) {
  server_->AddFault(devserver::Fault::AskAgain("/later?ticket=9").Query("chunkIdx=2&"));
  server_->AddFault(devserver::Fault::AskAgain("/later?ticket=9").Path("/later"));
  const std::string bytes = Pattern(6000);
  const auto path = Local("o.bin", bytes);
  auto upload = Make(Url("/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/up?chunkIdx=1&offset=0",
                                                 "/up?chunkIdx=2&offset=4096" + Checkin(path),
                                                 "/later?ticket=9", "/later?ticket=9"}));
  EXPECT_EQ(BodySizes(), (std::vector<uint64_t>{4096, 1904, 0, 0}));
  const auto ids = ConnectionIds();
  EXPECT_EQ(std::set<uint64_t>(ids.begin(), ids.end()).size(), 1u);
  EXPECT_EQ(StatusOf(*upload), "10|6000|OK 6000");
  EXPECT_EQ(ReadFile(root_ / "o.bin"), bytes);
}

TEST_F(UploadTest, ABreakDuringAChunkFailsWithTheConnectionsText) {
  server_->AddFault(devserver::Fault::BreakAfter(1000).Query("chunkIdx=2&"));
  auto upload = Make(Url("/up"), Local("b.bin", Pattern(10000)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  const std::u16string text = upload->GetErrorText();
  EXPECT_TRUE(text == FormatErrorText(12030) || text == FormatErrorText(12031)) << ToUtf8(text);
  EXPECT_EQ(upload->GetBytesTransferred(), 4096u);
  EXPECT_EQ(Targets().size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(root_ / "b.bin"));
}

TEST_F(UploadTest, ABreakAfterTheStatusAddsTheStatusToTheText) {
  server_->AddFault(devserver::Fault::Raw("HTTP/1.1 500 Oops\r\nContent-Length: 100\r\n\r\nshort"));
  auto upload = Make(Url("/up"), Local("r.bin", Pattern(100)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  const std::u16string text = upload->GetErrorText();
  EXPECT_TRUE(text == FormatErrorText(12030) + u" [500]" ||
              text == FormatErrorText(12031) + u" [500]")
      << ToUtf8(text);
}

TEST_F(UploadTest, AMissingFileFailsBeforeAnyRequest) {
  auto upload = Make(Url("/up"), local_.path() / "missing.bin", 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(upload->GetErrorText(), FormatErrorText(2));
  EXPECT_TRUE(Targets().empty());
}

}  // namespace
}  // namespace qs::testing
