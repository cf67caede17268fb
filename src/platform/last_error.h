// The calling thread's last platform error.
//
// Wrappers of system and library calls also leave the code of their failure here, because the
// transfer algorithms report "the last error" the way pages have always seen it.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace qs::platform {

// The platform code of an errno value.
Error ErrorFromErrno(int err);

// The calling thread's last platform error (0 when none was set on this thread).
uint32_t LastError();
void SetLastError(uint32_t code);
inline void SetLastError(ErrorCode code) { SetLastError(ToUint(code)); }
// Records `error` as the last error and returns it, for `return platform::Fail(e);`.
Error Fail(Error error);
inline Error Fail(ErrorCode code) { return Fail(Error::From(code)); }
Error FailFromErrno(int err);

}  // namespace qs::platform
