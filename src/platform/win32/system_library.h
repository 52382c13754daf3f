// DLLs that Windows doesn't always map from System32 are not imported: they are loaded on first use,
// from System32 alone, so that a DLL of the same name in the patch folder or the working directory
// never runs inside this (often elevated) process. Each is loaded once and kept until the process ends.
// Private to the Windows layer.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

// The System32 folder, without trailing backslash; empty when the system won't say. For this 32-bit
// program on 64-bit Windows the system maps it to SysWOW64.
std::wstring SystemFolder();

// `name` (a bare file name such as L"version.dll") from System32 and nowhere else; empty when it
// can't be loaded from there.
ScopedModule LoadFromSystem32(const wchar_t* name);

// The export `name` of `module` as a pointer of type F; nullptr when the module is missing or lacks it.
template <typename F>
F FunctionOf(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  // Through void(*)(): the one function pointer type every other converts to without a warning.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

template <typename F>
F FunctionOf(const ScopedModule& module, const char* name) {
  return FunctionOf<F>(module.Get(), name);
}

}  // namespace platform::win32
