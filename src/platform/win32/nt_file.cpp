// FILE_COMPLETE_IF_OPLOCKED on every open: a file or folder someone holds an opportunistic lock on is
// answered at once (taken as held by another, 32) instead of waiting for a break its holder need never
// acknowledge.
#include "platform/win32/nt_file.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/win32/long_path.h"
#include "platform/win32/system_library.h"

namespace platform::win32 {
namespace {

constexpr ULONG kNtSynchronousIo = 0x00000020;
constexpr ULONG kNtCompleteIfOplocked = 0x00000100;
constexpr LONG kStatusOplockBreakInProgress = 0x00000108;
// FILE_INFORMATION_CLASS's FileRenameInformation (wdm.h), by value.
constexpr ULONG kNtFileRenameInformation = 10;
constexpr ULONG kObjCaseInsensitive = 0x00000040;

struct NtString {
  USHORT length;
  USHORT maximumLength;
  PWSTR buffer;
};
struct NtObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  NtString* objectName;
  ULONG attributes;
  PVOID securityDescriptor;
  PVOID securityQualityOfService;
};
struct NtIoStatus {
  union {
    LONG status;
    PVOID pointer;
  };
  ULONG_PTR information;
};
using NtCreateFileFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, NtObjectAttributes*, NtIoStatus*, LARGE_INTEGER*,
                                           ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFunction = ULONG(WINAPI*)(LONG);
using NtSetInformationFileFunction = LONG(WINAPI*)(HANDLE, NtIoStatus*, PVOID, ULONG, ULONG);

struct Ntdll {
  NtCreateFileFunction createFile = nullptr;
  NtStatusToErrorFunction statusToError = nullptr;
  NtSetInformationFileFunction setInformationFile = nullptr;
  bool wine = false;  // Wine's ntdll: descriptors are not kept
};

const Ntdll& TheNtdll() {
  static const Ntdll ntdll = [] {
    Ntdll loaded;
    // ntdll is mapped into every process before any code of ours runs; its handle is the system's.
    HMODULE module = ::GetModuleHandleW(L"ntdll.dll");
    loaded.createFile = FunctionOf<NtCreateFileFunction>(module, "NtCreateFile");
    loaded.setInformationFile = FunctionOf<NtSetInformationFileFunction>(module, "NtSetInformationFile");
    loaded.statusToError = FunctionOf<NtStatusToErrorFunction>(module, "RtlNtStatusToDosError");
    loaded.wine = module != nullptr && ::GetProcAddress(module, "wine_get_version") != nullptr;
    return loaded;
  }();
  return ntdll;
}

// "C:\x" as the object manager names it, "\??\C:\x"; UNC and "\\?\" paths likewise.
std::wstring NtPathOf(const std::wstring& path) {
  // A full drive path as it is: normalising would strip a trailing dot or blank and name another entry.
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\??\\" + path;
  std::wstring full = FullPath(path);
  if (full.empty()) full = path;
  if (full.rfind(L"\\\\?\\", 0) == 0) return L"\\??\\" + full.substr(4);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + full.substr(2);
  return L"\\??\\" + full;
}

}  // namespace

bool IsWine() { return TheNtdll().wine; }

DWORD OpenWithoutWaiting(HANDLE root, const std::wstring& path, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                         ULONG options, PSECURITY_DESCRIPTOR descriptor, ScopedHandle& opened, LONG* status) {
  const Ntdll& ntdll = TheNtdll();
  if (ntdll.createFile == nullptr || ntdll.statusToError == nullptr) return ERROR_PROC_NOT_FOUND;
  std::wstring name = root != nullptr ? path : NtPathOf(path);
  if (name.size() * sizeof(wchar_t) > 0xFFFE) return ERROR_FILENAME_EXCED_RANGE;
  NtString string{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                  static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
  NtObjectAttributes attributes{sizeof(NtObjectAttributes), root, &string, kObjCaseInsensitive, descriptor, nullptr};
  NtIoStatus io{};
  HANDLE handle = nullptr;
  const LONG result = ntdll.createFile(&handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
                                       disposition, options | kNtCompleteIfOplocked | kNtSynchronousIo, nullptr, 0);
  if (status != nullptr) *status = result;
  if (result < 0) return ntdll.statusToError(result);
  opened = ScopedHandle(handle);
  if (result == kStatusOplockBreakInProgress) {
    opened.Close();
    return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

// Through ntdll: SetFileInformationByHandle may take the name for a path relative to the current folder.
DWORD RenameByHandle(HANDLE handle, HANDLE root, const std::wstring& target, bool replace) {
  const Ntdll& ntdll = TheNtdll();
  if (ntdll.setInformationFile == nullptr || ntdll.statusToError == nullptr) return ERROR_PROC_NOT_FOUND;
  const std::wstring name = root != nullptr ? target : NtPathOf(target);
  const std::size_t nameBytes = name.size() * sizeof(wchar_t);
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = root;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(info->FileName, name.data(), nameBytes);
  NtIoStatus io{};
  const LONG status =
      ntdll.setInformationFile(handle, &io, info, static_cast<ULONG>(buffer.size()), kNtFileRenameInformation);
  return status < 0 ? ntdll.statusToError(status) : ERROR_SUCCESS;
}

bool DiscardOnClose(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

}  // namespace platform::win32
