#include <string>
#include <vector>

#include "companion/companion.h"
#include "platform/module.h"

int wmain(int argc, wchar_t** argv) {
  platform::RestrictLibrarySearch();  // before anything else can load a DLL
  return RunCompanion(std::vector<std::wstring>(argv + 1, argv + argc));
}
