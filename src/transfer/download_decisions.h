// The decisions of a download, as pure functions: what an answer means, whether the announced
// length is met, when to resume and when to give up, how long to pause. DownloadedFile runs the
// steps; these say where each step leads. Tables in the tests drive them without a server.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs {

// Reads in a row that may bring no data while more is announced before the download resumes.
inline constexpr uint32_t kMaxEmptyReads = 3;
// Resumptions in a row without data in between; the next break fails the download.
inline constexpr uint32_t kMaxResumptions = 5;
// The pause before a resumption is this step times the resumptions since the last data: 0 s
// before the first, then 3, 6, 9 and 12 s.
inline constexpr std::chrono::milliseconds kResumePauseStep{3000};
// A server still preparing the file (202) is asked again at once this many times; then after a
// pause that starts here and doubles with every further 202, up to the longest pause.
inline constexpr uint32_t kImmediateAskAgains = 3;
inline constexpr std::chrono::milliseconds kFirstAskAgainPause{50};
inline constexpr std::chrono::milliseconds kLongestAskAgainPause{1000};
// A server still answering 202 after this many answers in a row is taken as stuck, and the
// transfer fails with the time-out (12002): with the pauses above, about half an hour of asking.
inline constexpr uint32_t kMostAskAgainAnswers = 1800;
// The length header's value when the server does not know the length.
inline constexpr int64_t kUnknownLength = -1;

// Reads a length header ("QS-Content-Length", "Resumed-from") as a signed 64-bit decimal: leading
// white space and one sign are allowed, reading stops at the first character that is not a digit,
// no digits read as 0, and a value beyond the range reads as its nearest end.
int64_t ParseLengthHeader(std::string_view text);

// What the first answer's status means.
enum class FirstAnswer { kAskAgain, kNoContent, kBody, kRefused };
FirstAnswer ReadFirstAnswer(uint32_t status);

// The announced length: the header's value, kUnknownLength without the header, nothing when
// the value cannot be a length (below -1).
std::optional<int64_t> AnnouncedLength(const std::optional<std::string>& header);

// A resumed answer continues the file at `received`: 200 with "Resumed-from" naming it.
bool ResumedAnswerFits(uint32_t status, const std::optional<std::string>& resumed_from,
                       int64_t received);

// Where the receiving stands.
struct ReceiveProgress {
  int64_t announced = kUnknownLength;
  int64_t received = 0;
  uint32_t empty_reads = 0;  // reads in a row without data
  uint32_t resumptions = 0;  // resumptions since the last data
};

// Whether everything announced has arrived (never, when the length is unknown).
bool AnnouncedLengthReached(const ReceiveProgress& progress);

// What follows a read that brought `got` bytes, or failed.
enum class AfterRead {
  kWrite,      // data: write it
  kReadAgain,  // nothing yet, more announced: read again
  kEnd,        // the body is complete
  kResume,     // ask for the rest from the last byte on disk
  kGiveUp,     // a break that cannot be resumed: a protocol failure
  kFail,       // the read's own failure ends the download
};
AfterRead DecideAfterRead(const ReceiveProgress& progress, size_t got, bool failed);

// Whether the body that ended matches the announcement (more than announced does not).
bool AnnouncedLengthMet(const ReceiveProgress& progress);

// The pause before the next resumption.
std::chrono::milliseconds ResumePause(uint32_t resumptions);
// The pause before asking again after the `answers`-th 202 in a row (1 for the first).
std::chrono::milliseconds AskAgainPause(uint32_t answers);

// `url` with `parameter` ("name=value") appended: after "?" when the URL has no query yet,
// else after "&".
std::u16string WithParameter(std::u16string_view url, std::u16string_view parameter);

}  // namespace qs
