#include "app/entry.h"

int RunPatchUpdate() { return 0; }
