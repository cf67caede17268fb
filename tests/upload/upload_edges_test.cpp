// Answers, cancels and local files at the edges of the upload.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/file_descriptor.h"
#include "platform/last_error.h"
#include "platform/staged_file.h"
#include "transfer/error_text.h"
#include "upload/upload_start.h"
#include "upload/url_encode.h"
#include "upload_fixture.h"

namespace qs::testing {
namespace {

TEST(UrlEncode, KeepsOnlyAsciiLettersAndDigits) {
  struct Row {
    std::u16string text;
    std::u16string encoded;
  };
  const Row rows[] = {
      {u"a b", u"a%20b"},
      {u"C:\\x", u"C%3A%5Cx"},
      {u"\u00E9", u"%C3%A9"},
      {u"-_.~", u"%2D%5F%2E%7E"},
      {u"/home/ann/Report 1.pdf", u"%2Fhome%2Fann%2FReport%201%2Epdf"},
      {u"AZaz09", u"AZaz09"},
      {u"\U0001F600", u"%F0%9F%98%80"},
      {u"", u""},
      {std::u16string(1, u'\xD800'), u"%EF%BF%BD"},  // a lone surrogate
  };
  for (const Row& row : rows) EXPECT_EQ(UrlEncode(row.text), row.encoded) << ToUtf8(row.text);
}

TEST_F(UploadTest, TheAnswerEndsAtItsFirstZeroByte) {
  server_->AddFault(devserver::Fault::Status(200, std::string("OK 7\0hidden", 11)));
  auto upload = Make(Url("/up"), Local("z.bin", Pattern(7)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(ToUtf8(upload->StatusText()), "10|7|OK 7");
}

TEST_F(UploadTest, AnAnswerIsDecodedFromUtf8) {
  server_->AddFault(devserver::Fault::Status(200, "gespeichert \xC3\xBC \xFF"));
  auto upload = Make(Url("/up"), Local("u.bin", Pattern(7)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(upload->GetErrorText(), u"gespeichert \u00FC \uFFFD");
}

// A cancel reaches a chunk whose answer the server holds back: the upload ends as cancelled
// (kDone for the page) with what the server accepted so far, without the stall being let go.
TEST_F(UploadTest, ACancelEndsAChunkExchangeTheServerHoldsBack) {
  server_->AddFault(devserver::Fault::StallBeforeHead().Query("chunkIdx=1&"));
  auto upload = Make(Url("/up"), Local("c.bin", Pattern(10000)), 4096);
  std::thread worker([&] { upload->RunHere(); });
  for (int i = 0; i < 10000 && server_->StallsInProgress() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(server_->StallsInProgress(), 1u);
  upload->RequestCancel();
  worker.join();
  server_->ReleaseStalls();
  EXPECT_EQ(ToUtf8(upload->StatusText()), "10|0|");
  EXPECT_EQ(upload->end()->kind, TransferEnd::Kind::kCancelled);
  EXPECT_EQ(Targets().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(root_ / "c.bin"));
}

// A 202 may only name a path on the same server: anything else would change where the upload
// goes, so the follow-up is never sent.
TEST_F(UploadTest, AskAgainNamingAnotherServerIsNotFollowed) {
  server_->AddFault(devserver::Fault::AskAgain("http://elsewhere.example/x"));
  auto upload = Make(Url("/up"), Local("e.bin", Pattern(10)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(upload->GetErrorText(), FormatErrorText(12005));
  EXPECT_EQ(Targets().size(), 1u);
}

// Closing the session (the control goes away) ends a running upload with the cancelled text.
TEST_F(UploadTest, ClosingTheSessionEndsTheUpload) {
  server_->AddFault(devserver::Fault::StallBeforeHead().Query("chunkIdx=1&"));
  auto upload = Make(Url("/up"), Local("s.bin", Pattern(10000)), 4096);
  std::thread worker([&] { upload->RunHere(); });
  for (int i = 0; i < 10000 && server_->StallsInProgress() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(server_->StallsInProgress(), 1u);
  session_.Close();
  worker.join();
  server_->ReleaseStalls();
  EXPECT_EQ(upload->state(), TransferState::kFailed);
  EXPECT_EQ(upload->GetErrorText(), FormatErrorText(12017));
}

TEST_F(UploadTest, ACancelBeforeTheFirstBlockSendsNothing) {
  auto upload = Make(Url("/up"), Local("n.bin", Pattern(100)), 4096);
  upload->RequestCancel();
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(ToUtf8(upload->StatusText()), "10|0|");
  EXPECT_TRUE(Targets().empty());
}

// The chunks are announced by the size the file had when it was opened; a file that shrinks
// meanwhile fails the upload instead of reporting success with its last chunk never finished.
TEST_F(UploadTest, AFileThatShrinksDuringTheUploadFails) {
  const auto path = Local("shrink.bin", Pattern(64 * 1024));
  on_log_ = [&](const devserver::LogEntry& entry) {
    // Before this connection reads chunk 2's request, so the client is at most one chunk on.
    if (entry.request.target.find("chunkIdx=1&") != std::string::npos) {
      std::filesystem::resize_file(path, 0);
    }
  };
  auto upload = Make(Url("/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(upload->GetErrorText(), FormatErrorText(38));
  EXPECT_LE(Targets().size(), 3u);
}

// The file stays shared for reading only: one of ours that writes it keeps the upload out.
TEST_F(UploadTest, AFileHeldForWritingCannotBeUploaded) {
  const auto path = Local("held.bin", Pattern(10));
  auto writer = platform::StagedFile::Create(FromUtf8(path.string()), u"");
  ASSERT_TRUE(writer.ok());
  auto upload = Make(Url("/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(upload->GetErrorText(), FormatErrorText(32));
}

TEST(GetLocalFileSize, MeasuresTheFileAndFailsWithTheReason) {
  TempDir dir;
  WriteFile(dir / "five.bin", "12345");
  std::filesystem::create_symlink(dir / "five.bin", dir / "link");
  EXPECT_EQ(GetLocalFileSize(FromUtf8((dir / "five.bin").string())), 5u);
  EXPECT_EQ(GetLocalFileSize(FromUtf8((dir / "link").string())), 5u);

  struct Row {
    std::u16string path;
    uint32_t error;
  };
  const Row failures[] = {
      {u"", 3},
      {FromUtf8((dir / "missing").string()), 2},
      {FromUtf8(dir.path().string()), 5},  // a directory is no file to upload
  };
  for (const Row& row : failures) {
    platform::SetLastError(0);
    EXPECT_EQ(GetLocalFileSize(row.path), kInvalidFileSize) << ToUtf8(row.path);
    EXPECT_EQ(platform::LastError(), row.error) << ToUtf8(row.path);
  }

  auto writer = platform::StagedFile::Create(FromUtf8((dir / "five.bin").string()), u"");
  ASSERT_TRUE(writer.ok());
  EXPECT_EQ(GetLocalFileSize(FromUtf8((dir / "five.bin").string())), kInvalidFileSize);
  EXPECT_EQ(platform::LastError(), 32u);
}

TEST(GetLocalFileSize, AFifoFailsWithoutBlocking) {
  TempDir dir;
  const auto fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(GetLocalFileSize(FromUtf8(fifo.string())), kInvalidFileSize);
  EXPECT_EQ(platform::LastError(), 5u);
}

}  // namespace
}  // namespace qs::testing
