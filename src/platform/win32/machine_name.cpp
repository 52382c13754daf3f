#include <windows.h>

#include "platform/machine_name.h"

namespace platform {

std::wstring MachineName() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buffer, &length)) return {};
  return std::wstring(buffer, length);
}

}  // namespace platform
