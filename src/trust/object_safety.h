// XObjSafe: the control's answer to a browser asking whether it is safe to script.
//
// The browser asks which options the control supports (always both: safe for untrusted callers
// and for untrusted data) and asks to switch them on. The control agrees only when its hosting
// page passes the site lock, checked afresh at each negotiation. The options form one set for
// every interface.
#pragma once

#include <cstdint>
#include <optional>

#include "base/guid.h"
#include "trust/site_lock.h"

namespace qs {

inline constexpr Guid kIidObjectSafety = MakeGuid(u"{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");
inline constexpr Guid kIidObjectSafetySiteLock =
    MakeGuid(u"{7FEB54AE-E3F9-40FC-AB5A-28A545C0F193}");

inline constexpr uint32_t kSafeForUntrustedCaller = 0x1;
inline constexpr uint32_t kSafeForUntrustedData = 0x2;
inline constexpr uint32_t kSupportedSafetyOptions = kSafeForUntrustedCaller | kSafeForUntrustedData;

inline constexpr uint32_t kPointerResult = 0x80004003;  // a missing output

// What the negotiation needs of the control it belongs to.
class SafetyOwner {
 public:
  virtual ~SafetyOwner() = default;
  // 0 when the control offers the interface, else the failure (E_NOINTERFACE).
  virtual uint32_t QueryInterface(const Guid& iid) const = 0;
  // The hosting page, asked afresh; nothing when it cannot be obtained.
  virtual std::optional<HostingPage> PageForSiteLock() const = 0;
  // The options in force, kept by the control.
  virtual uint32_t& SafetyOptions() = 0;
};

class XObjSafe {
 public:
  explicit XObjSafe(SafetyOwner& owner) : owner_(owner) {}

  // Missing outputs: E_POINTER, nothing written. An interface the control does not offer: both
  // outputs 0 and that failure. Otherwise S_OK with 3 supported and, when the page passes the
  // site lock, the options in force enabled (0 when it does not). Changes nothing.
  uint32_t GetInterfaceSafetyOptions(const Guid& iid, uint32_t* supported, uint32_t* enabled);

  // Switches the options of `mask` to those in `options`. A mask of 4 or more: E_FAIL. Options
  // that are already in force (a mask of 0 among them): S_OK without a check. Any change needs
  // the page to pass the site lock, else E_FAIL and nothing changes.
  uint32_t SetInterfaceSafetyOptions(const Guid& iid, uint32_t mask, uint32_t options);

 private:
  bool PagePasses() const { return CheckSiteLock(owner_.PageForSiteLock()); }

  SafetyOwner& owner_;
};

}  // namespace qs
