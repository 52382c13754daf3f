// Owners of the Windows layer's own resources: one ScopedGeneric each, inheritable copies and a process
// attribute list. Private to the Windows layer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/scoped_generic.h"

namespace platform::win32 {

// A kernel handle: snapshots and files say "none" with INVALID_HANDLE_VALUE, processes and threads
// with nullptr; either is empty.
struct HandleTraits {
  static HANDLE InvalidValue() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE handle) noexcept { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static bool Free(HANDLE handle) noexcept { return ::CloseHandle(handle) != FALSE; }
};
using ScopedHandle = ScopedGeneric<HANDLE, HandleTraits>;

// A search from FindFirstFileExW.
struct FindTraits {
  static HANDLE InvalidValue() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Free(HANDLE find) noexcept { return ::FindClose(find) != FALSE; }
};
using ScopedFind = ScopedGeneric<HANDLE, FindTraits>;

// A module from LoadLibraryExW.
struct ModuleTraits {
  static HMODULE InvalidValue() noexcept { return nullptr; }
  static bool Free(HMODULE module) noexcept { return ::FreeLibrary(module) != FALSE; }
};
using ScopedModule = ScopedGeneric<HMODULE, ModuleTraits>;

// Memory the security functions hand out with LocalAlloc (descriptors, SIDs).
struct LocalMemoryTraits {
  static void* InvalidValue() noexcept { return nullptr; }
  static bool Free(void* memory) noexcept { return ::LocalFree(memory) == nullptr; }
};
using LocalMemory = ScopedGeneric<void*, LocalMemoryTraits>;

// The platform headers keep handles as integers so that they carry no Windows types.
template <typename H = HANDLE>
H ToHandle(std::uintptr_t value) {
  return reinterpret_cast<H>(value);  // NOLINT(performance-no-int-to-ptr)
}

// An inheritable duplicate of `handle` (one of our standard handles), owned by `copy`; nullptr when there is
// none or the system won't duplicate it.
inline HANDLE InheritableCopy(HANDLE handle, ScopedHandle& copy) {
  HANDLE duplicate = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &duplicate, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  copy = ScopedHandle(duplicate);
  return duplicate;
}

// Owner of a process attribute list; Get() is nullptr when it couldn't be made.
class AttributeList {
 public:
  explicit AttributeList(DWORD count) {
    SIZE_T size = 0;
    (void)::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    if (size == 0) return;
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (::InitializeProcThreadAttributeList(list, count, 0, &size)) list_ = list;
  }
  ~AttributeList() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
  }
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  AttributeList(AttributeList&&) = delete;
  AttributeList& operator=(AttributeList&&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST Get() const noexcept { return list_; }

 private:
  std::vector<std::uint8_t> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace platform::win32
