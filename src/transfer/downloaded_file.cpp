#include "transfer/downloaded_file.h"

#include <span>
#include <string>
#include <utility>

#include "base/text.h"
#include "platform/extended_attributes.h"
#include "platform/http.h"
#include "platform/url_parts.h"

namespace qs {

namespace {

std::u16string Decimal(int64_t n) { return FromAscii(std::to_string(n)); }

}  // namespace

ErrorOr<void> MarkDownloadOrigin(std::u16string_view local_path, std::u16string_view url) {
  auto set = platform::SetExtendedAttribute(local_path, kOriginAttribute, ToUtf8(url));
  // Without such records on this file system there is nothing to mark; the file is fine.
  if (!set.ok() && !set.error().Is(ErrorCode::kNotSupported)) return set.error().At("mark");
  return {};
}

DownloadedFile::DownloadedFile(std::shared_ptr<platform::HttpSession> session, std::u16string url,
                               std::u16string local_path, Sleeper sleeper,
                               platform::RedirectCheck may_follow)
    : TransferredFile(std::move(session), std::move(url), std::move(local_path)),
      sleeper_(std::move(sleeper)),
      may_follow_(std::move(may_follow)) {
  if (!sleeper_) sleeper_ = CancellableSleeper();
}

DownloadedFile::~DownloadedFile() = default;

TransferEnd DownloadedFile::Run() {
  work_url_ = url();
  Step step = Step::kAsk;
  while (step != Step::kEnd) step = RunStep(step);
  // The request ends before the staged file; a temporary file still staged is deleted.
  request_.reset();
  staged_.reset();
  return end_;
}

DownloadedFile::Step DownloadedFile::RunStep(Step step) {
  if (CancelRequested() && step != Step::kMarkOrigin) return End(TransferEnd::Cancelled());
  switch (step) {
    case Step::kAsk: return Ask();
    case Step::kReceive: return Receive();
    case Step::kPauseBeforeResumption: return PauseBeforeResumption();
    case Step::kResume: return Resume();
    case Step::kCommit: return Commit();
    case Step::kMarkOrigin: return MarkOrigin();
    case Step::kEnd: break;
  }
  return Step::kEnd;
}

DownloadedFile::Step DownloadedFile::End(TransferEnd end) {
  end_ = end.failed() && CancelRequested() ? TransferEnd::Cancelled() : std::move(end);
  return Step::kEnd;
}

bool DownloadedFile::Pause(std::chrono::milliseconds pause) {
  return sleeper_(pause) && !CancelRequested();
}

std::optional<TransferEnd> DownloadedFile::OpenFirstAnswer() {
  if (!session()) return TransferEnd::Failed(Error::From(ErrorCode::kInvalidHandle).At("open"));
  bool limit_added = false;
  uint32_t asked_again = 0;
  for (;;) {
    // Only to learn that the URL can be taken apart; the client picks TLS by the scheme itself.
    if (auto split = platform::SplitUrl(work_url_); !split.ok()) {
      return TransferEnd::Failed(split.error().At("open"));
    }
    auto opened = session()->OpenUrl(ToUtf8(work_url_), may_follow_, cancel_signal());
    if (!opened.ok()) {
      // Some servers send a head the client rejects unless the download is asked for with an
      // explicit limit. Once only: a second rejection is final.
      if (opened.error().Is(ErrorCode::kHttpInvalidHeader) && !limit_added) {
        work_url_ = WithParameter(work_url_, kLimitParameter);
        limit_added = true;
        continue;
      }
      return TransferEnd::Failed(opened.error().At("open"));
    }
    request_ = std::move(*opened);
    if (ReadFirstAnswer(request_->Status()) != FirstAnswer::kAskAgain) return std::nullopt;
    // 202: the server is still preparing the file. The answer is closed before the next
    // request; a server that keeps answering 202 is asked ever more slowly, and not for ever.
    request_.reset();
    if (++asked_again >= kMostAskAgainAnswers) {
      return TransferEnd::Failed(Error::From(ErrorCode::kInternetTimeout).At("open"));
    }
    if (CancelRequested()) return TransferEnd::Cancelled();
    const auto pause = AskAgainPause(asked_again);
    if (pause.count() > 0 && !Pause(pause)) return TransferEnd::Cancelled();
  }
}

DownloadedFile::Step DownloadedFile::Ask() {
  if (auto ended = OpenFirstAnswer()) return End(std::move(*ended));
  const uint32_t status = request_->Status();
  switch (ReadFirstAnswer(status)) {
    case FirstAnswer::kNoContent: return End(TransferEnd::NoContent());  // no file
    case FirstAnswer::kBody: break;
    default: return End(TransferEnd::Refused(status, "open"));
  }
  // The standard length header is not consulted: it describes one answer, not the file.
  const auto announced = AnnouncedLength(request_->Header(kLengthHeader));
  if (!announced) return End(TransferEnd::Refused(status, "length"));
  progress_.announced = *announced;
  announced_length_.store(*announced, std::memory_order_release);

  auto staged = platform::StagedFile::Create(local_path(), kIncompleteSuffix);
  if (!staged.ok()) return End(TransferEnd::Failed(staged.error()));
  staged_.emplace(std::move(*staged));
  return Step::kReceive;
}

DownloadedFile::Step DownloadedFile::Receive() {
  for (;;) {
    if (AnnouncedLengthReached(progress_)) return Step::kCommit;
    // Each block is read straight into the writes being gathered.
    auto room = gathered_.Room(*staged_, kDownloadBlockSize);
    if (!room.ok()) return WriteFailed(room.error());
    auto read = request_->Read(*room);
    const size_t got = read.ok() ? *read : 0;
    if (!read.ok()) read_error_ = read.error().At("read");
    switch (DecideAfterRead(progress_, got, !read.ok())) {
      case AfterRead::kWrite: break;
      case AfterRead::kReadAgain: ++progress_.empty_reads; continue;
      case AfterRead::kEnd: return Step::kCommit;
      case AfterRead::kResume: return Step::kPauseBeforeResumption;
      case AfterRead::kGiveUp: return End(TransferEnd::Refused(0, "read"));
      case AfterRead::kFail: return End(TransferEnd::Failed(read_error_));
    }
    const Step next = CountBlock(got);
    if (next != Step::kReceive) return next;
  }
}

DownloadedFile::Step DownloadedFile::CountBlock(size_t size) {
  progress_.empty_reads = 0;
  progress_.resumptions = 0;
  gathered_.Add(size);
  progress_.received += static_cast<int64_t>(size);
  SetBytesTransferred(static_cast<uint64_t>(progress_.received));
  if (CancelRequested()) return End(TransferEnd::Cancelled());
  return Step::kReceive;
}

DownloadedFile::Step DownloadedFile::WriteFailed(const Error& error) {
  // Blocks are counted before they are written: the count falls back to the bytes on disk.
  SetBytesTransferred(staged_->written());
  return End(TransferEnd::Failed(error));
}

DownloadedFile::Step DownloadedFile::PauseBeforeResumption() {
  request_.reset();
  // The resumption asks for the byte after the last one received, which must be on disk.
  if (auto flushed = gathered_.Flush(*staged_); !flushed.ok()) return WriteFailed(flushed.error());
  if (!Pause(ResumePause(progress_.resumptions))) return End(TransferEnd::Cancelled());
  return Step::kResume;
}

DownloadedFile::Step DownloadedFile::Resume() {
  const std::u16string resume_url =
      WithParameter(work_url_, std::u16string(kResumeAtParameter) + Decimal(progress_.received));
  auto resumed = session()->OpenUrl(ToUtf8(resume_url), may_follow_, cancel_signal());
  if (!resumed.ok()) return End(TransferEnd::Failed(resumed.error().At("resume")));
  request_ = std::move(*resumed);
  // The first answer's length stays in force; the resumed answer's is not read.
  if (!ResumedAnswerFits(request_->Status(), request_->Header(kResumedFromHeader),
                         progress_.received)) {
    return End(TransferEnd::Refused(request_->Status(), "resume"));
  }
  progress_.empty_reads = 0;
  ++progress_.resumptions;
  return Step::kReceive;
}

DownloadedFile::Step DownloadedFile::Commit() {
  if (!AnnouncedLengthMet(progress_)) return End(TransferEnd::Refused(0, "length"));  // more
  request_.reset();
  if (auto flushed = gathered_.Flush(*staged_); !flushed.ok()) return WriteFailed(flushed.error());
  if (auto committed = staged_->Commit(); !committed.ok()) {
    return End(TransferEnd::Failed(committed.error()));
  }
  return Step::kMarkOrigin;
}

DownloadedFile::Step DownloadedFile::MarkOrigin() {
  // The origin goes with the URL as resolved, without the limit parameter.
  if (auto marked = MarkDownloadOrigin(local_path(), url()); !marked.ok()) {
    return End(TransferEnd::Failed(marked.error()));
  }
  return End(TransferEnd::Done());
}

}  // namespace qs
