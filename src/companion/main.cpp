#include <string>
#include <vector>

#include "companion/companion.h"

int wmain(int argc, wchar_t** argv) { return RunCompanion(std::vector<std::wstring>(argv + 1, argv + argc)); }
