#include "qsft/host_session.h"

#include <cstdio>
#include <exception>
#include <new>
#include <ostream>

#include "base/error_codes.h"
#include "base/text.h"
#include "control/control.h"
#include "qsft/control_classes.h"
#include "qsft/host_dialogs.h"
#include "transfer/transferred_file.h"

namespace qs::app {

namespace {

json::Value CodeValue(uint32_t code) {
  return json::Value::Integer(static_cast<int32_t>(code));  // signed, as script hosts show it
}

std::string AnswerLine(json::Value id, OpResult result) {
  json::Object answer;
  answer.emplace_back(u"id", std::move(id));
  if (auto* failure = std::get_if<OpFailure>(&result)) {
    json::Object error;
    error.emplace_back(u"code", CodeValue(failure->code));
    error.emplace_back(u"message",
                       json::Value::String(failure->message.empty() ? DescribeCode(failure->code)
                                                                    : std::move(failure->message)));
    answer.emplace_back(u"error", json::Value::MakeObject(std::move(error)));
  } else {
    answer.emplace_back(u"result", std::get<json::Value>(std::move(result)));
  }
  return json::Write(json::Value::MakeObject(std::move(answer)));
}

// An id is echoed as it came; only scalars that identify something are accepted.
bool IsEchoableId(const json::Value& id) {
  return id.kind() == json::Value::Kind::kNull || id.kind() == json::Value::Kind::kNumber ||
         id.kind() == json::Value::Kind::kString;
}

}  // namespace

OpFailure BadRequest(std::u16string message) {
  return OpFailure{hresult::kInvalidArg, std::move(message)};
}

std::u16string DescribeCode(uint32_t code) {
  switch (code) {
    case hresult::kUnknownName: return u"Unknown name.";
    case hresult::kBadParamCount: return u"Invalid number of parameters.";
    case hresult::kTypeMismatch: return u"Type mismatch.";
    case hresult::kMemberNotFound: return u"Member not found.";
    case hresult::kOutOfMemory: return u"Out of memory.";
    case hresult::kInvalidArg: return u"The parameter is incorrect.";
    case hresult::kFail: return u"Unspecified error.";
    case hresult::kNoInterface: return u"No such interface supported.";
    case kClassNotAvailable: return u"Class not available.";
    default: break;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "Error 0x%08X.", static_cast<unsigned>(code));
  return FromAscii(buf);
}

HostSession::HostSession(const HostOptions& options, std::ostream& diag)
    : options_(options),
      diag_(diag),
      dialogs_(std::make_shared<HostDialogs>(options.dialogs, options.desktop_dialogs)) {}

HostSession::~HostSession() {
  // A host may end only when no control is alive and no transfer's worker runs: the controls go
  // first, newest first (each cancels the transfers it started), then every worker still running
  // in the process is cancelled and waited for, so none is cut off with its temporary file.
  while (!controls_.empty()) controls_.pop_back();
  TransferredFile::CancelAllWorkersAndWait();
}

std::string HostSession::RefuseLine(std::u16string message) {
  return AnswerLine(json::Value(), BadRequest(std::move(message)));
}

std::string HostSession::Answer(std::string_view line) {
  auto parsed = json::Parse(line, options_.limits);
  if (auto* error = std::get_if<json::ParseError>(&parsed)) {
    return RefuseLine(u"malformed request: " + FromUtf8(error->ToString()));
  }
  const json::Value& request = std::get<json::Value>(parsed);
  if (request.kind() != json::Value::Kind::kObject) {
    return RefuseLine(u"a request must be a JSON object");
  }
  const json::Value* id = request.Find(u"id");
  if (id && !IsEchoableId(*id)) {
    return RefuseLine(u"\"id\" must be a number, a string or null");
  }
  json::Value id_value = id ? *id : json::Value();

  OpResult result = OpFailure{hresult::kFail, {}};
  try {
    result = Dispatch(request);
  } catch (const std::bad_alloc&) {
    result = OpFailure{hresult::kOutOfMemory, {}};
  } catch (const std::exception& e) {
    // Nothing should escape an op; if something does, the session still answers and goes on.
    result = OpFailure{hresult::kFail, u"unexpected failure: " + FromUtf8(e.what())};
  }
  return AnswerLine(std::move(id_value), std::move(result));
}

OpResult HostSession::Dispatch(const json::Value& request) {
  const json::Value* op = request.Find(u"op");
  if (!op) return BadRequest(u"the request has no \"op\"");
  if (op->kind() != json::Value::Kind::kString) return BadRequest(u"\"op\" must be a string");
  for (const HostOp& entry : HostOps()) {
    if (entry.name == op->as_string()) return entry.run(*this, request);
  }
  return BadRequest(u"unknown op \"" + op->as_string() + u"\"");
}

CQSFileTransferCtrl* HostSession::FindControl(std::u16string_view name) {
  for (auto& e : controls_) {
    if (e.name == name) return e.control.get();
  }
  return nullptr;
}

bool HostSession::AddControl(std::u16string name, std::unique_ptr<CQSFileTransferCtrl> control) {
  if (FindControl(name)) return false;
  controls_.push_back(Entry{std::move(name), std::move(control)});
  return true;
}

bool HostSession::DestroyControl(std::u16string_view name) {
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    if (it->name == name) {
      controls_.erase(it);
      return true;
    }
  }
  return false;
}

void HostSession::DestroyControlsWithPrefix(std::u16string_view prefix) {
  for (size_t i = controls_.size(); i-- > 0;) {
    if (std::u16string_view(controls_[i].name).starts_with(prefix)) {
      controls_.erase(controls_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

}  // namespace qs::app
