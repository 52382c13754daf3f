// Holds a file open, as another program that keeps it busy would.
//
//   file_holder PATH SECONDS READY_FILE [shared]
// Opens PATH (which must exist) with share mode 0, or with "shared" for reading, writing and deleting as
// a virus scanner does, writes READY_FILE, sleeps. Exits 2 when PATH can't be opened, so the harness sees
// the failure instead of a scenario that quietly tests nothing.
#include "common.h"

int main() {
  const auto args = e2e::Arguments();
  if (args.size() < 3) return 3;
  const DWORD share =
      args.size() > 3 && args[3] == L"shared" ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  HANDLE file =
      CreateFileW(args[0].c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  if (!e2e::WriteWholeFile(args[2], "holding\n")) return 2;
  Sleep(e2e::Seconds(args[1], 300) * 1000);
  CloseHandle(file);
  return 0;
}
