// The owning wrapper for the HTTP handles a transfer uses: it closes on every way out of its
// scope and cannot be copied. (Files are owned by the platform layer: a download's temporary file
// by platform::StagedFile, an upload's source by platform::ScopedFd.)
#pragma once

#include <memory>
#include <utility>

#include "platform/http.h"

namespace qs {

namespace internet_handle_detail {
// Letting go of a shared handle closes it for every user (the control closing its session makes
// the workers' requests on it fail); letting go of a request simply ends it.
template <typename T>
void CloseHandle(std::shared_ptr<T>& handle) {
  if (handle) {
    handle->Close();
    handle.reset();
  }
}
template <typename T>
void CloseHandle(std::unique_ptr<T>& handle) {
  handle.reset();
}
}  // namespace internet_handle_detail

// Owns one HTTP handle (null = none). Handle is std::shared_ptr<platform::HttpSession> for the
// control's session, std::unique_ptr<...> for a request. A handle moves in only through the
// constructor or Reset. Derived request kinds keep their request in it.
template <typename Handle>
class BasicInternetHandle {
 public:
  BasicInternetHandle() = default;
  explicit BasicInternetHandle(Handle handle) : handle_(std::move(handle)) {}
  virtual ~BasicInternetHandle() { Close(); }
  BasicInternetHandle(const BasicInternetHandle&) = delete;
  BasicInternetHandle& operator=(const BasicInternetHandle&) = delete;

  void Close() { internet_handle_detail::CloseHandle(handle_); }
  void Reset(Handle handle) {
    Close();
    handle_ = std::move(handle);
  }

  const Handle& handle() const { return handle_; }
  auto* get() const { return handle_.get(); }
  auto* operator->() const { return handle_.get(); }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle handle_{};
};

// The control's HTTP session; closing it closes the session for every transfer borrowing it.
using InternetHandle = BasicInternetHandle<std::shared_ptr<platform::HttpSession>>;
// One GET request of a transfer.
using InternetRequestHandle = BasicInternetHandle<std::unique_ptr<platform::HttpRequest>>;

}  // namespace qs
