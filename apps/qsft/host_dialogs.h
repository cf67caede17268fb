// The dialogs of a `qsft host` session, and the ops that script them.
//
// The rule: the controls of a session get scripted answers once the session is in script mode
// (started with --dialogs=script, or switched by any "dialogs" op, for the rest of the
// session); before that, the desktop's dialogs (--dialogs=auto: GTK when a display can be
// opened, else scripted; --dialogs=gtk: GTK; --dialogs=none: none, every dialog cancelled).
// The desktop backend is asked for when the first dialog is shown, so a session that shows
// none never opens the display. Only scripted dialogs are recorded for {"op":"shown"}.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string_view>

#include "dialogs/scripted_dialogs.h"
#include "qsft/host.h"
#include "qsft/host_session.h"
#include "qsft/json.h"

namespace qs::app {

// "auto", "gtk", "script", "none".
std::optional<DialogsMode> ParseDialogsMode(std::string_view text);

class HostDialogs {
 public:
  HostDialogs(DialogsMode mode, platform::Dialogs* (*desktop)());

  // The backend a control's site hands out now; null: every dialog is cancelled. Any thread.
  platform::Dialogs* Current();
  // Switches the session to scripted answers for good and gives the scripted backend.
  platform::ScriptedDialogs& UseScript();
  // The scripted dialogs shown since the last call (the record starts afresh).
  std::vector<platform::ShownDialog> TakeShown() { return script_.Shown(); }

 private:
  const DialogsMode mode_;
  platform::Dialogs* (*const desktop_)();
  std::atomic<bool> scripted_;
  std::once_flag desktop_once_;
  platform::Dialogs* desktop_backend_ = nullptr;
  platform::ScriptedDialogs script_;
};

// {"op":"dialogs","answers":[...]} queues answers; {"op":"dialogs","clear":true} drops the
// queued ones (clear first when both are given). A malformed answer refuses the whole request.
OpResult DialogsOp(HostSession& session, const json::Value& request);
// {"op":"shown"}: the scripted dialogs shown since the last "shown", in order.
OpResult ShownOp(HostSession& session, const json::Value& request);

}  // namespace qs::app
