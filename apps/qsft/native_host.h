// `qsft host --native-messaging`: the script host for pages shown in a browser.
//
// The browser extension holds one connection to one host process for the whole browser, so the
// controls of every page share the process, as they would inside one browser process. Each
// message is a request of `qsft host` as the page sent it, plus a "sender" object that the
// extension fills in from what the browser reports about the calling frame:
//
//   {"id":7,"op":"create","control":"c1","props":{},"class":"...",
//    "sender":{"url":"https://dms.example/app","tab":3,"frame":0,"document":"A1B2","port":12}}
//
// Nothing a page claims about itself is believed. The page address of a control is the
// sender's "url"; its zone is 2 when that page matches the trusted-sites list and 3 otherwise;
// every create negotiates object safety as a browser does, so a page that the site lock refuses
// gets no control. Control names are a page's own: they live in a space per sending document
// (tab, frame, document, port), so no page can reach another page's control. Only the ops a
// page may use pass (create, call, get, put, destroy) plus "release", which destroys every
// control of the sending document when it goes away. A call may carry "cookies", the
// browser's cookies for the page ({"name","value","domain","hostOnly","path","secure",
// "httpOnly","session","expirationDate"} as the extension API gives them); only those that
// belong to the page's own host are handed to the control, for that call only, and nothing of
// them is written anywhere. The answer to a request on a control carries, as "cookies", what the
// servers' answers to that control's requests set or removed since its last answer, for the
// page's own host only; the extension stores them in the browser. Answers are those of
// `qsft host`; one
// that would exceed the browser's 1 MB limit is replaced by an error answer.
//
// When the input ends (the browser closed the connection) the session ends as `qsft host`
// does: controls destroyed, newest first.
#pragma once

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

#include "qsft/host.h"
#include "qsft/host_session.h"
#include "qsft/json.h"

namespace qs::app {

// Returns the process exit code: 0 at the end of the input, 1 when `out` failed.
int RunNativeMessagingHost(std::istream& in, std::ostream& out, std::ostream& diag,
                           const HostOptions& options);

// The answer to one browser message (a JSON text), never longer than the browser accepts.
std::string AnswerBrowserMessage(HostSession& session, std::string_view message);

// What one browser message asks of the session.
struct BrowserRequest {
  json::Value request;      // a `qsft host` request (unused for a release)
  std::u16string owner;     // the prefix of the sending document's control names
  std::u16string control;   // the control's name in the session (unused for a release)
  std::u16string page_url;  // the sending frame's address
  bool release = false;
  // The browser's cookies for the page's host, for a call that opens requests.
  std::vector<platform::HttpCookie> cookies;
};
std::variant<BrowserRequest, OpFailure> TranslateBrowserMessage(const json::Value& message);

}  // namespace qs::app
