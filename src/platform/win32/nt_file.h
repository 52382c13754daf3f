// Files opened, renamed and deleted through ntdll, where the Windows API can't say what we need: an open
// relative to a held folder handle, one that never waits for an oplock break, a descriptor given in the
// same call that makes a file or folder, a rename by handle into a held folder. Private to the Windows layer.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

// NtCreateFile's dispositions and options (ntifs.h), by value: the SDK's user-mode headers lack most.
inline constexpr ULONG kNtOpen = 1;
inline constexpr ULONG kNtCreate = 2;
inline constexpr ULONG kNtDirectoryFile = 0x00000001;
inline constexpr ULONG kNtNonDirectoryFile = 0x00000040;
inline constexpr ULONG kNtOpenForBackup = 0x00004000;
inline constexpr ULONG kNtOpenReparsePoint = 0x00200000;
inline constexpr LONG kStatusInvalidOwner = static_cast<LONG>(0xC000005A);

// Whether this runs on Wine's ntdll, which keeps no descriptor a program gives.
bool IsWine();

// NtCreateFile on `path` (a whole path), or on the name `path` in the folder `root` is open on when `root`
// is given, that never waits for an oplock break: a break in progress closes the handle again and answers
// ERROR_SHARING_VIOLATION. `status`, when given, receives the call's own status. 0 or the error code.
DWORD OpenWithoutWaiting(HANDLE root, const std::wstring& path, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                         ULONG options, PSECURITY_DESCRIPTOR descriptor, ScopedHandle& opened, LONG* status = nullptr);

// Renames what `handle` is open on (opened with DELETE access) to `target`: a name in the folder `root` is
// open on, or a whole path when `root` is nullptr. 0 or the error code.
DWORD RenameByHandle(HANDLE handle, HANDLE root, const std::wstring& target, bool replace);

// Marks an open file for deletion when its handle closes; false when the system refused.
bool DiscardOnClose(HANDLE file);

}  // namespace platform::win32
