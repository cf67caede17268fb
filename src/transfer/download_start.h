// Starting a download for the page: the checks made before any transfer exists, then the start.
//
// The control supplies what only it knows (its page's address, its access decision, its message
// text for a refused target, its session and transfer slot); everything else is decided here.
// Validation failures come back as the method's string result and leave the slot as it was.
#pragma once

#include "platform/http.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/variant.h"
#include "transfer/downloaded_file.h"
#include "transfer/internet_handle.h"
#include "transfer/ref_ptr.h"
#include "transfer/transferred_file.h"
#include "url/request_url.h"

namespace qs {

// The access decision for a download target (the requests of the working, download and export
// directories). When the page may write there: the path in the qualified form the decision was
// made on, which is the one every file operation then uses, so the file written is the file
// allowed. Nothing when refused.
using DownloadAccessCheck = std::function<std::optional<std::u16string>(std::u16string_view path)>;

struct DownloadStarter {
  PageUrlSource page_url;
  DownloadAccessCheck check_access;
  std::function<std::u16string()> denied_text;  // the page's text for a refused target
  InternetHandle& session;                      // opened here on first need
  RefPtr<TransferredFile>& current;             // the control's transfer slot
  Sleeper sleeper = nullptr;  // pauses before resumptions and 202s; none: the cancel signal
};

// Resolves `url` against the page (another host or port: 87), asks the access decision for
// `file_path` (refused: denied_text), checks the path's form (no separator, or no file name
// after the last one: 87; a directory part of 260 units or more: 206), creates the target's
// directory with its parents, opens the session and starts a DownloadedFile in the slot. The
// result is the new ticket, false when no worker could be launched, or a message text. May throw
// std::bad_alloc; the caller turns anything thrown into its own message.
Variant StartFileDownload(const DownloadStarter& starter, std::u16string_view url,
                          std::u16string_view file_path);

// The redirect judgement of a download whose first request goes to `first_url`: the page's
// own scheme, host and port, or a host of the administrator's "RedirectHosts" list, read now
// (url/redirect_rule.h).
platform::RedirectCheck DownloadRedirectCheck(std::u16string_view first_url);

}  // namespace qs
