// The smallest program built the way PatchUpdate.exe is (MinGW-w64, C++ runtime linked statically): what
// starting any such program costs under Wine, the yardstick of measure_cost.py.
int main() { return 0; }
