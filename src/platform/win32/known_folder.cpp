// The shell is loaded from System32 when first asked, and the folder ID is defined here: MinGW's uuid
// library is not linked.
#include <windows.h>
#include <shlobj.h>

#include "platform/known_folder.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

// FOLDERID_ProgramData.
constexpr GUID kProgramDataFolderId = {0x62ab5d82, 0xfdc1, 0x4dc3, {0xa9, 0xdd, 0x07, 0x0d, 0x1d, 0x49, 0x5d, 0x97}};

}  // namespace

std::wstring ProgramDataFolder() {
  using GetKnownFolderPathFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
  using TaskMemFreeFn = void(WINAPI*)(LPVOID);
  // Loaded once, kept until the process ends, like the shell's other users here.
  static const win32::ScopedModule shell32 = win32::LoadFromSystem32(L"shell32.dll");
  static const win32::ScopedModule ole32 = win32::LoadFromSystem32(L"ole32.dll");
  const auto getPath = win32::FunctionOf<GetKnownFolderPathFn>(shell32, "SHGetKnownFolderPath");
  const auto freeTaskMemory = win32::FunctionOf<TaskMemFreeFn>(ole32, "CoTaskMemFree");
  if (getPath == nullptr || freeTaskMemory == nullptr) return {};
  // Not verified: whether the folder is there is for whoever opens it to find out, with its own code.
  PWSTR path = nullptr;
  const HRESULT result = getPath(kProgramDataFolderId, KF_FLAG_DONT_VERIFY, nullptr, &path);
  std::wstring folder = SUCCEEDED(result) && path != nullptr ? std::wstring(path) : std::wstring();
  freeTaskMemory(path);  // also on failure, when it may still have been allocated
  return folder;
}

}  // namespace platform
