// The command-target base of the run objects. Of the classic framework's base only the
// wait-cursor pair is used, so that is all this one offers.
#pragma once

#include "platform/console.h"

class CCmdTarget {
 public:
  CCmdTarget() = default;
  virtual ~CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;
  CCmdTarget(CCmdTarget&&) = delete;
  CCmdTarget& operator=(CCmdTarget&&) = delete;

  void BeginWaitCursor() { platform::ShowBusyCursor(true); }
  void EndWaitCursor() { platform::ShowBusyCursor(false); }
};
