// What the host that embeds a control gives it: the identity of the page and the desktop's
// dialogs. A browser bridge, `qsft host` and tests each provide their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/http.h"

namespace qs {

namespace platform {
class Dialogs;
}

// The page that hosts the control: its address and its security zone (2 = trusted sites,
// 3 = internet).
struct PageIdentity {
  std::u16string url;
  uint32_t zone = 3;
};

class ClientSite {
 public:
  virtual ~ClientSite() = default;
  // Asked afresh at every use; nothing when the site has no page.
  virtual std::optional<PageIdentity> GetPageIdentity() = 0;
  // The dialogs backend for this control's user interface; null: every dialog is cancelled.
  virtual platform::Dialogs* GetDialogs() { return nullptr; }
  // The cookies the embedding browser holds for the page now, for the requests of the call
  // being made (a host without a browser has none). Asked by the calls that open requests.
  virtual std::vector<platform::HttpCookie> GetCookies() { return {}; }
};

// The surface the control paints on (the host's window).
struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void FillRectWhite(const Rect& rect) = 0;
  virtual void Ellipse(const Rect& bounds) = 0;  // with the current pen
};

}  // namespace qs
