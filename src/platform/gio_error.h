// Failures reported by GLib and GIO, in the platform numbering. For the platform's own
// GLib-based sources only: it names GLib's error type without including GLib.
#pragma once

#include <cstdint>
#include <memory>

typedef struct _GError GError;  // NOLINT: GLib's own declaration

namespace qs::platform {

// The platform code of a GIO, spawn or file error; 1117 (I/O device error) for anything the
// numbering has no closer code for.
uint32_t CodeFromGError(const GError* error);

// Owns a GError and frees it.
struct GErrorFree {
  void operator()(GError* error) const;
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

}  // namespace qs::platform
