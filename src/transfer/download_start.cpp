#include "transfer/download_start.h"

#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "platform/file_system.h"
#include "transfer/error_text.h"
#include "transfer/session.h"
#include "transfer/transfer_slot.h"
#include "url/redirect_rule.h"
#include "workdir/path_qualify.h"

namespace qs {

namespace {

// A target must name a file: something after its last separator that is not "." or "..", so
// that the temporary file beside it lies in the same, allowed, directory.
bool NamesAFile(std::u16string_view path, size_t last_separator) {
  const std::u16string_view name = path.substr(last_separator + 1);
  return !name.empty() && name != u"." && name != u"..";
}

// The directory of a qualified path ("/" separated, absolute).
std::u16string_view DirectoryOf(std::u16string_view qualified) {
  const size_t cut = qualified.find_last_of(u'/');
  if (cut == 0 || cut == std::u16string_view::npos) return u"/";
  return qualified.substr(0, cut);
}

}  // namespace

platform::RedirectCheck DownloadRedirectCheck(std::u16string_view first_url) {
  const std::vector<std::u16string> entries = ReadNumberedList(PolicyKeyPath(kRedirectHosts));
  return [first = std::u16string(first_url), rules = RedirectHostRules(entries)](
             std::string_view from, std::string_view to) {
    return MayFollowRedirect(first, FromUtf8(from), FromUtf8(to), rules);
  };
}

Variant StartFileDownload(const DownloadStarter& starter, std::u16string_view url,
                          std::u16string_view file_path) {
  std::u16string absolute_url;
  if (const uint32_t code = ResolveRequestUrl(starter.page_url, url, absolute_url); code != 0) {
    return MakeErrorResult(code);
  }

  std::optional<std::u16string> allowed;
  if (starter.check_access) allowed = starter.check_access(file_path);
  if (!allowed || allowed->empty()) return Variant::String(starter.denied_text());

  const size_t last_separator = FindLastSeparator(file_path);
  if (last_separator == std::u16string_view::npos || !NamesAFile(file_path, last_separator)) {
    return MakeErrorResult(ToUint(ErrorCode::kInvalidParameter));
  }
  if (last_separator >= kMaxQualifiedPathLength) {
    return MakeErrorResult(ToUint(ErrorCode::kFilenameExcedRange));
  }

  // Created even when the download then fails; an existing plain file in the way is a failure.
  auto created = platform::CreateDirectoryTree(DirectoryOf(*allowed));
  if (!created.ok()) return MakeErrorResult(created.code());

  if (!EnsureSession(starter.session)) return MakeErrorResult(kLastErrorCode);
  platform::RedirectCheck may_follow = DownloadRedirectCheck(absolute_url);
  return StartTransfer(
      starter.current,
      MakeRef<DownloadedFile>(starter.session.handle(), std::move(absolute_url),
                              std::move(*allowed), starter.sleeper, std::move(may_follow)));
}

}  // namespace qs
