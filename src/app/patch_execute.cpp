#include "app/patch_execute.h"

CPatchExecute::CPatchExecute() {}

CPatchExecute::~CPatchExecute() = default;

void CPatchExecute::ValidateInstallation() {}

void CPatchExecute::RunPatch() {}

std::wstring CPatchExecute::GetLog() const { return m_strLog; }
