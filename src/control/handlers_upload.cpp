// Measuring and uploading local files: the control hands its page's address, its access guard,
// its consent question, its session, its transfer slot and its credentials prompt to the upload
// (upload/upload_start.h).
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/text.h"
#include "control/control.h"
#include "platform/dialogs.h"
#include "resources/format_text.h"
#include "upload/upload_start.h"
#include "workdir/operation_scope.h"

namespace qs {

namespace {

std::optional<std::u16string_view> TextOrNothing(const ScriptString& text) {
  if (text.is_null()) return std::nullopt;
  return std::u16string_view(text.str());
}

// CheckAccess(path, 0x72) and the grants on the control's access guard; the consent question is
// message 309 about the path, with the question icon, Yes and No. The path is shown with its
// control and invisible format characters made visible.
UploadAccess MakeUploadAccess(CQSFileTransferCtrl& control) {
  UploadAccess access;
  access.check = [&control](std::u16string_view path, std::u16string* qualified) {
    return control.access_guard().CheckAccess(path, access_mask::kUpload, qualified);
  };
  access.grant = [&control](std::u16string_view path) { control.access_guard().GrantFile(path); };
  access.revoke = [&control](std::u16string_view path) { control.access_guard().RevokeFile(path); };
  access.ask_consent = [&control](std::u16string_view path) {
    platform::Dialogs* dialogs = control.site() ? control.site()->GetDialogs() : nullptr;
    if (dialogs == nullptr) return false;
    const std::u16string text =
        FormatText(control.GetString(TextId::kAllowFileAccess), {VisibleControls(path)});
    const platform::MessageAnswer answer = dialogs->ShowMessage(platform::MessageBoxRequest(
        text, control.GetString(TextId::kApplicationTitle), platform::MessageIcon::kQuestion,
        platform::MessageButtons::kYesNo));
    return answer == platform::MessageAnswer::kYes;
  };
  return access;
}

}  // namespace

Variant CQSFileTransferCtrl::GetFileSizes(const Variant& files) {
  try {
    return qs::GetFileSizes(MakeUploadAccess(*this), files,
                            [](const Variant& element) -> std::optional<std::u16string> {
                              ArgumentConversion text =
                                  ConvertArgument(element, ValueType::kString);
                              if (!text.ok()) return std::nullopt;
                              return std::get<ScriptString>(text.value).str();
                            });
  } catch (...) {
    return Variant::String(std::u16string(kExceptionText));
  }
}

Variant CQSFileTransferCtrl::StartFileUpload(const ScriptString& url, bool first_file,
                                             const ScriptString& file_name, uint32_t chunk_size) {
  try {
    // The upload may outlive the control: its prompt holds the site, never the control.
    std::shared_ptr<ClientSite> site = site_;
    TakeSiteCookies();
    UploadStarter starter{
        .page_url = [this](std::u16string& page_url) -> uint32_t {
          auto page = GetPageUrlAndZone();
          if (!page.ok()) return page.code();
          page_url = std::move(page->url);
          return 0;
        },
        .access = MakeUploadAccess(*this),
        .session = session_,
        .current = current_transfer_,
        .prompt = [site](const platform::CredentialsRequest& request)
            -> platform::DialogResult<platform::Credentials> {
          platform::Dialogs* dialogs = site ? site->GetDialogs() : nullptr;
          if (dialogs == nullptr) return platform::DialogResult<platform::Credentials>::Cancel();
          return dialogs->AskCredentials(request);
        },
    };
    RefPtr<TransferredFile> previous = current_transfer_;
    Variant result = qs::StartFileUpload(starter, TextOrNothing(url), first_file,
                                         TextOrNothing(file_name), chunk_size);
    KeepReplaced(std::move(previous));
    return result;
  } catch (...) {
    return Variant::String(std::u16string(kExceptionText));
  }
}

}  // namespace qs
