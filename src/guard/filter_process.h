// The running-application guard: the run stops while the product or Excel runs.
#pragma once

#include <string>

#include "platform/cmd_target.h"

class CFilterProcess : public CCmdTarget {
 public:
  // Scans the process list once and decides; prints the message when blocked.
  CFilterProcess();

  // False when the snapshot or its first entry couldn't be read; the flags then stay false.
  bool ScanRunningProcesses();
  // Empty when the run isn't blocked.
  std::wstring GetStatusMessage() const;

  bool m_bExcelRunning = false;
  bool m_bProductRunning = false;
  bool m_bBlocked = false;
  std::wstring m_strMessage;
};
