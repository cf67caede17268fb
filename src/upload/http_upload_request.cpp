#include "upload/http_upload_request.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "base/error.h"
#include "base/text.h"
#include "platform/last_error.h"
#include "transfer/download_decisions.h"
#include "transfer/error_text.h"

namespace qs {

namespace {

constexpr uint32_t kStatusOk = 200;
constexpr uint32_t kStatusAccepted = 202;
constexpr uint32_t kStatusUnauthorized = 401;
constexpr uint32_t kStatusProxyAuthRequired = 407;
// The piece size in which the answer to a challenge is read and dropped.
constexpr size_t kDrainPiece = 100;

std::u16string Decimal(uint64_t n) { return FromAscii(std::to_string(n)); }

}  // namespace

HttpUploadRequest::HttpUploadRequest(CredentialsPrompt prompt, Sleeper pause)
    : prompt_(std::move(prompt)), pause_(std::move(pause)) {}

HttpUploadRequest::~HttpUploadRequest() = default;

bool HttpUploadRequest::OpenRequest(InternetConnectionHandle& connection, std::u16string uri,
                                    bool secure, uint32_t length) {
  Close();
  if (!connection) {
    platform::SetLastError(ErrorCode::kInvalidHandle);
    return false;
  }
  auto opened = connection->OpenPost(ToUtf8(uri));
  if (!opened.ok()) return false;
  Reset(std::move(*opened));
  if (!Begin(length)) return false;
  is_open_ = true;
  auth_attempts_ = 0;
  request_uri_ = std::move(uri);
  secure_ = secure;
  return true;
}

bool HttpUploadRequest::Begin(uint32_t length) {
  if (!*this) {
    platform::SetLastError(ErrorCode::kInvalidHandle);
    return false;
  }
  if (!handle()->Send(length).ok()) return false;
  // Without a body the request is complete once sent; its answer's head is awaited here.
  if (length == 0 && !handle()->End().ok()) return false;
  content_length_ = length;
  return true;
}

bool HttpUploadRequest::Write(std::span<const std::byte> data, uint32_t& written) {
  written = 0;
  if (!*this) {
    platform::SetLastError(ErrorCode::kInvalidHandle);
    return false;
  }
  if (!handle()->Write(data).ok()) return false;
  written = static_cast<uint32_t>(data.size());
  return true;
}

bool HttpUploadRequest::Complete(InternetConnectionHandle& connection, bool& resend_chunk,
                                 std::u16string& failure_text) {
  resend_chunk = false;
  uint32_t status = kStatusAccepted;
  std::u16string uri = request_uri_;
  uint32_t asked_again = 0;
  while (status == kStatusAccepted) {
    bool ended = true;
    uint32_t last_error = 0;
    if (content_length_ > 0) {
      auto end = handle()->End();
      ended = end.ok();
      last_error = end.code();
    }
    status = handle()->Status();
    if (!ended) return HandleEndFailure(connection, status, resend_chunk, failure_text, last_error);

    if (status != kStatusAccepted) {
      const bool read = ReadAnswer(answer_);
      is_open_ = false;
      if (read && status == kStatusOk) return true;
      failure_text = answer_;
      return false;
    }

    if (!AskAgain(connection, uri, ++asked_again, failure_text)) {
      is_open_ = false;
      return false;
    }
  }
  return false;  // not reached: the loop ends only by returning
}

bool HttpUploadRequest::AskAgain(InternetConnectionHandle& connection, std::u16string& uri,
                                 uint32_t asked_again, std::u16string& failure_text) {
  // The 202 answer names the URI to ask again.
  std::u16string next;
  if (!ReadAnswer(next)) {
    failure_text = std::move(next);
    return false;
  }
  if (asked_again >= kMostAskAgainAnswers) {
    platform::SetLastError(ErrorCode::kInternetTimeout);
    return false;
  }
  const auto pause = AskAgainPause(asked_again);
  if (pause.count() > 0 && pause_ && !pause_(pause)) {
    platform::SetLastError(ErrorCode::kInternetOperationCancelled);
    return false;
  }
  if (next == uri) return Begin(0);
  uri = std::move(next);
  return OpenRequest(connection, uri, secure_, 0);
}

bool HttpUploadRequest::HandleEndFailure(InternetConnectionHandle& connection, uint32_t status,
                                         bool& resend_chunk, std::u16string& failure_text,
                                         uint32_t last_error) {
  const bool auth_status = status == kStatusUnauthorized || status == kStatusProxyAuthRequired;
  if (last_error == ToUint(ErrorCode::kInternetForceRetry) && auth_status) {
    if (auth_attempts_ >= kSilentAuthAttempts) last_error = AskCredentials(connection);
    DrainAnswer();
    if (last_error == ToUint(ErrorCode::kInternetForceRetry)) {
      resend_chunk = true;
      ++auth_attempts_;
      // A failed resend shows in the next write or end.
      (void)Begin(content_length_);
      return false;
    }
    if (last_error == 0) return false;
    if (last_error == ToUint(ErrorCode::kCancelled)) {
      failure_text = std::u16string(kCancelledText);
      return false;
    }
    failure_text = FormatErrorText(last_error);
    return false;
  }
  failure_text = FormatErrorText(last_error);
  if (status > 0) failure_text += u" [" + Decimal(status) + u"]";
  return false;
}

uint32_t HttpUploadRequest::AskCredentials(InternetConnectionHandle& connection) {
  if (!prompt_ || !connection) return ToUint(ErrorCode::kCancelled);
  const platform::HttpChallenge challenge = connection->LastChallenge();
  auto answer = prompt_(platform::CredentialsRequest(
      FromUtf8(challenge.server), FromUtf8(challenge.realm), FromUtf8(challenge.user)));
  if (answer.cancelled()) return ToUint(ErrorCode::kCancelled);
  if (answer.failed()) return answer.error();
  const platform::Credentials& given = answer.value();
  connection->SetCredentials(challenge.proxy, ToUtf8(given.user), ToUtf8(given.password));
  return ToUint(ErrorCode::kInternetForceRetry);
}

void HttpUploadRequest::DrainAnswer() {
  std::array<std::byte, kDrainPiece> piece;
  size_t drained = 0;
  while (drained < kMaxAnswerBytes) {
    auto read = handle()->Read(piece);
    if (!read.ok() || *read == 0) return;
    drained += *read;
  }
}

bool HttpUploadRequest::ReadAnswer(std::u16string& out) {
  out.clear();
  if (!*this) {
    platform::SetLastError(ErrorCode::kInvalidHandle);
    out = FormatErrorText(kLastErrorCode);
    return false;
  }
  std::string bytes;
  std::array<std::byte, 4096> piece;
  while (bytes.size() < kMaxAnswerBytes) {
    auto read = handle()->Read(piece);
    if (!read.ok()) {
      out = FormatErrorText(read.code());
      return false;
    }
    if (*read == 0) break;
    const size_t keep = std::min(*read, kMaxAnswerBytes - bytes.size());
    bytes.append(reinterpret_cast<const char*>(piece.data()), keep);
  }
  // The text ends at its first zero byte, as a C string would.
  if (const size_t zero = bytes.find('\0'); zero != std::string::npos) bytes.resize(zero);
  out = FromUtf8(bytes);
  // The answer was read: no failure of the reading is left to report.
  platform::SetLastError(ErrorCode::kSuccess);
  return true;
}

}  // namespace qs
