// Whose folders and keys a program running as SYSTEM may believe: SYSTEM, Administrators,
// TrustedInstaller, or the account it runs as. Private to the Windows layer.
#pragma once

#include <windows.h>
#include <accctrl.h>

namespace platform::win32 {

// 0 when `object` (a file or registry key, as `type` says) is owned by one of them, ERROR_ACCESS_DENIED
// when by another, else the error reading its owner.
DWORD CheckTrustedOwner(HANDLE object, SE_OBJECT_TYPE type);

}  // namespace platform::win32
