// Owners of the Windows layer's own resources, one ScopedGeneric each. Private to the Windows layer.
#pragma once

#include <windows.h>

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

}  // namespace platform::win32
