// Loading the texts of a language: the page names a language, the lowest pack version it
// accepts and the pack's URL; the texts loader does the rest (resources/downloadable_resources.h).
// Its downloads run as DownloadedFile transfers held by the loader, never in the page's slot,
// and take their tickets from the same counter as the page's transfers.
//
// A language that is not a plain tag, or a URL whose module name is not a plain file name, would
// let a page steer where the control stores the server's file: such a call does nothing and
// sends nothing. Nothing is ever reported to the page.
#include <memory>
#include <string>

#include "control/control.h"
#include "resources/language_pack.h"
#include "transfer/downloaded_file.h"
#include "transfer/ref_ptr.h"
#include "url/request_url.h"

namespace qs {

namespace {

class LanguageDownload final : public ModuleDownload {
 public:
  explicit LanguageDownload(RefPtr<DownloadedFile> file) : file_(std::move(file)) {}
  bool Done() const override { return file_->state() == TransferState::kDone; }
  std::u16string local_path() const override { return file_->local_path(); }
  void Cancel() override { file_->RequestCancel(); }

 private:
  RefPtr<DownloadedFile> file_;
};

}  // namespace

void CQSFileTransferCtrl::SetLanguage(const ScriptString& language,
                                      const ScriptString& resource_version,
                                      const ScriptString& resource_url) {
  try {
    if (language.str().empty() || resource_version.str().empty() || resource_url.is_null()) {
      return;
    }
    if (!IsPlainLanguageTag(language.str())) return;
    std::u16string resolved;
    const PageUrlSource page_url = [this](std::u16string& url) -> uint32_t {
      auto page = GetPageUrlAndZone();
      if (!page.ok()) return page.code();
      url = std::move(page->url);
      return 0;
    };
    if (ResolveRequestUrl(page_url, resource_url.str(), resolved) != 0) return;
    if (!IsPlainFileName(ModuleNameOf(resolved))) return;
    if (!EnsureSession()) return;
    TakeSiteCookies();
    const ModuleDownloadStarter start = [this](const std::u16string& url,
                                               const std::u16string& path) {
      auto file = MakeRef<DownloadedFile>(session_.handle(), url, path);
      // A download whose worker never starts simply never finishes; the next call replaces it.
      (void)file->Start();
      return std::make_unique<LanguageDownload>(std::move(file));
    };
    texts_->LoadLanguage(start, language.str(), resource_version.str(), resolved);
  } catch (...) {
    // Nothing reaches the page; whatever was loaded or pending stays as it is.
  }
}

}  // namespace qs
