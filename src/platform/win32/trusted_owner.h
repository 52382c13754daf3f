// Whose folders and keys a program running as SYSTEM may believe: SYSTEM, Administrators,
// TrustedInstaller, or the account it runs as. Private to the Windows layer.
#pragma once

#include <windows.h>

namespace platform::win32 {

bool IsTrustedOwner(PSID owner);

}  // namespace platform::win32
