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

CPatchExecute::~CPatchExecute() = default;

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
  } catch (const std::bad_alloc&) {
  }

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

std::wstring CPatchExecute::GetProductVersion() const { return m_strProductVersion; }
std::wstring CPatchExecute::GetInstallPath() const { return m_strInstallPath; }
std::wstring CPatchExecute::GetDisplayIcon() const { return m_strDisplayIcon; }

void CPatchExecute::SetProductVersion(const std::wstring& text) { TakeIfFound(m_strProductVersion, text); }

// Out of memory, the members keep their values, as with an unreadable executable, and the decision
// reports what that leaves.
void CPatchExecute::ReadExeVersion() {
  try {
    const auto words = ReadMainExecutableVersion(GetInstallPath());
    if (!words) return;
    std::wstring version = FormatVersionText(*words);
    m_strExeRevision = FormatRevisionText(*words);
    m_strExeVersion = std::move(version);
  } catch (const std::bad_alloc&) {
  }
}

void CPatchExecute::ReadExeVersionAfterInstall() {
  TakeIfFound(m_strVersionAfterInstall, ReadMainExecutableVersionText(GetInstallPath()));
}

std::wstring CPatchExecute::GetVersionAfterInstall() const { return m_strVersionAfterInstall; }

namespace {

// What the descriptor read found, into the members; the patch fields only when it was taken.
void TakeDescriptor(RunState& run, const descriptor::PatchDescriptor& found) {
  run.m_bPatchInfoRead = found.read;
  if (!found.folder.empty()) run.m_strPatchFolder = found.folder;
  run.m_arrPreviousVersions = found.previous;
  if (!found.read) return;
  run.m_strPatchInfo = found.info;
  run.m_strPatchFile = found.file;
  run.m_strPatchVersion = found.version;
  run.m_strPatchRevision = found.revision;
}

}  // namespace

void CPatchExecute::ReadPatchDescriptor() {
  TakeDescriptor(*this, descriptor::ReadPatchDescriptor(FolderOf(platform::GetModulePath()), m_strLog));
}

std::wstring CPatchExecute::ReadWholeFile(const std::wstring& path, bool forRecord) {
  return ::ReadWholeFile(path, forRecord, m_strLog).text;
}

void CPatchExecute::ParsePatchDescriptor(const std::wstring& text) {
  descriptor::PatchDescriptor found;
  found.folder = m_strPatchFolder;
  found.previous = m_arrPreviousVersions;
  descriptor::ParsePatchDescriptor(text, found, m_strLog);
  TakeDescriptor(*this, found);
}

bool CPatchExecute::LoadPreviousVersions(const std::wstring& value) {
  m_arrPreviousVersions = descriptor::SplitPreviousVersions(value);
  return !m_arrPreviousVersions.empty();
}

void CPatchExecute::SetPatchVersion(const std::wstring& value) {
  m_strPatchVersion = value;
  // The revision always follows the version just stored.
  m_strPatchRevision = descriptor::RevisionOf(value);
}

namespace {

applicability::Facts FactsOf(const RunState& run) {
  return {.exeVersion = run.m_strExeVersion,
          .exeRevision = run.m_strExeRevision,
          .patchInfo = run.m_strPatchInfo,
          .patchVersion = run.m_strPatchVersion,
          .patchRevision = run.m_strPatchRevision,
          .previousVersions = run.m_arrPreviousVersions,
          .displayIcon = run.m_strDisplayIcon};
}

}  // namespace

void CPatchExecute::DecideApplicability() {
  ReadExeVersion();
  m_bUpdateNeeded = applicability::DecideApplicability(FactsOf(*this), m_strLog);
}

bool CPatchExecute::IsPatchVersionInstalled() const { return m_strExeVersion == m_strPatchVersion; }

bool CPatchExecute::IsExeVersionInPreviousVersions() const {
  return applicability::IsExeVersionInPreviousVersions(FactsOf(*this));
}

bool CPatchExecute::RecordInstalledUpdate() {
  return applicability::RecordInstalledUpdate(m_strDisplayIcon, m_strPatchInfo, m_strLog);
}

void CPatchExecute::InstallPatch() {
  BeginWaitCursor();
  TakeIfFound(m_strVersionAfterInstall,
              installer::InstallPatch({.patchFolder = m_strPatchFolder,
                                       .patchFile = m_strPatchFile,
                                       .patchInfo = m_strPatchInfo,
                                       .patchVersion = m_strPatchVersion,
                                       .installPath = m_strInstallPath,
                                       .displayIcon = m_strDisplayIcon},
                                      m_strLog));
  EndWaitCursor();
}

std::wstring CPatchExecute::GetInstallParameters() const { return installer::InstallParameters(m_strInstallPath); }
