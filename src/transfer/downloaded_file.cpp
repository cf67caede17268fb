#include "transfer/downloaded_file.h"

#include <array>
#include <limits>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "platform/extended_attributes.h"
#include "platform/http.h"
#include "platform/staged_file.h"
#include "base/text.h"
#include "platform/url_parts.h"
#include "transfer/error_text.h"
#include "transfer/internet_handle.h"
#include "platform/last_error.h"

namespace qs {

namespace {

constexpr uint32_t kStatusOk = 200;
constexpr uint32_t kStatusAccepted = 202;
constexpr uint32_t kStatusNoContent = 204;
constexpr int64_t kUnknownLength = -1;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::u16string Decimal(int64_t n) { return FromAscii(std::to_string(n)); }

}  // namespace

Sleeper ThreadSleeper() {
  return [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
}

int64_t ParseLengthHeader(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a negative number, whose range reaches one further than the positive one.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value < (kMin + digit) / 10) {
      saturated = true;
      break;
    }
    value = value * 10 - digit;
  }
  if (negative) return saturated ? kMin : value;
  if (saturated || value == kMin) return std::numeric_limits<int64_t>::max();
  return -value;
}

uint32_t MarkDownloadOrigin(std::u16string_view local_path, std::u16string_view url) {
  auto set = platform::SetExtendedAttribute(local_path, kOriginAttribute, ToUtf8(url));
  // Without such records on this file system there is nothing to mark; the file is fine.
  if (!set.ok() && set.error().Is(ErrorCode::kNotSupported)) return ToUint(ErrorCode::kSuccess);
  return set.code();
}

DownloadedFile::DownloadedFile(std::shared_ptr<platform::HttpSession> session, std::u16string url,
                               std::u16string local_path, Sleeper sleeper,
                               platform::RedirectCheck may_follow)
    : TransferredFile(std::move(session), std::move(url), std::move(local_path)),
      sleeper_(sleeper ? std::move(sleeper) : ThreadSleeper()),
      may_follow_(std::move(may_follow)) {}

DownloadedFile::~DownloadedFile() = default;

TransferState DownloadedFile::Failed(std::u16string text) {
  SetError(std::move(text));
  return TransferState::kFailed;
}

ErrorOr<std::unique_ptr<platform::HttpRequest>> DownloadedFile::OpenAnswer(
    std::u16string& work_url) {
  if (!session()) return platform::Fail(ErrorCode::kInvalidHandle);
  bool limit_added = false;
  for (;;) {
    // Only to learn that the URL can be taken apart; the client picks TLS by the scheme itself.
    QS_TRY_VOID(platform::SplitUrl(work_url));
    auto opened = session()->OpenUrl(ToUtf8(work_url), may_follow_);
    if (!opened.ok()) {
      // Some servers send a head the client rejects unless the download is asked for with an
      // explicit limit. Once only: a second rejection is final.
      if (opened.error().Is(ErrorCode::kHttpInvalidHeader) && !limit_added) {
        work_url += kLimitParameter;
        limit_added = true;
        continue;
      }
      return opened.error();
    }
    // 202: the server is still preparing the file. Asked again at once; the previous answer is
    // closed when `opened` goes out of scope, before the next request.
    if ((*opened)->Status() != kStatusAccepted) return opened;
  }
}

TransferState DownloadedFile::Run() {
  // Obtaining the answer.
  std::u16string work_url = url();
  InternetRequestHandle request;
  {
    auto answer = OpenAnswer(work_url);
    if (!answer.ok()) return Failed(FormatErrorText(answer.code()));
    request.Reset(std::move(*answer));
  }
  const uint32_t status = request->Status();
  if (status == kStatusNoContent) return TransferState::kDone;  // nothing to store, no file
  if (status != kStatusOk) return Failed(std::u16string(kTransferErrorText));
  // The standard length header is not consulted: it describes one answer, not the file.
  int64_t content_length = kUnknownLength;
  if (auto header = request->Header(kLengthHeader)) content_length = ParseLengthHeader(*header);

  // Preparing the temporary file. The descriptor is declared before the guard so that the guard
  // deletes the file while the lock is still held: no second download can take the name over
  // between our close and our delete and then lose its file to that delete.
  const std::u16string temp_path = local_path() + std::u16string(kIncompleteSuffix);
  auto created = platform::CreateLockedForWriting(temp_path);
  if (!created.ok()) return Failed(FormatErrorText(created.code()));
  CFileHandle file(*created);
  AutoDeleteFile temp_guard{std::filesystem::path(ToUtf8(temp_path))};

  // Receiving.
  int64_t received = 0;
  uint32_t empty_reads = 0;
  uint32_t resume_count = 0;
  uint32_t read_error = 0;  // the failure of the most recent read; 0 when it succeeded
  std::array<std::byte, kDownloadBlockSize> buffer;
  bool cancelled = false;
  for (;;) {
    if (content_length != kUnknownLength && received >= content_length) break;

    auto read = request->Read(buffer);
    read_error = read.code();
    const size_t got = read.ok() ? *read : 0;
    if (got > 0) {
      empty_reads = 0;
      resume_count = 0;
    } else {
      // Without a length an empty read is the end and a failed one is reported below.
      if (content_length == kUnknownLength) break;
      const bool resume = !read.ok() || ++empty_reads > kMaxEmptyReads;
      if (resume) {
        // Nothing to resume from before the first byte, and a server that breaks again and
        // again without sending anything is given up on.
        if (resume_count >= kMaxResumptions || received == 0) {
          return Failed(std::u16string(kTransferErrorText));
        }
        request.Close();
        sleeper_(resume_count * kResumePauseStep);
        const std::u16string resume_url =
            work_url + std::u16string(kResumeAtParameter) + Decimal(received);
        auto resumed = session()->OpenUrl(ToUtf8(resume_url), may_follow_);
        if (!resumed.ok()) return Failed(FormatErrorText(resumed.code()));
        request.Reset(std::move(*resumed));
        // The first answer's length stays in force; the resumed answer's is not read.
        const auto from = request->Header(kResumedFromHeader);
        if (request->Status() != kStatusOk || !from || ParseLengthHeader(*from) != received) {
          return Failed(std::u16string(kTransferErrorText));
        }
        ++resume_count;
        continue;
      }
    }

    auto written = platform::WriteAll(file.get(), std::span<const std::byte>(buffer.data(), got));
    if (!written.ok()) return Failed(FormatErrorText(written.code()));
    received += static_cast<int64_t>(got);
    SetBytesTransferred(static_cast<uint64_t>(received));
    if (CancelRequested()) {
      cancelled = true;
      break;
    }
  }

  // Finishing.
  if (cancelled) return TransferState::kDone;  // the guard deletes the file
  if (read_error != 0) return Failed(FormatErrorText(read_error));
  if (content_length > 0 && received != content_length) {
    return Failed(std::u16string(kTransferErrorText));  // more than announced
  }
  if (CancelRequested()) return TransferState::kDone;

  // The data reaches the disk before the name does, so a crash after the rename never leaves a
  // short file under the target's name.
  auto synced = platform::SyncFile(file.get());
  if (!synced.ok()) return Failed(FormatErrorText(synced.code()));
  request.Close();
  // From here the complete file is kept, even when it cannot take the target's name.
  temp_guard.Release();
  auto moved = platform::ReplaceFile(temp_path, local_path());
  file.Close();
  if (!moved.ok()) return Failed(FormatErrorText(moved.code()));

  // The origin goes with the URL as resolved, without the limit parameter.
  const uint32_t marked = MarkDownloadOrigin(local_path(), url());
  if (marked != ToUint(ErrorCode::kSuccess)) return Failed(FormatErrorText(marked));
  return TransferState::kDone;
}

}  // namespace qs
