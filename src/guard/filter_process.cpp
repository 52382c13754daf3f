#include "guard/filter_process.h"

CFilterProcess::CFilterProcess() = default;

CFilterProcess::~CFilterProcess() = default;

bool CFilterProcess::ScanRunningProcesses() { return false; }

std::wstring CFilterProcess::GetStatusMessage() const { return m_strMessage; }
