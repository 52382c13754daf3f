#include "applicability/applicability.h"
#include "app/patch_execute.h"

bool CPatchExecute::RecordInstalledUpdate() { return false; }
