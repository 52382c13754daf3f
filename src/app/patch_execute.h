// The patch run object: a thin facade over the run's state. Its operations keep the order and names
// of the run's steps; each calls its subsystem's free functions and stores what they found:
//   discovery/     registry view, registry probes, executable version probe
//   descriptor/    the descriptor read and the whole-file reader
//   applicability/ the decision and the installed-update record
//   installer/     the install attempt
//   log/           the log's entries
// Steps never throw at each other: each logs, leaves a member empty or a flag false, and the next step
// tests it.
#pragma once

#include <string>
#include <vector>

#include "platform/cmd_target.h"

// Everything one run finds, decides and logs. Every member has an initializer, so a caller names only
// the ones it sets.
struct RunState {
  std::wstring m_strLog{};
  std::wstring m_strProductVersion{};
  std::wstring m_strDisplayIcon{};
  std::wstring m_strPatchFolder{};
  std::wstring m_strPatchInfo{};
  std::wstring m_strPatchFile{};
  std::wstring m_strPatchVersion{};
  std::wstring m_strVersionAfterInstall{};
  std::wstring m_strInstallPath{};
  std::wstring m_strExeVersion{};
  std::wstring m_strExeRevision{};
  std::wstring m_strPatchRevision{};
  std::vector<std::wstring> m_arrPreviousVersions{};
  bool m_bWow64Registry = true;
  bool m_bPatchInfoRead = true;
  bool m_bValidated = true;
  bool m_bReady = false;
  bool m_bUpdateNeeded = false;
};

class CPatchExecute : public CCmdTarget, public RunState {
 public:
  // Validates the installation, then reads the descriptor whatever validation found; m_bReady is both.
  CPatchExecute();

  void ValidateInstallation();
  // Decides, then installs or pauses; called only when m_bReady.
  void RunPatch();
  std::wstring GetLog() const;
  void AppendLog(const std::wstring& message);

  // True for Mode 1 (the Wow6432Node key exists); the flag is set on every path.
  bool DetectRegistryView();
  void ProbeProductVersion();
  void ProbeInstallPath();
  void ProbeDisplayIcon();
  // An empty text changes nothing.
  void SetProductVersion(const std::wstring& text);
  // Leave the members unchanged when there is no executable or no usable version information.
  void ReadExeVersion();
  void ReadExeVersionAfterInstall();

  void ReadPatchDescriptor();
  // The file's text, or empty when it can't be opened or read; logs completed or failed.
  std::wstring ReadWholeFile(const std::wstring& path, bool forRecord);

  void DecideApplicability();
  // False after a file error, which it has logged; the previous record is then intact.
  bool RecordInstalledUpdate();

  void InstallPatch();
  std::wstring GetInstallParameters() const;
};
