#include "upload/uploaded_file.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <utility>

#include "base/error.h"
#include "base/text.h"
#include "platform/file_descriptor.h"
#include "platform/last_error.h"
#include "platform/read_file.h"
#include "platform/url_parts.h"
#include "transfer/error_text.h"
#include "transfer/internet_handle.h"
#include "upload/url_encode.h"

namespace qs {

namespace {

// The chunk parameters follow the URL's own query, if it has one.
std::u16string WithParameterSeparator(std::u16string_view url) {
  std::u16string out(url);
  out += url.find(u'?') == std::u16string_view::npos ? u'?' : u'&';
  return out;
}

std::u16string Decimal(uint64_t n) { return FromAscii(std::to_string(n)); }

}  // namespace

UploadedFile::UploadedFile(std::shared_ptr<platform::HttpSession> session, std::u16string_view url,
                           bool first_file, std::u16string local_path, uint32_t chunk_size,
                           std::u16string source_path, CredentialsPrompt prompt, Sleeper sleeper)
    : TransferredFile(std::move(session), WithParameterSeparator(url), std::move(local_path)),
      chunk_size_(chunk_size),
      first_file_(first_file),
      source_path_(std::move(source_path)),
      prompt_(std::move(prompt)),
      sleeper_(sleeper ? std::move(sleeper) : CancellableSleeper()) {}

UploadedFile::~UploadedFile() = default;

TransferEnd UploadedFile::Run() {
  const bool uploaded = Upload();
  // A cancelled upload ends as cancelled, whatever happened after the cancel was asked for.
  if (CancelRequested()) return TransferEnd::Cancelled();
  if (uploaded) return TransferEnd::Done();
  // A failure without a reason of its own keeps the text the page reads now.
  return failure_ ? *failure_ : TransferEnd::FailedWithText(GetErrorText());
}

bool UploadedFile::FailWithLastError(const char* operation) {
  failure_ = TransferEnd::Failed(Error{platform::LastError(), operation});
  return false;
}

bool UploadedFile::Upload() {
  // Opening.
  auto opened = platform::OpenForSharedReading(source_path_.empty() ? local_path() : source_path_);
  if (!opened.ok()) return FailWithLastError("open");
  platform::ScopedFd source(*opened);
  auto size = platform::OpenFileSize(source.get());
  if (!size.ok()) return FailWithLastError("size");

  auto parts = platform::SplitUrl(url());
  if (!parts.ok()) return false;  // no text: the URL was resolved, so this does not happen
  const bool secure = parts->scheme == u"https";
  // Everything after host and port, the query included; it ends with the separator.
  const std::u16string url_path = parts->path + u"?" + parts->query;

  if (!session()) {
    platform::SetLastError(ErrorCode::kInvalidHandle);
    return FailWithLastError("connect");
  }
  InternetConnectionHandle connection;
  {
    auto connected = session()->Connect(ToUtf8(url()), cancel_signal());
    if (!connected.ok()) return FailWithLastError("connect");
    connection.Reset(std::move(*connected));
  }
  // The request is declared after the connection: it closes first.
  HttpUploadRequest request(prompt_, sleeper_);
  chunk_bytes_ = 0;
  next_chunk_index_ = 1;
  // An empty file still sends its one request.
  if (*size == 0) return SendEmptyFile(connection, url_path, secure, request);
  return SendBlocks(source.get(), *size, connection, url_path, secure, request);
}

bool UploadedFile::ReadBlock(int source, uint64_t file_size, uint64_t position,
                             std::span<std::byte> block, size_t& block_bytes) {
  // Never past the size the file had when it was opened: the chunks were announced by it.
  const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), file_size - position));
  block_bytes = 0;
  if (want == 0) return true;
  auto read = platform::ReadSome(source, block.first(want));
  if (!read.ok()) return FailWithLastError("read");
  block_bytes = *read;
  if (block_bytes > 0) return true;
  // The file shrank under us: its last chunk can never be completed.
  platform::SetLastError(ErrorCode::kHandleEof);
  return FailWithLastError("read");
}

bool UploadedFile::SendBlocks(int source, uint64_t file_size, InternetConnectionHandle& connection,
                              const std::u16string& url_path, bool secure,
                              HttpUploadRequest& request) {
  std::array<std::byte, kUploadBlockSize> block;
  uint64_t position = 0;  // of the file, where the next read starts
  for (;;) {
    size_t block_bytes = 0;
    if (!ReadBlock(source, file_size, position, block, block_bytes)) return false;
    // Every byte went out, and the last chunk was finished inside WriteBlock.
    if (block_bytes == 0) return true;
    if (CancelRequested()) return false;  // the open request is dropped with `request`

    const int64_t remaining = static_cast<int64_t>(file_size - position - block_bytes);
    position += block_bytes;
    bool resend_chunk = false;
    if (WriteBlock(connection, url_path, secure, block.data(), 0,
                   static_cast<uint32_t>(block_bytes), remaining, resend_chunk, request)) {
      SetBytesTransferred(confirmed_offset_ + chunk_bytes_);
    } else if (!resend_chunk) {
      return false;  // the failure is recorded
    } else {
      // The chunk goes again from its first byte, into the request that was sent again.
      if (!platform::SeekTo(source, confirmed_offset_).ok()) return FailWithLastError("seek");
      position = confirmed_offset_;
      SetBytesTransferred(confirmed_offset_);
    }
  }
}

bool UploadedFile::SendEmptyFile(InternetConnectionHandle& connection,
                                 const std::u16string& url_path, bool secure,
                                 HttpUploadRequest& request) {
  if (!OpenChunk(connection, url_path, secure, next_chunk_index_++, 0, true, request)) {
    return false;
  }
  bool resend_chunk = false;
  bool finished = false;
  do {
    finished = FinishChunk(connection, resend_chunk, request);
  } while (!finished && resend_chunk);
  return finished;
}

bool UploadedFile::WriteBlock(InternetConnectionHandle& connection, const std::u16string& url_path,
                              bool secure, const std::byte* data, uint32_t start, uint32_t count,
                              int64_t remaining, bool& resend_chunk, HttpUploadRequest& request) {
  resend_chunk = false;
  // A block that spans several chunks is written piece by piece, one chunk at a time.
  for (;;) {
    if (!request || !request.is_open()) {
      const uint64_t pending = count + static_cast<uint64_t>(remaining);
      const bool is_last = pending <= chunk_size_;
      const uint32_t length = is_last ? static_cast<uint32_t>(pending) : chunk_size_;
      if (!OpenChunk(connection, url_path, secure, next_chunk_index_++, length, is_last, request)) {
        return false;
      }
      chunk_bytes_ = 0;
    }

    const uint32_t n = std::min(chunk_size_ - chunk_bytes_, count);
    uint32_t written = 0;
    if (!request.Write(std::span(data + start, n), written)) return FailWithLastError("send");
    chunk_bytes_ += written;
    const bool last_byte_written = n == count && remaining == 0;
    if (last_byte_written) SetState(TransferState::kFinishing);
    if (chunk_bytes_ < chunk_size_ && !last_byte_written) return true;  // continues next block

    if (!FinishChunk(connection, resend_chunk, request)) return false;
    if (n == count) return true;
    start += n;
    count -= n;
  }
}

bool UploadedFile::OpenChunk(InternetConnectionHandle& connection, const std::u16string& url_path,
                             bool secure, uint32_t index, uint32_t length, bool is_last,
                             HttpUploadRequest& request) {
  std::u16string query = u"chunkIdx=" + Decimal(index) + u"&offset=" + Decimal(confirmed_offset_);
  if (first_file_ && index == 1) query += u"&start=true";
  if (is_last) query += u"&checkin=" + UrlEncode(local_path());
  if (!request.OpenRequest(connection, url_path + query, secure, length)) {
    return FailWithLastError("open chunk");
  }
  return true;
}

bool UploadedFile::FinishChunk(InternetConnectionHandle& connection, bool& resend_chunk,
                               HttpUploadRequest& request) {
  std::u16string failure_text;
  if (request.Complete(connection, resend_chunk, failure_text)) {
    SetErrorText(request.GetAnswer());
    confirmed_offset_ += chunk_bytes_;
    chunk_bytes_ = 0;
    return true;
  }
  if (resend_chunk) {
    chunk_bytes_ = 0;
    return false;
  }
  if (failure_text.empty()) {
    // A refusal without a body leaves no failure of ours behind: "the last error" would read
    // "The operation completed successfully". Report it as the protocol failure it is.
    if (platform::LastError() == 0) {
      failure_ = TransferEnd::Refused(request ? request->Status() : 0, "answer");
      return false;
    }
    return FailWithLastError("answer");
  }
  failure_ = TransferEnd::FailedWithText(std::move(failure_text), Error{0, "answer"});
  return false;
}

}  // namespace qs
