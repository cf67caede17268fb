#include "qsft/host_dialogs.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/text.h"

namespace qs::app {

namespace {

using Kind = json::Value::Kind;
using platform::ScriptedAnswer;
namespace scripted = platform::scripted;

json::Value Text(std::string_view ascii) { return json::Value::String(FromAscii(ascii)); }

// One answer object: exactly one of the keys below, or the reason it is refused.
std::variant<ScriptedAnswer, std::u16string> ParseAnswer(const json::Value& value) {
  if (value.kind() != Kind::kObject || value.as_object().size() != 1) {
    return u"an answer must be an object with one member";
  }
  const auto& [key, v] = value.as_object().front();
  if (key == u"folder") {
    if (v.kind() != Kind::kString) return u"\"folder\" must be a string";
    return scripted::Folder{v.as_string()};
  }
  if (key == u"files") {
    if (v.kind() != Kind::kArray) return u"\"files\" must be an array of strings";
    scripted::Files files;
    for (const auto& item : v.as_array()) {
      if (item.kind() != Kind::kString) return u"\"files\" must be an array of strings";
      files.paths.push_back(item.as_string());
    }
    return files;
  }
  if (key == u"cancel") {
    if (v.kind() != Kind::kBool || !v.as_bool()) return u"\"cancel\" must be true";
    return scripted::Cancel{};
  }
  if (key == u"error") {
    auto code = v.AsInteger(1, std::numeric_limits<uint32_t>::max());
    if (!code) return u"\"error\" must be an integer from 1 to 4294967295";
    return scripted::Failure{static_cast<uint32_t>(*code)};
  }
  if (key == u"button") {
    if (v.kind() == Kind::kString) {
      if (v.as_string() == u"yes") return scripted::Button{platform::MessageAnswer::kYes};
      if (v.as_string() == u"no") return scripted::Button{platform::MessageAnswer::kNo};
      if (v.as_string() == u"ok") return scripted::Button{platform::MessageAnswer::kOk};
    }
    return u"\"button\" must be \"yes\", \"no\" or \"ok\"";
  }
  if (key == u"credentials") {
    const json::Value* user = v.Find(u"user");
    const json::Value* password = v.Find(u"password");
    if (v.kind() != Kind::kObject || v.as_object().size() != 2 || !user || !password ||
        user->kind() != Kind::kString || password->kind() != Kind::kString) {
      return u"\"credentials\" must be {\"user\":string,\"password\":string}";
    }
    return scripted::Login{{user->as_string(), password->as_string()}};
  }
  if (key == u"app") {
    if (v.kind() != Kind::kString) return u"\"app\" must be a string";
    return scripted::App{v.as_string()};
  }
  return u"unknown answer \"" + key + u"\"";
}

json::Value ShownToJson(const platform::ShownDialog& d) {
  using platform::DialogKind;
  json::Object o;
  o.emplace_back(u"kind", Text(platform::DialogKindName(d.kind)));
  switch (d.kind) {
    case DialogKind::kFolder:
    case DialogKind::kFile:
    case DialogKind::kFiles:
      o.emplace_back(u"title", json::Value::String(d.title));
      o.emplace_back(u"start", json::Value::String(d.start));
      break;
    case DialogKind::kMessage:
      o.emplace_back(u"title", json::Value::String(d.title));
      o.emplace_back(u"text", json::Value::String(d.text));
      if (d.icon) o.emplace_back(u"icon", Text(platform::MessageIconName(*d.icon)));
      if (d.buttons) o.emplace_back(u"buttons", Text(platform::MessageButtonsName(*d.buttons)));
      break;
    case DialogKind::kCredentials:
      o.emplace_back(u"title", json::Value::String(d.title));
      o.emplace_back(u"text", json::Value::String(d.text));
      o.emplace_back(u"user", json::Value::String(d.user));
      break;
    case DialogKind::kApp:
      o.emplace_back(u"text", json::Value::String(d.text));
      o.emplace_back(u"type", json::Value::String(d.content_type));
      break;
  }
  return json::Value::MakeObject(std::move(o));
}

}  // namespace

std::optional<DialogsMode> ParseDialogsMode(std::string_view text) {
  if (text == "auto") return DialogsMode::kAuto;
  if (text == "gtk") return DialogsMode::kGtk;
  if (text == "script") return DialogsMode::kScript;
  if (text == "none") return DialogsMode::kNone;
  return std::nullopt;
}

HostDialogs::HostDialogs(DialogsMode mode, platform::Dialogs* (*desktop)())
    : mode_(mode), desktop_(desktop), scripted_(mode == DialogsMode::kScript) {}

platform::Dialogs* HostDialogs::Current() {
  if (scripted_.load()) return &script_;
  switch (mode_) {
    case DialogsMode::kScript: return &script_;
    case DialogsMode::kNone: return nullptr;
    case DialogsMode::kAuto:
    case DialogsMode::kGtk: break;
  }
  std::call_once(desktop_once_, [this] {
    if (desktop_) desktop_backend_ = desktop_();
  });
  if (desktop_backend_ == nullptr && mode_ == DialogsMode::kAuto) return &script_;
  return desktop_backend_;
}

platform::ScriptedDialogs& HostDialogs::UseScript() {
  scripted_.store(true);
  return script_;
}

platform::Dialogs* HostClientSite::GetDialogs() { return dialogs_->Current(); }

OpResult DialogsOp(HostSession& session, const json::Value& request) {
  const json::Value* clear = request.Find(u"clear");
  const json::Value* answers = request.Find(u"answers");
  if (!clear && !answers) return BadRequest(u"give \"answers\" or \"clear\"");
  if (clear && (clear->kind() != Kind::kBool || !clear->as_bool())) {
    return BadRequest(u"\"clear\" must be true");
  }
  std::vector<ScriptedAnswer> parsed;
  if (answers) {
    if (answers->kind() != Kind::kArray) return BadRequest(u"\"answers\" must be an array");
    for (size_t i = 0; i < answers->as_array().size(); ++i) {
      auto answer = ParseAnswer(answers->as_array()[i]);
      if (auto* why = std::get_if<std::u16string>(&answer)) {
        return BadRequest(u"answer " + FromAscii(std::to_string(i + 1)) + u": " + *why);
      }
      parsed.push_back(std::get<ScriptedAnswer>(std::move(answer)));
    }
  }
  platform::ScriptedDialogs& script = session.dialogs()->UseScript();
  if (clear) script.Clear();
  script.Queue(std::move(parsed));
  return json::Value();
}

OpResult ShownOp(HostSession& session, const json::Value& /*request*/) {
  json::Array shown;
  for (const auto& d : session.dialogs()->TakeShown()) shown.push_back(ShownToJson(d));
  return json::Value::MakeArray(std::move(shown));
}

}  // namespace qs::app
