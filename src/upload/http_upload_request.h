// HttpUploadRequest: one POST of the chunked upload and everything until its final answer.
//
// One object serves every chunk of one file. Each chunk opens a new request on the upload's
// connection; the object owns the current request (opening the next closes it) and keeps its
// URI and the last answer.
//
// The answers, as Complete handles them:
//   200        accepted; the body (UTF-8 text) is the answer.
//   202        the body is a request URI: ask again with an empty POST, as a new request when
//              the URI differs from the last one, else the same one once more. At once the
//              first few times, then after a pause that grows up to a second (as a download
//              does), so that a server slow to take a chunk is not flooded; a cancel ends the
//              pause. After kMostAskAgainAnswers in a row (about half an hour), a time-out
//              (12002).
//   401, 407   when the HTTP client asks for the body again (credentials are available): the
//              caller writes the chunk once more from its first byte. The first two repeats of
//              a request go out silently; from the third the user is asked for credentials
//              first. The count starts afresh with every request.
//   other      a failure; the body is its text.
//
// Used on the upload's worker thread only, and the credentials prompt is asked from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/dialogs.h"
#include "platform/http.h"
#include "transfer/internet_handle.h"
#include "transfer/transferred_file.h"

namespace qs {

// The upload's connection to the server: every chunk's request goes out on it.
using InternetConnectionHandle = BasicInternetHandle<std::unique_ptr<platform::HttpConnection>>;

// Asks the user for credentials; called from the worker thread and waits for the answer.
using CredentialsPrompt = std::function<platform::DialogResult<platform::Credentials>(
    const platform::CredentialsRequest&)>;

// Answer texts longer than this are cut here; the rest of the answer is not read.
inline constexpr size_t kMaxAnswerBytes = 1024 * 1024;
// Repeats for authentication that go out before the user is asked.
inline constexpr int32_t kSilentAuthAttempts = 2;
// The text of a chunk whose credentials prompt the user cancelled.
inline constexpr std::u16string_view kCancelledText = u"Cancelled";

class HttpUploadRequest : public BasicInternetHandle<std::unique_ptr<platform::HttpPostRequest>> {
 public:
  // `pause` paces the 202 answers; without one they are asked again at once.
  explicit HttpUploadRequest(CredentialsPrompt prompt = {}, Sleeper pause = {});
  ~HttpUploadRequest() override;

  // Closes the current request, opens a POST of `uri` (path and query) on `connection` and
  // sends its head announcing `length` body bytes. False with the thread's last error set.
  bool OpenRequest(InternetConnectionHandle& connection, std::u16string uri, bool secure,
                   uint32_t length);
  // Sends the current request's head (again) announcing `length`; with 0 the whole request
  // goes out and its answer's head is awaited.
  bool Begin(uint32_t length);
  // Hands `data` to the open request; `written` is how much it took.
  bool Write(std::span<const std::byte> data, uint32_t& written);
  // Ends the request and follows the answers (see above). True when the server accepted it
  // with 200 (GetAnswer then holds its text). On false, `resend_chunk` says that the same
  // request was sent again and expects its body once more, and `failure_text` the reason,
  // possibly empty (the thread's last error then tells it).
  bool Complete(InternetConnectionHandle& connection, bool& resend_chunk,
                std::u16string& failure_text);
  // Reads the rest of the answer and decodes it as UTF-8 up to its first zero byte. On false,
  // `out` holds the text of the failure.
  bool ReadAnswer(std::u16string& out);

  std::u16string GetAnswer() const { return answer_; }
  // A request was opened and has no final answer yet.
  bool is_open() const { return is_open_; }
  int32_t auth_attempts() const { return auth_attempts_; }

 private:
  // Follows a 202 whose answer names `uri` (updated to the URI asked next), after the pause for
  // the `asked_again`-th 202 in a row. False with `failure_text` or the thread's last error set.
  bool AskAgain(InternetConnectionHandle& connection, std::u16string& uri, uint32_t asked_again,
                std::u16string& failure_text);
  // Always false; see the class comment for the four outcomes of the authentication path.
  bool HandleEndFailure(InternetConnectionHandle& connection, uint32_t status, bool& resend_chunk,
                        std::u16string& failure_text, uint32_t last_error);
  // The prompt's outcome as a platform code: 12032 to send again (the credentials are then in
  // force), 1223 when cancelled, or the prompt's own failure code.
  uint32_t AskCredentials(InternetConnectionHandle& connection);
  // Reads and drops the rest of an answer, in small pieces, up to kMaxAnswerBytes.
  void DrainAnswer();

  bool is_open_ = false;
  uint32_t content_length_ = 0;
  int32_t auth_attempts_ = 0;
  std::u16string answer_;
  std::u16string request_uri_;
  bool secure_ = false;
  CredentialsPrompt prompt_;
  Sleeper pause_;
};

}  // namespace qs
