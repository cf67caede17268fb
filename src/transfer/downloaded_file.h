// DownloadedFile: one file fetched from the server into a local path, resuming after breaks.
//
// The body goes into "<target>.!incomplete" beside the target, created with an exclusive lock so
// that two downloads to one target cannot mix their bytes (the second fails with the
// sharing-violation text). A break is resumed from the last byte written with "&resumeAt=", after
// a pause that grows with every resumption that brought no data. Only a complete file is flushed
// to disk and then renamed onto the target (the commit point); every failure and a cancel before
// that point delete the temporary file and leave the target as it was. Last, the file is marked
// with the URL it came from.
//
// The exchange with the server, in short:
//   GET url                  202: ask again at once; 204: done, no file; 200: the body is the
//                            file, "QS-Content-Length" its length (optional); else TransferError.
//                            A response head the client rejects (12153) is asked once more with
//                            "&limit=4294967295" appended, and every later request keeps it.
//   GET url&resumeAt=N       200 with "Resumed-from: N", the body continues the file at N; else
//                            TransferError.
// The URL must already carry a query: parameters are appended with "&".
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/error.h"
#include "platform/http.h"
#include "transfer/transferred_file.h"

namespace qs {

namespace platform {
class HttpRequest;
}  // namespace platform

// Appended to a target's name while its download is under way.
inline constexpr std::u16string_view kIncompleteSuffix = u".!incomplete";
// Appended once to the URL after the client rejected a response head (12153).
inline constexpr std::u16string_view kLimitParameter = u"&limit=4294967295";
inline constexpr std::u16string_view kResumeAtParameter = u"&resumeAt=";
// The download's length, and the offset a resumed answer starts at.
inline constexpr std::string_view kLengthHeader = "QS-Content-Length";
inline constexpr std::string_view kResumedFromHeader = "Resumed-from";
// Where the origin of a finished download is recorded (the freedesktop.org shared-metadata name).
inline constexpr std::string_view kOriginAttribute = "user.xdg.origin.url";

// The body is streamed through one buffer of this size.
inline constexpr size_t kDownloadBlockSize = 4096;
// Reads in a row that may bring no data while more is announced before the download resumes.
inline constexpr uint32_t kMaxEmptyReads = 3;
// Resumptions in a row without data in between; the next break fails the download.
inline constexpr uint32_t kMaxResumptions = 5;
// The pause before a resumption is this step times the resumptions since the last data: 0 s
// before the first, then 3, 6, 9 and 12 s.
inline constexpr std::chrono::milliseconds kResumePauseStep{3000};

// Pauses the worker before a resumption; not cut short by a cancel. Tests inject one that
// records the pause and returns at once.
using Sleeper = std::function<void(std::chrono::milliseconds)>;
// Sleeps for real.
Sleeper ThreadSleeper();

// Reads a length header ("QS-Content-Length", "Resumed-from") as a signed 64-bit decimal: leading
// white space and one sign are allowed, reading stops at the first character that is not a digit,
// no digits read as 0, and a value beyond the range reads as its nearest end.
int64_t ParseLengthHeader(std::string_view text);

// Records `url` as the origin of the file at `local_path`. Returns a platform error code, 0 on
// success; a file system that keeps no such records counts as success.
uint32_t MarkDownloadOrigin(std::u16string_view local_path, std::u16string_view url);

class DownloadedFile : public TransferredFile {
 public:
  // `url` is absolute and already resolved against the page; `local_path` is the target.
  // `may_follow` judges every redirect of every request (platform/http.h); without it no
  // redirect is followed, and a redirect answer fails the download like any other that is not 200.
  DownloadedFile(std::shared_ptr<platform::HttpSession> session, std::u16string url,
                 std::u16string local_path, Sleeper sleeper = ThreadSleeper(),
                 platform::RedirectCheck may_follow = {});

 protected:
  ~DownloadedFile() override;
  TransferState Run() override;

 private:
  // Sends the first GET, again at once while the server answers 202, and once more with the
  // limit parameter after a rejected head (appended to `work_url`). The answer that is not 202.
  ErrorOr<std::unique_ptr<platform::HttpRequest>> OpenAnswer(std::u16string& work_url);
  TransferState Failed(std::u16string text);

  Sleeper sleeper_;
  platform::RedirectCheck may_follow_;
};

}  // namespace qs
