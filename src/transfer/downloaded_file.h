// DownloadedFile: one file fetched from the server into a local path, resuming after breaks.
//
// The body goes into "<target>.!incomplete" beside the target, a staged file
// (platform/staged_file.h) that holds an exclusive lock so that two downloads to one target
// cannot mix their bytes (the second fails with the sharing-violation text). The body is read
// and counted in blocks of at most 4096 bytes, which are gathered into larger writes
// (gathered_writes.h); everything received is on disk before a resumption and the commit. A
// break is resumed from the last byte received with "resumeAt=", after a pause that grows with
// every resumption that brought no data. Only a complete file is committed onto the target; every
// failure and a cancel before that point delete the temporary file and leave the target as it was.
// Last, the file is marked with the URL it came from.
//
// The exchange with the server, in short:
//   GET url                  202: ask again (at once the first few times, then after a growing
//                            pause; a time-out after kMostAskAgainAnswers of them); 204: done, no
//                            file; 200: the body is the file, "QS-Content-Length" its length
//                            (optional; below -1 refused); else TransferError. A response head the
//                            client rejects (12153) is asked once more with "limit=4294967295"
//                            added, and every later request keeps it.
//   GET url?resumeAt=N       200 with "Resumed-from: N", the body continues the file at N; else
//                            TransferError.
// Parameters follow the URL's own query with "&", or start one with "?".
//
// The run is a loop over named steps (Step); the decisions between them are the pure functions
// of download_decisions.h. A cancel ends the run wherever it waits: the requests and pauses are
// woken by the transfer's cancel signal, and nothing is sent after it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "platform/http.h"
#include "platform/staged_file.h"
#include "transfer/download_decisions.h"
#include "transfer/gathered_writes.h"
#include "transfer/transferred_file.h"

namespace qs {

namespace platform {
class HttpRequest;
}  // namespace platform

// Appended to a target's name while its download is under way.
inline constexpr std::u16string_view kIncompleteSuffix = u".!incomplete";
// Added once to the URL after the client rejected a response head (12153).
inline constexpr std::u16string_view kLimitParameter = u"limit=4294967295";
inline constexpr std::u16string_view kResumeAtParameter = u"resumeAt=";
// The download's length, and the offset a resumed answer starts at.
inline constexpr std::string_view kLengthHeader = "QS-Content-Length";
inline constexpr std::string_view kResumedFromHeader = "Resumed-from";
// Where the origin of a finished download is recorded (the freedesktop.org shared-metadata name).
inline constexpr std::string_view kOriginAttribute = "user.xdg.origin.url";

// The body is read, counted and checked for a cancel in blocks of at most this size.
inline constexpr size_t kDownloadBlockSize = 4096;

// Records `url` as the origin of the file at `local_path`. A file system that keeps no such
// records counts as success.
ErrorOr<void> MarkDownloadOrigin(std::u16string_view local_path, std::u16string_view url);

class DownloadedFile : public TransferredFile {
 public:
  // `url` is absolute and already resolved against the page; `local_path` is the target.
  // Without a sleeper the pauses wait on the transfer's cancel signal. `may_follow` judges
  // every redirect of every request (platform/http.h); without it no redirect is followed, and
  // a redirect answer fails the download like any other that is not 200.
  DownloadedFile(std::shared_ptr<platform::HttpSession> session, std::u16string url,
                 std::u16string local_path, Sleeper sleeper = {},
                 platform::RedirectCheck may_follow = {});

  // The length the server announced ("QS-Content-Length"), kUnknownLength until an answer
  // announced one. Any thread.
  int64_t announced_length() const { return announced_length_.load(std::memory_order_acquire); }

 protected:
  ~DownloadedFile() override;
  TransferEnd Run() override;

 private:
  enum class Step { kAsk, kReceive, kPauseBeforeResumption, kResume, kCommit, kMarkOrigin, kEnd };

  Step RunStep(Step step);
  Step Ask();
  Step Receive();
  Step PauseBeforeResumption();
  Step Resume();
  Step Commit();
  Step MarkOrigin();
  // Ends the run with `end`; a failure after a cancel ends as the cancel.
  Step End(TransferEnd end);

  // Sends the first GET, again while the server answers 202, and once more with the limit
  // parameter after a rejected head. The answer that is not 202, or how the run ends.
  std::optional<TransferEnd> OpenFirstAnswer();
  // False when a cancel cut the pause short or came before it.
  bool Pause(std::chrono::milliseconds pause);
  // Counts a block of `size` bytes just read into the gathered writes.
  Step CountBlock(size_t size);
  // Ends the run after writing the gathered blocks failed.
  Step WriteFailed(const Error& error);

  Sleeper sleeper_;
  platform::RedirectCheck may_follow_;
  std::atomic<int64_t> announced_length_{kUnknownLength};
  // The run's state, worker thread only.
  std::u16string work_url_;
  std::unique_ptr<platform::HttpRequest> request_;
  std::optional<platform::StagedFile> staged_;
  GatheredWrites gathered_;
  ReceiveProgress progress_;
  Error read_error_;
  TransferEnd end_;
};

}  // namespace qs
