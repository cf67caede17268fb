// `qsft host`: a script host that creates controls and drives them through the method table,
// speaking JSON Lines.
//
// One request object a line in, one answer object a line out, in order, each answer flushed
// before the next line is read; nothing else is written to `out`. Diagnostics go to `diag`.
// Every line gets an answer: a line that is not a well-formed request gets an error answer
// with "id":null and the host goes on. The session ends at {"op":"quit"} or at the end of the
// input; controls still alive then are destroyed, newest first, and every transfer still running
// is cancelled and waited for.
#pragma once

#include <iosfwd>

#include "qsft/json.h"

namespace qs {
namespace platform {
class Dialogs;
}

namespace app {

// Where the dialogs of a session's controls come from (the rule is in host_dialogs.h).
enum class DialogsMode { kAuto, kGtk, kScript, kNone };

struct HostOptions {
  // Per-line bounds; a longer line is skipped to its end and answered with an error.
  json::Limits limits;
  DialogsMode dialogs = DialogsMode::kScript;
  // Gives the desktop's dialogs backend (null when there is none), asked for at the first
  // dialog in the modes kAuto and kGtk.
  platform::Dialogs* (*desktop_dialogs)() = nullptr;
};

// Returns the process exit code: 0 at quit or end of input, 1 when `out` failed.
int RunHost(std::istream& in, std::ostream& out, std::ostream& diag, const HostOptions& options);

}  // namespace app
}  // namespace qs
