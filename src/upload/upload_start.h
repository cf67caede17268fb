// The page's side of the upload: measuring the chosen files with the user's consent, and
// starting an upload, with the checks made before any transfer exists.
//
// The control supplies what only it knows (its page's address, its access decision and grants,
// its consent question, its session, its transfer slot, its credentials prompt); everything
// else is decided here. Failures come back as the method's result and leave the slot alone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/variant.h"
#include "transfer/internet_handle.h"
#include "transfer/ref_ptr.h"
#include "transfer/transferred_file.h"
#include "upload/http_upload_request.h"
#include "url/request_url.h"

namespace qs {

// The result of a method whose routine failed unexpectedly.
inline constexpr std::u16string_view kExceptionText = u"Exception";
// GetLocalFileSize's failure value.
inline constexpr uint64_t kInvalidFileSize = ~uint64_t{0};

// The control's access decision for reading a file to upload, and its grants.
struct UploadAccess {
  // CheckAccess(path, 0x72): whether the page may read `path`; `qualified` receives the form the
  // decision was made on (empty when the path does not qualify).
  std::function<bool(std::u16string_view path, std::u16string* qualified)> check;
  std::function<void(std::u16string_view path)> grant;   // GrantFile
  std::function<void(std::u16string_view path)> revoke;  // RevokeFile
  // Message 309 about `path` as a Yes/No question; true only for Yes. `path` is the qualified
  // path that would be read (the page's text only when it does not qualify), so that the user
  // judges the file that is read, not the page's spelling of it.
  std::function<bool(std::u16string_view path)> ask_consent;
};

struct UploadStarter {
  PageUrlSource page_url;
  UploadAccess access;
  InternetHandle& session;           // opened here on first need
  RefPtr<TransferredFile>& current;  // the control's transfer slot
  CredentialsPrompt prompt;          // asked from the upload's worker
};

// Checks the arguments (a null `url` or `file_name`, or a `chunk_size` of 0: 87), resolves `url`
// against the page (another host or port: 87), asks the access decision for `file_name`
// (allowed: its picked-file grant is used up; refused: the consent question, and anything but
// Yes gives 5), opens the session and starts an UploadedFile in the slot. The result is the new
// ticket, false when no worker could be launched, or a message text. May throw; the caller
// turns anything thrown into kExceptionText.
Variant StartFileUpload(const UploadStarter& starter, std::optional<std::u16string_view> url,
                        bool first_file, std::optional<std::u16string_view> file_name,
                        uint32_t chunk_size);

// An element of the page's list as text; nothing when it cannot be read as text.
using ElementText = std::function<std::optional<std::u16string>(const Variant& element)>;

// The sizes of the files in `files` (an array of variants, or a string list), as decimal
// strings in input order. A file the access decision refuses is asked about (message 309);
// Yes grants it for one later upload, anything else ends the call with the text of 5. A size
// that cannot be read ends it with the text of that failure. Not a list: an empty value. An
// element that cannot be read as text: kExceptionText.
Variant GetFileSizes(const UploadAccess& access, const Variant& files, const ElementText& text_of);

// The size of the file at `path`, measured on the file itself: it is opened for shared reading
// (so a file that one of ours holds for writing fails) and its final path is measured. Failure:
// kInvalidFileSize with the thread's last error set.
uint64_t GetLocalFileSize(std::u16string_view path);

}  // namespace qs
