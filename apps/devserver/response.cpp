#include "devserver/response.h"

#include "devserver/http_request.h"

namespace qs::devserver {

Response Response::Text(int status, std::string text) {
  Response r;
  r.status = status;
  r.body = std::move(text);
  r.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
  return r;
}

void Response::SetHeader(std::string name, std::string value) {
  RemoveHeader(name);
  headers.emplace_back(std::move(name), std::move(value));
}

void Response::RemoveHeader(std::string_view name) {
  std::erase_if(headers, [&](const auto& h) { return EqualsIgnoreCase(h.first, name); });
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string BuildHead(const Response& response, const HeadChanges& changes, bool keep_alive) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
  head += ReasonPhrase(response.status);
  head += "\r\n";
  for (const auto& [name, value] : response.headers) {
    if (EqualsIgnoreCase(name, "QS-Content-Length")) {
      if (changes.omit_qs_content_length) continue;
      if (changes.qs_content_length_delta) {
        auto n = ParseDecimal(value).value_or(0);
        head += name + ": " +
                std::to_string(static_cast<int64_t>(n) + *changes.qs_content_length_delta) + "\r\n";
        continue;
      }
    }
    if (EqualsIgnoreCase(name, "Resumed-from")) {
      if (changes.omit_resumed_from) continue;
      if (changes.resumed_from_delta) {
        auto n = ParseDecimal(value).value_or(0);
        head += name + ": " +
                std::to_string(static_cast<int64_t>(n) + *changes.resumed_from_delta) + "\r\n";
        continue;
      }
    }
    head += name + ": " + value + "\r\n";
  }
  bool bodiless = (response.status >= 100 && response.status < 200) || response.status == 204 ||
                  response.status == 304;
  if (!bodiless) head += "Content-Length: " + std::to_string(response.body_length()) + "\r\n";
  head += keep_alive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  for (const std::string& cookie : changes.set_cookies) head += "Set-Cookie: " + cookie + "\r\n";
  if (changes.malformed_header) head += "X-Broken-Header-Line-Without-Colon\r\n";
  if (changes.long_header_bytes > 0) {
    head += "X-Long: ";
    head.append(changes.long_header_bytes, 'a');
    head += "\r\n";
  }
  head += "\r\n";
  return head;
}

}  // namespace qs::devserver
