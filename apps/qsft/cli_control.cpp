#include "qsft/cli_control.h"

#include <cstdio>
#include <utility>

#include "base/text.h"

namespace qs::app {

// The site keeps the dialogs alive on its own: a transfer's worker may still ask for them
// after the command has let go of the control.
class CliControl::Site final : public ClientSite {
 public:
  Site(std::u16string page_url, std::shared_ptr<platform::ScriptedDialogs> dialogs)
      : page_{std::move(page_url), 2}, dialogs_(std::move(dialogs)) {}
  std::optional<PageIdentity> GetPageIdentity() override { return page_; }
  platform::Dialogs* GetDialogs() override { return dialogs_.get(); }

 private:
  PageIdentity page_;
  std::shared_ptr<platform::ScriptedDialogs> dialogs_;
};

std::optional<std::string> OriginOf(std::string_view url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos || scheme_end == 0) return std::nullopt;
  for (char c : url.substr(0, scheme_end)) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.';
    if (!ok) return std::nullopt;
  }
  const size_t host_start = scheme_end + 3;
  const size_t host_end = url.find_first_of("/?#", host_start);
  const std::string_view authority =
      url.substr(host_start, host_end == std::string_view::npos ? url.npos : host_end - host_start);
  if (authority.empty()) return std::nullopt;
  return std::string(url.substr(0, host_start)) + std::string(authority) + "/";
}

CliControl::CliControl(std::u16string page_url)
    : dialogs_(std::make_shared<platform::ScriptedDialogs>()) {
  auto site = std::make_shared<Site>(page_url, dialogs_);
  control_ = std::make_unique<CQSFileTransferCtrl>(std::move(site));
  control_->ResetProperties();
  control_->Invoke(u"Url", InvokeKind::kPropertyPut, {Variant::String(std::move(page_url))});
}

CliControl::~CliControl() = default;

InvokeResult CliControl::Call(std::u16string_view method, std::vector<Variant> args) {
  return control_->Invoke(method, InvokeKind::kMethod, args);
}

InvokeResult CliControl::Get(std::u16string_view property) {
  return control_->Invoke(property, InvokeKind::kPropertyGet, {});
}

InvokeResult CliControl::Put(std::u16string_view property, Variant value) {
  return control_->Invoke(property, InvokeKind::kPropertyPut, {std::move(value)});
}

std::string DescribeFailure(const InvokeResult& result) {
  if (!result.ok()) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result.hresult));
    std::string text = "the control refused the call (" + std::string(code) + ")";
    if (!result.message.empty()) text += ": " + ToUtf8(result.message);
    return text;
  }
  return ToUtf8(result.value.as_string());
}

}  // namespace qs::app
