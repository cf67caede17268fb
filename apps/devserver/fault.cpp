#include "devserver/fault.h"

#include "devserver/http_request.h"

namespace qs::devserver {

Fault Fault::Status(int code, std::string text) {
  Fault f;
  f.status = code;
  f.body = std::move(text);
  return f;
}

Fault Fault::AskAgain(std::string uri) {
  Fault f;
  f.ask_again = true;
  f.body = std::move(uri);
  return f;
}

Fault Fault::BreakAfter(uint64_t bytes) {
  Fault f;
  f.break_after = bytes;
  return f;
}

Fault Fault::StallBeforeHead(std::chrono::milliseconds for_how_long) {
  Fault f;
  f.stall = StallPoint::kBeforeHead;
  f.stall_for = for_how_long;
  return f;
}

Fault Fault::StallAfter(uint64_t body_bytes, std::chrono::milliseconds for_how_long) {
  Fault f;
  f.stall = StallPoint::kAfterBodyBytes;
  f.stall_after = body_bytes;
  f.stall_for = for_how_long;
  return f;
}

Fault Fault::WrongResumedFrom(int64_t delta) {
  Fault f;
  f.resumed_from_delta = delta;
  return f;
}

Fault Fault::OmitResumedFrom() {
  Fault f;
  f.omit_resumed_from = true;
  return f;
}

Fault Fault::OmitQsContentLength() {
  Fault f;
  f.omit_qs_content_length = true;
  return f;
}

Fault Fault::WrongQsContentLength(int64_t delta) {
  Fault f;
  f.qs_content_length_delta = delta;
  return f;
}

Fault Fault::MalformedHeader() {
  Fault f;
  f.malformed_header = true;
  return f;
}

Fault Fault::LongHeader(uint64_t bytes) {
  Fault f;
  f.long_header_bytes = bytes;
  return f;
}

Fault Fault::Rate(uint64_t bytes_per_second) {
  Fault f;
  f.rate = bytes_per_second;
  return f;
}

Fault Fault::Raw(std::string bytes) {
  Fault f;
  f.raw = std::move(bytes);
  return f;
}

Fault Fault::Challenge(AuthScheme scheme, std::string user_name, std::string pass,
                       AuthRealm realm) {
  Fault f;
  f.auth = scheme;
  f.auth_realm = realm;
  f.user = std::move(user_name);
  f.password = std::move(pass);
  return f;
}

bool Fault::Matches(const std::string& req_method, const std::string& path,
                    const std::string& query) const {
  if (!method.empty() && !EqualsIgnoreCase(method, req_method)) return false;
  if (path.compare(0, path_prefix.size(), path_prefix) != 0) return false;
  if (!query_contains.empty() && query.find(query_contains) == std::string::npos) return false;
  return true;
}

namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char c = text[++i];
      out.push_back(c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<int64_t> ParseSigned(const std::string& text) {
  if (!text.empty() && text[0] == '-') {
    auto n = ParseDecimal(std::string_view(text).substr(1));
    if (!n || *n > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return -static_cast<int64_t>(*n);
  }
  auto n = ParseDecimal(text);
  if (!n || *n > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(*n);
}

// Applies one "key=value" item; false when the key or its value is not understood.
bool ApplyItem(Fault& f, const std::string& key, const std::optional<std::string>& value) {
  auto number = [&]() { return value ? ParseDecimal(*value) : std::nullopt; };
  auto need = [&](auto n, auto& field) {
    if (!n) return false;
    field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
    return true;
  };
  if (key == "method" && value) return f.method = *value, true;
  if (key == "path" && value) return f.path_prefix = *value, true;
  if (key == "query" && value) return f.query_contains = *value, true;
  if (key == "without-cookie" && value && value->find('=') != std::string::npos) {
    return f.without_cookie = *value, true;
  }
  if (key == "skip") return need(number(), f.skip);
  if (key == "times") {
    if (value == "always") return f.times = Fault::kUnlimited, true;
    return need(number(), f.times);
  }
  if (key == "status") return need(number(), f.status);
  if (key == "body" && value) return f.body = Unescape(*value), true;
  if (key == "ask-again") return f.ask_again = true, f.body = value.value_or(""), true;
  if (key == "raw" && value) return f.raw = Unescape(*value), true;
  if (key == "auth" && value) {
    if (*value == "basic") return f.auth = AuthScheme::kBasic, true;
    if (*value == "digest") return f.auth = AuthScheme::kDigest, true;
    return false;
  }
  if (key == "user" && value) return f.user = *value, true;
  if (key == "password" && value) return f.password = *value, true;
  if (key == "proxy" && !value) return f.auth_realm = AuthRealm::kProxy, true;
  if (key == "break-after") {
    auto n = number();
    if (!n) return false;
    f.break_after = *n;
    return true;
  }
  if (key == "stall" && value) {
    if (*value == "before-head") return f.stall = StallPoint::kBeforeHead, true;
    f.stall = StallPoint::kAfterBodyBytes;
    return need(number(), f.stall_after);
  }
  if (key == "stall-ms") {
    auto n = number();
    if (!n) return false;
    f.stall_for = std::chrono::milliseconds(*n);
    return true;
  }
  if (key == "resumed-from-delta" && value) {
    auto n = ParseSigned(*value);
    if (!n) return false;
    f.resumed_from_delta = *n;
    return true;
  }
  if (key == "omit-resumed-from" && !value) return f.omit_resumed_from = true, true;
  if (key == "omit-qs-length" && !value) return f.omit_qs_content_length = true, true;
  if (key == "qs-length-delta" && value) {
    auto n = ParseSigned(*value);
    if (!n) return false;
    f.qs_content_length_delta = *n;
    return true;
  }
  if (key == "malformed-header" && !value) return f.malformed_header = true, true;
  if (key == "long-header") return need(number(), f.long_header_bytes);
  if (key == "rate") {
    auto n = number();
    if (!n || *n == 0) return false;
    f.rate = *n;
    return true;
  }
  if (key == "set-cookie" && value && value->find('=') != std::string::npos) {
    return f.set_cookie = *value, true;
  }
  return false;
}

}  // namespace

std::optional<Fault> ParseFaultDescription(const std::string& text, std::string* error) {
  Fault f;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    std::string item =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key = item.substr(0, eq);
    std::optional<std::string> value;
    if (eq != std::string::npos) value = item.substr(eq + 1);
    if (!ApplyItem(f, key, value)) {
      if (error) *error = "bad fault item \"" + item + "\"";
      return std::nullopt;
    }
  }
  return f;
}

}  // namespace qs::devserver
