#include "app/cmd_target.h"

#include "platform/console.h"

void CCmdTarget::BeginWaitCursor() { platform::ShowBusyCursor(true); }

void CCmdTarget::EndWaitCursor() { platform::ShowBusyCursor(false); }
