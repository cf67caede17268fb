// Owning wrappers for the handles a transfer uses: an HTTP handle, an open file, and a temporary
// file that is deleted unless kept.
//
// Each closes (or deletes) on every way out of its scope; none can be copied. Declare an
// AutoDeleteFile before the CFileHandle of the same file, so that the file is closed before it
// is deleted.
#pragma once

#include <filesystem>
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

// Owns one successfully opened file descriptor (-1 = none) and closes it.
class CFileHandle {
 public:
  CFileHandle() = default;
  explicit CFileHandle(int fd) : fd_(fd) {}
  virtual ~CFileHandle() { Close(); }
  CFileHandle(CFileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  CFileHandle& operator=(CFileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;

  // Closes the file if one is held; the result is ignored.
  void Close();
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Deletes one file when it goes out of scope, unless Release() was called. It keeps its own copy
// of the path. Deleting never fails visibly.
class AutoDeleteFile {
 public:
  explicit AutoDeleteFile(std::filesystem::path path) : path_(std::move(path)), armed_(true) {}
  virtual ~AutoDeleteFile();
  AutoDeleteFile(const AutoDeleteFile&) = delete;
  AutoDeleteFile& operator=(const AutoDeleteFile&) = delete;

  // Keeps the file.
  void Release() { armed_ = false; }
  bool armed() const { return armed_; }

 private:
  std::filesystem::path path_;
  bool armed_;
};

}  // namespace qs
