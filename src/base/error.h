// Errors as values: a platform code in the Windows numbering that pages see (5, 87, 206, 12153,
// ...). Every wrapper of a system or library call returns ErrorOr<T> carrying the code of the
// failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "base/error_codes.h"

namespace qs {

struct Error {
  uint32_t code = ToUint(ErrorCode::kSuccess);
  // The call that failed, for diagnostics ("open request", "write", ...); never shown to pages.
  // A string literal, or null when not known.
  const char* operation = nullptr;

  static Error From(ErrorCode c) { return Error{ToUint(c)}; }
  bool Is(ErrorCode c) const { return code == ToUint(c); }
  // The same failure, named after the call that met it.
  Error At(const char* op) const { return Error{code, op}; }
};

template <typename T>
class [[nodiscard]] ErrorOr {
 public:
  ErrorOr(T value) : v_(std::move(value)) {}          // NOLINT: implicit on purpose
  ErrorOr(Error error) : v_(error) {}                 // NOLINT
  ErrorOr(ErrorCode code) : v_(Error::From(code)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const Error& error() const { return std::get<1>(v_); }
  uint32_t code() const { return ok() ? 0 : error().code; }

 private:
  std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] ErrorOr<void> {
 public:
  ErrorOr() = default;
  ErrorOr(Error error) : error_(error) {}                 // NOLINT
  ErrorOr(ErrorCode code) : error_(Error::From(code)) {}  // NOLINT

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return *error_; }
  uint32_t code() const { return ok() ? 0 : error_->code; }

 private:
  std::optional<Error> error_;
};

// Evaluates an ErrorOr expression; on failure returns its error from the enclosing function,
// otherwise yields the value. GNU statement expression, as supported by GCC and Clang;
// __extension__ keeps -Wpedantic quiet about it.
#define QS_TRY(expr)                                         \
  __extension__({                                            \
    auto qs_try_result_ = (expr);                            \
    if (!qs_try_result_.ok()) return qs_try_result_.error(); \
    std::move(qs_try_result_).value();                       \
  })

#define QS_TRY_VOID(expr)                                    \
  do {                                                       \
    auto qs_try_result_ = (expr);                            \
    if (!qs_try_result_.ok()) return qs_try_result_.error(); \
  } while (0)

// The message text of a known code, ending in a line break as pages have always received it,
// or nothing for a code outside the table.
std::optional<std::u16string> SystemErrorMessage(uint32_t code);

}  // namespace qs
