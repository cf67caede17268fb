#include "qsft/native_host.h"

#include <cstdint>
#include <cstdlib>
#include <istream>
#include <ostream>

#include "base/text.h"
#include "control/control.h"
#include "qsft/native_framing.h"
#include "trust/trusted_sites.h"
#include "url/scheme_and_host.h"

namespace qs::app {

namespace {

using Kind = json::Value::Kind;

// The members of a page's request that pass on, each checked by the op itself.
constexpr std::u16string_view kPassedMembers[] = {u"id",   u"op",    u"name",  u"dispid",
                                                  u"args", u"value", u"props", u"class"};
constexpr std::u16string_view kPageOps[] = {u"create", u"call", u"get", u"put", u"destroy"};

bool IsIdPart(const json::Value* v) {
  return v == nullptr || v->kind() == Kind::kNull || v->kind() == Kind::kNumber ||
         v->kind() == Kind::kString;
}

std::string ErrorAnswer(const json::Value* id, const OpFailure& failure) {
  json::Object error;
  error.emplace_back(u"code", json::Value::Integer(static_cast<int32_t>(failure.code)));
  error.emplace_back(
      u"message",
      json::Value::String(failure.message.empty() ? DescribeCode(failure.code) : failure.message));
  json::Object answer;
  answer.emplace_back(u"id", id && IsIdPart(id) ? *id : json::Value());
  answer.emplace_back(u"error", json::Value::MakeObject(std::move(error)));
  return json::Write(json::Value::MakeObject(std::move(answer)));
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The page's host in lower case; empty when the address has none.
std::string PageHost(std::u16string_view page_url) {
  std::u16string scheme;
  std::u16string host;
  if (GetUrlSchemeAndHost(page_url, &scheme, kUrlSchemeCapacity, &host, kHostNameCapacity) != 0) {
    return {};
  }
  return LowerAscii(ToUtf8(host));
}

// Whether the browser keeps cookie `c` for (and sends it to) `host`: a host-only cookie of that
// very host, or a domain cookie of the host or of a domain above it.
bool BelongsTo(const platform::HttpCookie& c, const std::string& host) {
  const std::string domain = LowerAscii(c.domain);
  return !host.empty() && !domain.empty() &&
         (domain == host ||
          (!c.host_only && host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.'));
}

// The cookies of `list` that the browser would send to the page's host.
std::vector<platform::HttpCookie> PageCookies(const json::Value& list,
                                              std::u16string_view page_url) {
  std::vector<platform::HttpCookie> out;
  const std::string host = PageHost(page_url);
  if (list.kind() != Kind::kArray || host.empty()) return out;
  for (const json::Value& item : list.as_array()) {
    if (item.kind() != Kind::kObject) continue;
    auto text = [&](std::u16string_view key) {
      const json::Value* v = item.Find(key);
      return v && v->kind() == Kind::kString ? ToUtf8(v->as_string()) : std::string();
    };
    auto flag = [&](std::u16string_view key) {
      const json::Value* v = item.Find(key);
      return v && v->kind() == Kind::kBool && v->as_bool();
    };
    platform::HttpCookie c;
    c.name = text(u"name");
    c.value = text(u"value");
    c.domain = LowerAscii(text(u"domain"));
    if (!c.domain.empty() && c.domain.front() == '.') c.domain.erase(0, 1);
    c.path = text(u"path");
    if (c.path.empty()) c.path.push_back('/');
    c.host_only = flag(u"hostOnly");
    c.secure = flag(u"secure");
    c.http_only = flag(u"httpOnly");
    if (!flag(u"session")) {
      const json::Value* e = item.Find(u"expirationDate");
      auto seconds = e ? e->AsInteger(1, INT64_MAX) : std::nullopt;
      if (!seconds && e && e->kind() == Kind::kNumber) {
        // Fractional seconds: the whole seconds are enough.
        const std::string digits = json::Write(*e);
        seconds = std::strtoll(digits.c_str(), nullptr, 10);
      }
      if (!seconds || *seconds <= 0) continue;  // an expiry we cannot read: not sent
      c.expires = *seconds;
    }
    if (!c.name.empty() && BelongsTo(c, host)) out.push_back(std::move(c));
  }
  return out;
}

// `answer` with the cookie changes that belong to the page's host, for the browser to store
// ({"name","value","domain","hostOnly","path","secure","httpOnly","expirationDate"} as its
// cookie API takes them, or {"name","domain","path","hostOnly","removed":true}); changes for
// other hosts are dropped.
std::string WithCookieChanges(std::string answer,
                              const std::vector<platform::HttpCookieChange>& changes,
                              std::u16string_view page_url) {
  const std::string host = PageHost(page_url);
  json::Array list;
  for (const auto& [c, removed] : changes) {
    if (!BelongsTo(c, host)) continue;
    json::Object item;
    item.emplace_back(u"name", json::Value::String(FromUtf8(c.name)));
    item.emplace_back(u"domain", json::Value::String(FromUtf8(c.domain)));
    item.emplace_back(u"path", json::Value::String(FromUtf8(c.path)));
    item.emplace_back(u"hostOnly", json::Value::Bool(c.host_only));
    if (removed) {
      item.emplace_back(u"removed", json::Value::Bool(true));
    } else {
      item.emplace_back(u"value", json::Value::String(FromUtf8(c.value)));
      item.emplace_back(u"secure", json::Value::Bool(c.secure));
      item.emplace_back(u"httpOnly", json::Value::Bool(c.http_only));
      if (c.expires > 0) item.emplace_back(u"expirationDate", json::Value::Integer(c.expires));
    }
    list.push_back(json::Value::MakeObject(std::move(item)));
  }
  if (list.empty()) return answer;
  auto parsed = json::Parse(answer);
  if (!std::holds_alternative<json::Value>(parsed) ||
      std::get<json::Value>(parsed).kind() != Kind::kObject) {
    return answer;
  }
  json::Object members = std::get<json::Value>(parsed).as_object();
  members.emplace_back(u"cookies", json::Value::MakeArray(std::move(list)));
  return json::Write(json::Value::MakeObject(std::move(members)));
}

std::string OkAnswer(const json::Value* id) {
  json::Object answer;
  answer.emplace_back(u"id", id ? *id : json::Value());
  answer.emplace_back(u"result", json::Value());
  return json::Write(json::Value::MakeObject(std::move(answer)));
}

}  // namespace

std::variant<BrowserRequest, OpFailure> TranslateBrowserMessage(const json::Value& message) {
  if (message.kind() != Kind::kObject) return BadRequest(u"a request must be a JSON object");
  const json::Value* sender = message.Find(u"sender");
  if (!sender || sender->kind() != Kind::kObject) {
    return BadRequest(u"the request has no \"sender\"");
  }
  const json::Value* url = sender->Find(u"url");
  if (!url || url->kind() != Kind::kString) return BadRequest(u"the sender has no \"url\"");

  // The document's own space of names, from the browser's identifiers of the sending frame.
  json::Array parts;
  for (std::u16string_view key : {u"tab", u"frame", u"document", u"port"}) {
    const json::Value* v = sender->Find(key);
    if (!IsIdPart(v))
      return BadRequest(u"the sender's \"" + std::u16string(key) + u"\" is not an identifier");
    parts.push_back(v ? *v : json::Value());
  }
  BrowserRequest out;
  out.owner = FromUtf8(json::Write(json::Value::MakeArray(std::move(parts)))) + u"/";

  const json::Value* op = message.Find(u"op");
  if (!op || op->kind() != Kind::kString) return BadRequest(u"the request has no \"op\"");
  if (op->as_string() == u"release") {
    out.release = true;
    return out;
  }
  bool page_op = false;
  for (auto name : kPageOps) page_op = page_op || op->as_string() == name;
  if (!page_op) return BadRequest(u"unknown op \"" + op->as_string() + u"\"");

  const json::Value* control = message.Find(u"control");
  if (!control || control->kind() != Kind::kString || control->as_string().empty()) {
    return BadRequest(u"\"control\" must be a non-empty string");
  }
  json::Object request;
  for (const auto& [key, value] : message.as_object()) {
    for (auto passed : kPassedMembers) {
      if (key == passed) request.emplace_back(key, value);
    }
  }
  out.control = out.owner + control->as_string();
  out.page_url = url->as_string();
  request.emplace_back(u"control", json::Value::String(out.control));
  if (const json::Value* cookies = message.Find(u"cookies");
      cookies && op->as_string() == u"call") {
    out.cookies = PageCookies(*cookies, url->as_string());
  }
  if (op->as_string() == u"create") {
    request.emplace_back(u"page", *url);
    request.emplace_back(u"zone", json::Value::Integer(ZoneOfPage(url->as_string())));
    request.emplace_back(u"safe", json::Value::Bool(true));
  }
  out.request = json::Value::MakeObject(std::move(request));
  return out;
}

std::string AnswerBrowserMessage(HostSession& session, std::string_view message) {
  auto parsed = json::Parse(message, session.options().limits);
  const json::Value* id = nullptr;
  std::string answer;
  if (auto* error = std::get_if<json::ParseError>(&parsed)) {
    answer = ErrorAnswer(nullptr, BadRequest(u"malformed request: " + FromUtf8(error->ToString())));
  } else {
    const json::Value& value = std::get<json::Value>(parsed);
    id = value.kind() == Kind::kObject ? value.Find(u"id") : nullptr;
    auto translated = TranslateBrowserMessage(value);
    if (auto* failure = std::get_if<OpFailure>(&translated)) {
      answer = ErrorAnswer(id, *failure);
    } else {
      auto& request = std::get<BrowserRequest>(translated);
      if (request.release) {
        session.DestroyControlsWithPrefix(request.owner);
        answer = OkAnswer(id);
      } else {
        // Cookies that the control's requests received go back with the answers to its
        // calls; a control's last ones with the answer to its destruction.
        std::vector<platform::HttpCookieChange> changes;
        CQSFileTransferCtrl* control = session.FindControl(request.control);
        if (control) changes = control->TakeCookieChanges();
        session.request_cookies()->now = std::move(request.cookies);
        answer = session.Answer(json::Write(request.request));
        session.request_cookies()->now.clear();
        if ((control = session.FindControl(request.control)) != nullptr) {
          auto later = control->TakeCookieChanges();
          changes.insert(changes.end(), later.begin(), later.end());
        }
        answer = WithCookieChanges(std::move(answer), changes, request.page_url);
      }
    }
  }
  if (answer.size() > kMaxReplyBytes) {
    answer =
        ErrorAnswer(id, OpFailure{0x8007000E, u"the answer is longer than the browser accepts"});
  }
  return answer;
}

int RunNativeMessagingHost(std::istream& in, std::ostream& out, std::ostream& diag,
                           const HostOptions& options) {
  HostSession session(options, diag);
  std::string message;
  for (;;) {
    const FrameStatus status = ReadFrame(in, options.limits.max_bytes, message);
    if (status == FrameStatus::kEnd) break;
    std::string answer;
    if (status == FrameStatus::kTooLong) {
      answer = ErrorAnswer(
          nullptr, BadRequest(u"request longer than " +
                              FromAscii(std::to_string(options.limits.max_bytes)) + u" bytes"));
    } else {
      answer = AnswerBrowserMessage(session, message);
    }
    const std::string frame = EncodeFrame(answer);
    out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
    out.flush();
    if (!out) {
      diag << "qsft host: cannot write the answer; ending the session\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace qs::app
