// Failures raised inside the control's own routines.
//
// The control reports every failure it foresees in a method's result. Only a routine that cannot
// do its work at all (a string, array or variant that cannot be made, an index outside an
// internal list) raises, and in a method without a catch-all guard the failure ends the call:
// the one dispatch entry point turns it into a run-time error carrying the code. Nothing raised
// here ever leaves Invoke.
#pragma once

#include <cstdint>
#include <exception>

#include "base/error_codes.h"

namespace qs {

class ScriptError : public std::exception {
 public:
  explicit ScriptError(uint32_t hresult) : hresult_(hresult) {}
  uint32_t hresult() const { return hresult_; }
  const char* what() const noexcept override { return "script error"; }

 private:
  uint32_t hresult_;
};

// Inside a catch block: the result code of the failure being handled. A ScriptError gives its
// own code, lack of memory the out-of-memory code, anything else the unspecified failure.
uint32_t CurrentFailureCode() noexcept;

// Raises the invalid-argument failure (a negative count, an index outside an internal list).
[[noreturn]] inline void RaiseInvalidArgument() { throw ScriptError(hresult::kInvalidArg); }
// Raises the out-of-memory failure.
[[noreturn]] inline void RaiseOutOfMemory() { throw ScriptError(hresult::kOutOfMemory); }

}  // namespace qs
