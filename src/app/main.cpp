#include "app/entry.h"
#include "platform/module.h"

int main() {
  platform::RestrictLibrarySearch();  // before anything else can load a DLL
  return RunPatchUpdate();
}
