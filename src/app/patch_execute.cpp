#include "app/patch_execute.h"

#include <new>

#include "app/entry.h"
#include "applicability/applicability.h"
#include "applicability/messages.h"
#include "descriptor/patch_descriptor.h"
#include "descriptor/whole_file.h"
#include "discovery/exe_version.h"
#include "discovery/messages.h"
#include "discovery/product_keys.h"
#include "discovery/registry_probes.h"
#include "installer/installer.h"
#include "log/run_log.h"
#include "platform/console.h"
#include "platform/module.h"
#include "platform/path_text.h"
#include "platform/pause.h"

namespace {

using namespace messages::discovery;
using messages::applicability::kWaitToClose;
using product_keys::kRequiredProductVersion;

// A probe's answer replaces the member only when it found something.
void TakeIfFound(std::wstring& member, std::wstring found) {
  if (!found.empty()) member = std::move(found);
}

}  // namespace

CPatchExecute::CPatchExecute() {
  ValidateInstallation();
  // Read even after a failed validation, so the descriptor's findings reach the log too.
  ReadPatchDescriptor();
  m_bReady = m_bValidated && m_bPatchInfoRead;
}

void CPatchExecute::ValidateInstallation() {
  platform::WriteConsoleText(kValidationInProgress);

  // The version probe may switch the registry view, so detection and the version come first; the
  // uninstall entry is looked at only for the one version patched. Out of memory, a probe finds
  // nothing, and validation reports what is missing.
  try {
    DetectRegistryView();
    ProbeProductVersion();
    ProbeInstallPath();
    if (m_strProductVersion == kRequiredProductVersion) ProbeDisplayIcon();
  } catch (const std::bad_alloc&) {}

  if (m_strProductVersion != kRequiredProductVersion) {
    // No version at all is said on the console too; for another version the console stays quiet.
    if (m_strProductVersion.empty()) platform::WriteConsoleText(std::wstring(kNotInstalled) + L"\n");
    m_bValidated = false;
    AppendLog(kNotInstalled);
    return;
  }
  m_bValidated = !m_strDisplayIcon.empty();
  if (!m_bValidated) {
    platform::ClearConsoleScreen();
    platform::WriteConsoleText(kLevelTwoFailed);
    AppendLog(kLevelTwoWarning);
  }
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

void CPatchExecute::AppendLog(const std::wstring& message) { AppendLogEntry(m_strLog, message); }

bool CPatchExecute::DetectRegistryView() {
  m_bWow64Registry = discovery::DetectRegistryView(m_strLog);
  return m_bWow64Registry;
}

void CPatchExecute::ProbeProductVersion() {
  discovery::ProductVersionProbe probe = discovery::ProbeProductVersion(m_strLog, m_bWow64Registry);
  m_bWow64Registry = probe.wow64Registry;
  SetProductVersion(probe.version);
}

void CPatchExecute::ProbeInstallPath() {
  TakeIfFound(m_strInstallPath, discovery::ProbeInstallPath(m_strLog, m_bWow64Registry));
}

void CPatchExecute::ProbeDisplayIcon() {
  TakeIfFound(m_strDisplayIcon, discovery::ProbeDisplayIcon(m_strLog, m_bWow64Registry));
}

void CPatchExecute::SetProductVersion(const std::wstring& text) { TakeIfFound(m_strProductVersion, text); }

// Out of memory, the members keep their values, as with an unreadable executable, and the decision
// reports what that leaves.
void CPatchExecute::ReadExeVersion() {
  try {
    const auto words = ReadMainExecutableVersion(m_strInstallPath);
    if (!words) return;
    std::wstring version = FormatVersionText(*words);
    m_strExeRevision = FormatRevisionText(*words);
    m_strExeVersion = std::move(version);
  } catch (const std::bad_alloc&) {}
}

void CPatchExecute::ReadExeVersionAfterInstall() {
  TakeIfFound(m_strVersionAfterInstall, ReadMainExecutableVersionText(m_strInstallPath));
}

// What the descriptor read found, into the members; the patch fields only when it was taken.
void CPatchExecute::ReadPatchDescriptor() {
  const descriptor::PatchDescriptor found =
      descriptor::ReadPatchDescriptor(FolderOf(platform::GetModulePath()), m_strLog);
  m_bPatchInfoRead = found.read;
  if (!found.folder.empty()) m_strPatchFolder = found.folder;
  m_arrPreviousVersions = found.previous;
  if (!found.read) return;
  m_strPatchInfo = found.info;
  m_strPatchFile = found.file;
  m_strPatchVersion = found.version;
  m_strPatchRevision = found.revision;
}

std::wstring CPatchExecute::ReadWholeFile(const std::wstring& path, bool forRecord) {
  return ::ReadWholeFile(path, forRecord, m_strLog).text;
}

void CPatchExecute::DecideApplicability() {
  ReadExeVersion();
  m_bUpdateNeeded = applicability::DecideApplicability({.exeVersion = m_strExeVersion,
                                                        .exeRevision = m_strExeRevision,
                                                        .patchInfo = m_strPatchInfo,
                                                        .patchVersion = m_strPatchVersion,
                                                        .patchRevision = m_strPatchRevision,
                                                        .previousVersions = m_arrPreviousVersions,
                                                        .displayIcon = m_strDisplayIcon},
                                                       m_strLog);
}

bool CPatchExecute::RecordInstalledUpdate() {
  return applicability::RecordInstalledUpdate(m_strDisplayIcon, m_strPatchInfo, m_strLog);
}

void CPatchExecute::InstallPatch() {
  BeginWaitCursor();
  TakeIfFound(m_strVersionAfterInstall, installer::InstallPatch({.patchFolder = m_strPatchFolder,
                                                                 .patchFile = m_strPatchFile,
                                                                 .patchInfo = m_strPatchInfo,
                                                                 .patchVersion = m_strPatchVersion,
                                                                 .installPath = m_strInstallPath,
                                                                 .displayIcon = m_strDisplayIcon},
                                                                m_strLog));
  EndWaitCursor();
}

std::wstring CPatchExecute::GetInstallParameters() const { return installer::InstallParameters(m_strInstallPath); }
