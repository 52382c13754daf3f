// Whose folders and keys a program running as SYSTEM may believe: SYSTEM, Administrators,
// TrustedInstaller, or the account it runs as; and what judging an owner or making a descriptor takes.
// Private to the Windows layer.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include <cstdint>
#include <vector>

#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

bool IsTrustedOwner(PSID owner);

// 0 when the owner of `object` (of the kind `type` says) passes `trust`, ERROR_ACCESS_DENIED when not,
// else the error reading it.
DWORD CheckOwner(HANDLE object, SE_OBJECT_TYPE type, bool (*trust)(PSID owner));

// One part of this process's token (TokenUser, TokenOwner); empty when the token won't say.
std::vector<std::uint8_t> ProcessTokenPart(TOKEN_INFORMATION_CLASS which);

// A security descriptor from SDDL; Get() is nullptr when it couldn't be built (GetLastError says why).
LocalMemory DescriptorFrom(const wchar_t* sddl);

}  // namespace platform::win32
