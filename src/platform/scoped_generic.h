// The one owner of a system resource (a handle, a registry key, a search, a module, memory the system
// allocated, a descriptor): move-only, given back when the owner goes. What "none" is and how the
// resource is given back are its traits':
//   static T InvalidValue() noexcept;  the value an empty owner holds
//   static bool Free(T) noexcept;      gives it back; false when the system refused
//   static bool IsValid(T) noexcept;   optional, where more than one value means "none"
// Header-only and free of system types, so the Windows and Linux layers and the fake machine share it.
#pragma once

#include <utility>

namespace platform {

template <typename T, typename Traits>
class ScopedGeneric {
 public:
  ScopedGeneric() noexcept = default;
  explicit ScopedGeneric(T value) noexcept : value_(value) {}
  ~ScopedGeneric() { (void)Close(); }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.Release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) {
      (void)Close();
      value_ = other.Release();
    }
    return *this;
  }

  bool IsValid() const noexcept {
    if constexpr (requires { Traits::IsValid(value_); }) {
      return Traits::IsValid(value_);
    } else {
      return value_ != Traits::InvalidValue();
    }
  }
  T Get() const noexcept { return value_; }
  // Gives the resource up to the caller, who frees it; afterwards IsValid() is false.
  T Release() noexcept { return std::exchange(value_, Traits::InvalidValue()); }
  // Frees it now; false when the system refused (true when nothing was held). Afterwards IsValid() is false.
  bool Close() noexcept {
    if (!IsValid()) return true;
    return Traits::Free(Release());
  }

 private:
  T value_ = Traits::InvalidValue();
};

}  // namespace platform
