#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <utility>

#include "platform/shell.h"
#include "platform/win32/long_path.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

// The shell and COM are loaded (from System32 alone) by the first launch: a run that starts no
// installer never maps them. Kept until the process ends; the apartment is left before they go.
class ShellApi {
 public:
  using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
  using CoUninitializeFn = void(WINAPI*)();
  using ShellExecuteExWFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);

  ShellApi() {
    // ShellExecuteExW may hand the launch to COM-based shell extensions; it wants an apartment. Without
    // one (COM missing, or the thread already in another mode) the launch is still tried.
    if (coInitialize_ != nullptr && coUninitialize_ != nullptr) {
      apartment_ = SUCCEEDED(coInitialize_(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
  }
  ~ShellApi() {
    if (apartment_) coUninitialize_();
  }
  ShellApi(const ShellApi&) = delete;
  ShellApi& operator=(const ShellApi&) = delete;
  ShellApi(ShellApi&&) = delete;
  ShellApi& operator=(ShellApi&&) = delete;

  // nullptr when shell32 or its ShellExecuteExW can't be had from System32.
  ShellExecuteExWFn Execute() const { return execute_; }

 private:
  win32::ScopedModule ole32_ = win32::LoadFromSystem32(L"ole32.dll");
  CoInitializeExFn coInitialize_ = win32::FunctionOf<CoInitializeExFn>(ole32_, "CoInitializeEx");
  CoUninitializeFn coUninitialize_ = win32::FunctionOf<CoUninitializeFn>(ole32_, "CoUninitialize");
  bool apartment_ = false;
  win32::ScopedModule shell32_ = win32::LoadFromSystem32(L"shell32.dll");
  ShellExecuteExWFn execute_ = win32::FunctionOf<ShellExecuteExWFn>(shell32_, "ShellExecuteExW");
};

const ShellApi& Shell() {
  static const ShellApi api;
  return api;
}

// ShellExecuteExW sometimes fails without setting the thread's error; its old-style result code
// (hInstApp, 32 or less) still says why. Never report a failed launch as code 0.
DWORD ErrorFromInstApp(HINSTANCE instApp) {
  constexpr std::pair<std::uintptr_t, DWORD> kErrors[] = {
      {SE_ERR_FNF, ERROR_FILE_NOT_FOUND},         {SE_ERR_PNF, ERROR_PATH_NOT_FOUND},
      {SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED}, {SE_ERR_OOM, ERROR_NOT_ENOUGH_MEMORY},
      {SE_ERR_SHARE, ERROR_SHARING_VIOLATION},    {SE_ERR_ASSOCINCOMPLETE, ERROR_NO_ASSOCIATION},
      {SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},     {SE_ERR_DDETIMEOUT, ERROR_DDE_FAIL},
      {SE_ERR_DDEFAIL, ERROR_DDE_FAIL},           {SE_ERR_DDEBUSY, ERROR_DDE_FAIL},
      {SE_ERR_DLLNOTFOUND, ERROR_DLL_NOT_FOUND}};
  for (const auto& [result, error] : kErrors) {
    if (result == reinterpret_cast<std::uintptr_t>(instApp)) return error;
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace

bool ProcessHandleTraits::Free(std::uintptr_t process) noexcept {
  return ::CloseHandle(win32::ToHandle(process)) != FALSE;
}

LaunchResult LaunchHidden(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory) {
  LaunchResult result;
  const auto execute = Shell().Execute();
  if (execute == nullptr) {
    result.error = ERROR_DLL_NOT_FOUND;
    return result;
  }
  // Process creation can't start from a folder of MAX_PATH characters or more.
  const std::wstring launchFile = win32::ShortEnough(file);
  const std::wstring launchDirectory = win32::ShortEnough(directory);

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // No dialog of any kind: a failed launch would raise a modal error box and an installer from
  // another zone a security warning, either of which hangs an unattended deployment.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS | SEE_MASK_NOASYNC;
  info.hwnd = nullptr;
  info.lpVerb = L"open";
  info.lpFile = launchFile.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = launchDirectory.c_str();
  info.nShow = SW_HIDE;

  if (!execute(&info)) {
    const DWORD error = ::GetLastError();  // first, before any other call can overwrite it
    result.error = error != ERROR_SUCCESS ? error : ErrorFromInstApp(info.hInstApp);
    return result;
  }
  if (info.hProcess != nullptr) result.process = ProcessHandle(reinterpret_cast<std::uintptr_t>(info.hProcess));
  return result;
}

void WaitForProcessEnd(const ProcessHandle& process) {
  if (!process.IsValid()) return;
  (void)::WaitForSingleObject(win32::ToHandle(process.Get()), INFINITE);
}

}  // namespace platform
