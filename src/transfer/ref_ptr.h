// RefPtr<T>: an owning pointer for intrusively counted objects (types with AddRef()/Release()).
//
// Holding a RefPtr is holding one reference: construction from a raw pointer and copying add
// one, destruction and reassignment give one back. The object decides by itself, in Release(),
// when it goes away. MakeRef is the one place where counted objects are created, so that a fresh
// object is held from the moment it exists.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace qs {

template <typename T>
class RefPtr {
 public:
  RefPtr() = default;
  RefPtr(std::nullptr_t) {}  // NOLINT: implicit on purpose, like a raw null
  explicit RefPtr(T* object) : p_(object) {
    if (p_) p_->AddRef();
  }
  RefPtr(const RefPtr& other) : RefPtr(other.p_) {}
  RefPtr(RefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <typename U>
  requires std::is_convertible_v<U*, T*> RefPtr(const RefPtr<U>& other)
      : RefPtr(other.get()) {}  // NOLINT: upcast
  template <typename U>
  requires std::is_convertible_v<U*, T*> RefPtr(RefPtr<U>&& other)
  noexcept : p_(other.Detach()) {}  // NOLINT: upcast
  ~RefPtr() { reset(); }

  RefPtr& operator=(RefPtr other) noexcept {
    // The old object is released only after the new one is held, so replacing a pointer by
    // itself or by something the old object owns is safe.
    std::swap(p_, other.p_);
    return *this;
  }

  // Gives back the reference held, if any.
  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Hands the held reference to the caller, who must Release it.
  [[nodiscard]] T* Detach() { return std::exchange(p_, nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const RefPtr& a, const RefPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const RefPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// Creates a counted object and returns the first reference to it.
template <typename T, typename... Args>
RefPtr<T> MakeRef(Args&&... args) {
  return RefPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace qs
