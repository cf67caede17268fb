// The URL operations on libcurl's URL parser, the same one that the HTTP session uses to connect.
//
// Every URL is parsed with one set of flags, so that a URL means the same thing to the host
// checks and to the connection: schemes curl does not support are still taken apart. Path, query
// and fragment are escaped as browsers escape them before curl sees them (a space is %20
// everywhere, non-ASCII characters are their UTF-8 bytes escaped). Host names are never
// converted by curl (its conversion depends on the process locale); HostNameToAscii does that.
#include "platform/url_parts.h"

#include <curl/curl.h>

#include <charconv>
#include <memory>
#include <optional>

#include "base/text.h"
#include "platform/host_names.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

constexpr unsigned int kParseFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_URLENCODE;

struct CurluDelete {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using CurluPtr = std::unique_ptr<CURLU, CurluDelete>;

struct CurlFree {
  void operator()(char* p) const { curl_free(p); }
};

ErrorCode CodeFor(CURLUcode rc) {
  switch (rc) {
    case CURLUE_OUT_OF_MEMORY: return ErrorCode::kNotEnoughMemory;
    case CURLUE_BAD_SCHEME:
    case CURLUE_UNSUPPORTED_SCHEME:
    case CURLUE_NO_SCHEME: return ErrorCode::kInternetUnrecognizedScheme;
    default: return ErrorCode::kInternetInvalidUrl;
  }
}

ErrorOr<CurluPtr> NewHandle() {
  CurluPtr u(curl_url());
  if (!u) return Fail(ErrorCode::kNotEnoughMemory);
  return u;
}

bool IsSpecialScheme(std::u16string_view scheme) {
  for (std::u16string_view special : {u"http", u"https", u"ftp", u"file", u"ws", u"wss"}) {
    if (EqualsIgnoreCase(scheme, special)) return true;
  }
  return false;
}

// The scheme a reference starts with ("" for a relative reference).
std::u16string_view SchemeOf(std::u16string_view reference) {
  auto is_alpha = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (reference.empty() || !is_alpha(reference[0])) return {};
  for (size_t i = 1; i < reference.size(); ++i) {
    const char16_t c = reference[i];
    if (c == u':') return reference.substr(0, i);
    if (!is_alpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') break;
  }
  return {};
}

// Where the path of a URL or reference begins: after "scheme://authority" or "//authority",
// else at the start (or after "scheme:").
size_t PathStart(std::string_view url) {
  size_t at = 0;
  const size_t colon = url.find(':');
  if (colon != std::string_view::npos && url.find_first_of("/?#") > colon) at = colon + 1;
  if (url.substr(at, 2) != "//") return at;
  const size_t end = url.find_first_of("/?#", at + 2);
  return end == std::string_view::npos ? url.size() : end;
}

// Escapes path, query and fragment of a UTF-8 URL as browsers send them: a space as %20 (curl
// would write "+" in the query, which servers read as a plus sign outside form data), bytes of
// non-ASCII characters, and the few characters browsers escape in each part (" < > everywhere,
// ` { } in the path, ' in the query of a web scheme). The authority is left alone: its host is
// checked and converted on its own. Existing escapes stay as they are.
std::string EscapeLikeABrowser(std::string_view url, bool web_scheme) {
  enum class Part { kPath, kQuery, kFragment };
  std::string out(url.substr(0, PathStart(url)));
  Part part = Part::kPath;
  for (const char c : url.substr(out.size())) {
    if (c == '?' && part == Part::kPath) part = Part::kQuery;
    if (c == '#' && part != Part::kFragment) part = Part::kFragment;
    const auto byte = static_cast<unsigned char>(c);
    bool escape = byte == ' ' || byte >= 0x7F || c == '"' || c == '<' || c == '>';
    if (part == Part::kPath) escape = escape || c == '`' || c == '{' || c == '}';
    if (part == Part::kQuery) escape = escape || (c == '\'' && web_scheme);
    if (part == Part::kFragment) escape = escape || c == '`';
    if (!escape) {
      out.push_back(c);
      continue;
    }
    constexpr char kHex[] = "0123456789ABCDEF";
    out += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
  }
  return out;
}

// Hands `text` to the parser. The parser reads C strings: text with an embedded NUL would be cut
// short there and judged by its first half, so it is refused instead. `base_scheme` is the scheme
// a relative reference will take.
ErrorOr<void> SetUrl(CURLU* u, std::u16string_view text, std::u16string_view base_scheme = {}) {
  if (text.find(u'\0') != std::u16string_view::npos) return Fail(ErrorCode::kInternetInvalidUrl);
  const std::u16string_view own = SchemeOf(text);
  const std::string utf8 =
      EscapeLikeABrowser(ToUtf8(text), IsSpecialScheme(own.empty() ? base_scheme : own));
  const CURLUcode rc = curl_url_set(u, CURLUPART_URL, utf8.c_str(), kParseFlags);
  if (rc != CURLUE_OK) return Fail(CodeFor(rc));
  return {};
}

// One part of the parsed URL; nothing when the URL does not have it.
ErrorOr<std::optional<std::string>> GetPart(CURLU* u, CURLUPart part, unsigned int flags) {
  char* raw = nullptr;
  const CURLUcode rc = curl_url_get(u, part, &raw, flags);
  const std::unique_ptr<char, CurlFree> owned(raw);
  switch (rc) {
    case CURLUE_OK: return std::optional<std::string>(owned.get() != nullptr ? owned.get() : "");
    case CURLUE_NO_SCHEME:
    case CURLUE_NO_USER:
    case CURLUE_NO_PASSWORD:
    case CURLUE_NO_HOST:
    case CURLUE_NO_PORT:
    case CURLUE_NO_QUERY:
    case CURLUE_NO_FRAGMENT: return std::optional<std::string>();
    default: return Fail(CodeFor(rc));
  }
}

ErrorOr<std::u16string> GetText(CURLU* u, CURLUPart part, unsigned int flags = 0) {
  std::optional<std::string> value = QS_TRY(GetPart(u, part, flags));
  return value ? FromUtf8(*value) : std::u16string();
}

uint16_t ParsePort(const std::string& text) {
  unsigned int port = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port > 0xFFFF) return 0;
  return static_cast<uint16_t>(port);
}

// Browsers drop leading and trailing C0 controls and spaces of a link and every tab and line
// break inside it before resolving it.
std::u16string CleanReference(std::u16string_view reference) {
  size_t begin = 0;
  size_t end = reference.size();
  while (begin < end && reference[begin] <= u' ' && reference[begin] != u'\0') ++begin;
  while (end > begin && reference[end - 1] <= u' ' && reference[end - 1] != u'\0') --end;
  std::u16string cleaned;
  cleaned.reserve(end - begin);
  for (size_t i = begin; i < end; ++i) {
    const char16_t c = reference[i];
    if (c != u'\t' && c != u'\n' && c != u'\r') cleaned.push_back(c);
  }
  return cleaned;
}

// In URLs of the web's own schemes browsers read "\" before the query as "/": "\\other\x"
// names the host "other". curl would keep it as a path or user-name character, so a link would
// mean one host to the page's author and another to the connection. Translated here, both agree.
void BrowserSlashes(std::u16string& reference, std::u16string_view base_scheme) {
  const std::u16string_view own = SchemeOf(reference);
  if (!IsSpecialScheme(own.empty() ? base_scheme : own)) return;
  for (char16_t& c : reference) {
    if (c == u'?' || c == u'#') break;
    if (c == u'\\') c = u'/';
  }
}

ErrorOr<void> ClearFragment(CURLU* u) {
  const CURLUcode rc = curl_url_set(u, CURLUPART_FRAGMENT, nullptr, 0);
  if (rc != CURLUE_OK) return Fail(CodeFor(rc));
  return {};
}

ErrorOr<void> SetFragment(CURLU* u, std::u16string_view fragment) {
  if (fragment.find(u'\0') != std::u16string_view::npos) {
    return Fail(ErrorCode::kInternetInvalidUrl);
  }
  const std::string utf8 = ToUtf8(fragment);
  const CURLUcode rc = curl_url_set(u, CURLUPART_FRAGMENT, utf8.c_str(), 0);
  if (rc != CURLUE_OK) return Fail(CodeFor(rc));
  return {};
}

}  // namespace

std::u16string UrlParts::PathAndQuery() const {
  if (query.empty()) return path;
  return path + u"?" + query;
}

bool IsUrl(std::u16string_view text) {
  const uint32_t saved = LastError();
  auto handle = NewHandle();
  const bool is_url = handle.ok() && SetUrl(handle->get(), text).ok();
  SetLastError(saved);  // a question, not a failure
  return is_url;
}

ErrorOr<UrlParts> SplitUrl(std::u16string_view url) {
  CurluPtr u = QS_TRY(NewHandle());
  QS_TRY_VOID(SetUrl(u.get(), url));

  UrlParts parts;
  parts.scheme = QS_TRY(GetText(u.get(), CURLUPART_SCHEME));
  parts.host = QS_TRY(GetText(u.get(), CURLUPART_HOST));
  const std::optional<std::string> written_port = QS_TRY(GetPart(u.get(), CURLUPART_PORT, 0));
  parts.has_explicit_port = written_port.has_value();
  const std::optional<std::string> port =
      QS_TRY(GetPart(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT));
  if (port) parts.port = ParsePort(*port);
  parts.user = QS_TRY(GetText(u.get(), CURLUPART_USER, CURLU_URLDECODE));
  parts.password = QS_TRY(GetText(u.get(), CURLUPART_PASSWORD, CURLU_URLDECODE));
  parts.path = QS_TRY(GetText(u.get(), CURLUPART_PATH));
  parts.query = QS_TRY(GetText(u.get(), CURLUPART_QUERY));
  return parts;
}

ErrorOr<std::u16string> CombineUrl(std::u16string_view base, std::u16string_view reference,
                                   size_t max_length) {
  CurluPtr u = QS_TRY(NewHandle());
  QS_TRY_VOID(SetUrl(u.get(), base));
  std::u16string cleaned = CleanReference(reference);
  if (cleaned.empty()) {
    // An empty link is the document itself; curl would resolve it to the base's directory.
    QS_TRY_VOID(ClearFragment(u.get()));
  } else if (cleaned.front() == u'#') {
    // A fragment alone keeps the whole document; curl would resolve it to the base's directory.
    QS_TRY_VOID(SetFragment(u.get(), std::u16string_view(cleaned).substr(1)));
  } else {
    // With a base in the handle, the parser resolves the reference against it.
    const std::u16string base_scheme = QS_TRY(GetText(u.get(), CURLUPART_SCHEME));
    BrowserSlashes(cleaned, base_scheme);
    QS_TRY_VOID(SetUrl(u.get(), cleaned, base_scheme));
  }
  std::u16string combined = QS_TRY(GetText(u.get(), CURLUPART_URL));
  if (combined.size() > max_length) return Fail(ErrorCode::kInsufficientBuffer);
  return combined;
}

ErrorOr<std::u16string> UrlForRequest(std::u16string_view url) {
  CurluPtr u = QS_TRY(NewHandle());
  QS_TRY_VOID(SetUrl(u.get(), url));
  QS_TRY_VOID(ClearFragment(u.get()));
  const std::u16string host = QS_TRY(GetText(u.get(), CURLUPART_HOST));
  if (!IsAsciiHost(host)) {
    const std::string ascii = ToUtf8(QS_TRY(HostNameToAscii(host)));
    const CURLUcode rc = curl_url_set(u.get(), CURLUPART_HOST, ascii.c_str(), 0);
    if (rc != CURLUE_OK) return Fail(CodeFor(rc));
  }
  return GetText(u.get(), CURLUPART_URL);
}

}  // namespace qs::platform
