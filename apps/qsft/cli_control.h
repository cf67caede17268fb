// One control hosted by a command-line transfer: the page the person named, and dialogs that
// answer with what they named on the command line.
//
// A person who types `qsft download URL PATH` has chosen PATH as surely as if a picker had shown
// it: the command queues the choice as the picker's answer and calls the picker method, so the
// control grants it by its own rules. Nothing else is granted; the control's access decisions,
// resumption and status texts stay exactly what a page would get.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/control.h"
#include "dialogs/scripted_dialogs.h"

namespace qs::app {

// Exit codes shared by the transfer and working-directory commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;  // what shells report for an interrupt

// "scheme://authority/" of an absolute URL, nothing for anything else (a relative URL, a URL
// without a host).
std::optional<std::string> OriginOf(std::string_view url);

class CliControl {
 public:
  // `page_url` is the hosting page's address the control resolves URLs against and checks
  // hosts with. The page counts as trusted (zone 2): the person named it themselves.
  explicit CliControl(std::u16string page_url);
  ~CliControl();
  CliControl(const CliControl&) = delete;
  CliControl& operator=(const CliControl&) = delete;

  InvokeResult Call(std::u16string_view method, std::vector<Variant> args = {});
  InvokeResult Get(std::u16string_view property);
  InvokeResult Put(std::u16string_view property, Variant value);

  // The control's current transfer (null before the first start), read through the core.
  RefPtr<TransferredFile> current_transfer() const { return control_->current_transfer(); }

  // The answers the next dialogs get, in order; a dialog with none is cancelled.
  platform::ScriptedDialogs& dialogs() { return *dialogs_; }

 private:
  class Site;
  std::shared_ptr<platform::ScriptedDialogs> dialogs_;
  std::unique_ptr<CQSFileTransferCtrl> control_;
};

// A result or a failure of Call/Get/Put as one line of text for a person.
std::string DescribeFailure(const InvokeResult& result);

}  // namespace qs::app
