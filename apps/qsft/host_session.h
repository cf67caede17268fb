// The state of one `qsft host` session and the table of its ops.
//
// An op is one function from the request object to a result value or a failure; the table in
// host_ops.cpp lists each op once by the name it has in "op". Adding an op is one function and
// one line there. Ops never throw; the session answers every line exactly once.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/client_site.h"
#include "qsft/host.h"
#include "qsft/json.h"

namespace qs {
class CQSFileTransferCtrl;

namespace app {

// A refused request or a failure reported by a control: the component-model code (written as
// a signed 32-bit number) and a message.
struct OpFailure {
  uint32_t code = 0;
  std::u16string message;
};
using OpResult = std::variant<json::Value, OpFailure>;

class HostSession;
class HostDialogs;
using OpHandler = OpResult (*)(HostSession& session, const json::Value& request);

struct HostOp {
  std::u16string_view name;
  OpHandler run;
};
// Every op the host understands.
std::span<const HostOp> HostOps();

// The browser's cookies for the page of the request being answered, set by the browser host
// around each request and empty otherwise. Used on the session's thread only.
struct RequestCookies {
  std::vector<platform::HttpCookie> now;
};

// The site a host-made control sees: a fixed page identity (or none), the session's dialogs,
// whichever backend they answer from at the moment of asking, and the cookies of the request.
class HostClientSite final : public ClientSite {
 public:
  HostClientSite(std::optional<PageIdentity> page, std::shared_ptr<HostDialogs> dialogs,
                 std::shared_ptr<const RequestCookies> cookies = nullptr)
      : page_(std::move(page)), dialogs_(std::move(dialogs)), cookies_(std::move(cookies)) {}
  std::optional<PageIdentity> GetPageIdentity() override { return page_; }
  platform::Dialogs* GetDialogs() override;
  std::vector<platform::HttpCookie> GetCookies() override {
    return cookies_ ? cookies_->now : std::vector<platform::HttpCookie>{};
  }

 private:
  std::optional<PageIdentity> page_;
  // Shared: a transfer's worker may still ask the site for a dialog after the session ended.
  std::shared_ptr<HostDialogs> dialogs_;
  std::shared_ptr<const RequestCookies> cookies_;
};

class HostSession {
 public:
  HostSession(const HostOptions& options, std::ostream& diag);
  // Destroys the controls still alive, newest first, then waits until every transfer's worker in
  // the process has ended, each cancelled first.
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // The answer to one request line, without the line break.
  std::string Answer(std::string_view line);
  // The answer for a line that could not be read whole (too long, say).
  std::string RefuseLine(std::u16string message);
  bool done() const { return done_; }

  // For the ops.
  const HostOptions& options() const { return options_; }
  std::ostream& diag() { return diag_; }
  const std::shared_ptr<HostDialogs>& dialogs() const { return dialogs_; }
  const std::shared_ptr<RequestCookies>& request_cookies() const { return request_cookies_; }
  void Quit() { done_ = true; }
  CQSFileTransferCtrl* FindControl(std::u16string_view name);
  // False when a control of that name exists already.
  bool AddControl(std::u16string name, std::unique_ptr<CQSFileTransferCtrl> control);
  // Destroys the control; false when there is none of that name.
  bool DestroyControl(std::u16string_view name);
  // Destroys every control whose name begins with `prefix`, newest first.
  void DestroyControlsWithPrefix(std::u16string_view prefix);

 private:
  struct Entry {
    std::u16string name;
    std::unique_ptr<CQSFileTransferCtrl> control;
  };

  OpResult Dispatch(const json::Value& request);

  const HostOptions& options_;
  std::ostream& diag_;
  std::shared_ptr<HostDialogs> dialogs_;
  std::shared_ptr<RequestCookies> request_cookies_ = std::make_shared<RequestCookies>();
  std::vector<Entry> controls_;  // in creation order
  bool done_ = false;
};

// The object-safety negotiation (host_safety.cpp).
OpResult SafetyOp(HostSession& session, const json::Value& request);

// Helpers for ops: a failure with the invalid-argument code and the given text.
OpFailure BadRequest(std::u16string message);
// The default message of a component-model code ("Unknown name." and so on).
std::u16string DescribeCode(uint32_t code);

}  // namespace app
}  // namespace qs
