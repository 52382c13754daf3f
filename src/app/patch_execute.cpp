#include "app/patch_execute.h"

#include "app/entry.h"
#include "app/messages.h"
#include "discovery/product_keys.h"
#include "platform/console.h"
#include "platform/pause.h"

namespace {

using namespace messages::app;
using product_keys::kRequiredProductVersion;

}  // namespace

CPatchExecute::CPatchExecute() {
  ValidateInstallation();
  // Read even after a failed validation, so the descriptor's findings reach the log too.
  ReadPatchDescriptor();
  m_bReady = m_bValidated && m_bPatchInfoRead;
}

CPatchExecute::CPatchExecute(NothingReadYet) {}

CPatchExecute::~CPatchExecute() = default;

void CPatchExecute::ValidateInstallation() {
  platform::WriteConsoleText(kValidationInProgress);

  // The version probe may switch the registry view, so detection and the version come first.
  DetectRegistryView();
  ProbeProductVersion();
  ProbeInstallPath();

  if (m_strProductVersion.empty()) {
    m_bValidated = false;
    platform::WriteConsoleText(std::wstring(kNotInstalled) + L"\n");
    AppendLog(kNotInstalled);
    return;
  }
  if (m_strProductVersion != kRequiredProductVersion) {
    // Another version is installed: the log says why, the console stays quiet.
    m_bValidated = false;
    AppendLog(kNotInstalled);
    return;
  }

  ProbeDisplayIcon();
  if (m_strDisplayIcon.empty()) {
    platform::ClearConsoleScreen();
    platform::WriteConsoleText(kLevelTwoFailed);
    AppendLog(kLevelTwoWarning);
    m_bValidated = false;
    return;
  }
  m_bValidated = true;
}

void CPatchExecute::RunPatch() {
  DecideApplicability();
  if (m_bUpdateNeeded) {
    InstallPatch();
    return;
  }
  platform::WriteConsoleText(kWaitToClose);
  platform::Pause(kClosingPauseMilliseconds);
}

std::wstring CPatchExecute::GetLog() const { return m_strLog; }
