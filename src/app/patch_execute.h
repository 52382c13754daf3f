// The patch run object: everything one run finds, decides and logs.
//
// Each subsystem defines its own operations of this class in its own folder:
//   app/          constructor, ValidateInstallation, RunPatch, GetLog
//   log/          AppendLog
//   discovery/    registry view, registry probes, executable version probe
//   descriptor/   ReadPatchDescriptor, ReadWholeFile, ParsePatchDescriptor and helpers
//   applicability/ DecideApplicability, the installed-update record
//   installer/    InstallPatch, GetInstallParameters
// Steps never throw at each other: each logs, leaves a member empty or a flag false, and the next step
// tests it. Members are public because every step reads and writes them directly.
#pragma once

#include <string>
#include <vector>

#include "app/cmd_target.h"

// Selects the constructor that reads nothing, for a program that asks single questions of a package.
struct NothingReadYet {};

class CPatchExecute : public CCmdTarget {
 public:
  // Validates the installation, then reads the descriptor whatever validation found; m_bReady is both.
  CPatchExecute();
  // Looks at nothing: every member at its initial value, for calling single steps.
  explicit CPatchExecute(NothingReadYet);
  ~CPatchExecute() override;
  CPatchExecute(const CPatchExecute&) = delete;
  CPatchExecute& operator=(const CPatchExecute&) = delete;
  CPatchExecute(CPatchExecute&&) = delete;
  CPatchExecute& operator=(CPatchExecute&&) = delete;

  // --- app/ ---
  void ValidateInstallation();
  // Decides, then installs or pauses; called only when m_bReady.
  void RunPatch();
  std::wstring GetLog() const;

  // --- log/ ---
  // Appends one entry followed by a blank line.
  void AppendLog(const std::wstring& message);

  // --- discovery/ ---
  // True for Mode 1 (the Wow6432Node key exists); the flag is set on every path.
  bool DetectRegistryView();
  void ProbeProductVersion();
  void ProbeInstallPath();
  void ProbeDisplayIcon();
  std::wstring GetProductVersion() const;
  std::wstring GetInstallPath() const;
  std::wstring GetDisplayIcon() const;
  // An empty text changes nothing.
  void SetProductVersion(const std::wstring& text);
  // Leave the members unchanged when there is no executable or no usable version information.
  void ReadExeVersion();
  void ReadExeVersionAfterInstall();
  std::wstring GetVersionAfterInstall() const;

  // --- descriptor/ ---
  void ReadPatchDescriptor();
  // The file's text, or empty when it can't be opened or read; logs completed or failed.
  std::wstring ReadWholeFile(const std::wstring& path, bool forRecord);
  void ParsePatchDescriptor(const std::wstring& text);
  // True when the list holds at least one entry afterwards.
  bool LoadPreviousVersions(const std::wstring& value);
  void SetPatchVersion(const std::wstring& value);

  // --- applicability/ ---
  void DecideApplicability();
  bool IsPatchVersionInstalled() const;
  bool IsExeVersionInPreviousVersions() const;
  // False after a file error, which it has logged; the previous record is then intact.
  bool RecordInstalledUpdate();

  // --- installer/ ---
  void InstallPatch();
  std::wstring GetInstallParameters() const;

  std::wstring m_strLog;
  std::wstring m_strProductVersion;
  std::wstring m_strDisplayIcon;
  std::wstring m_strPatchFolder;
  std::wstring m_strPatchInfo;
  std::wstring m_strPatchFile;
  std::wstring m_strPatchVersion;
  std::wstring m_strVersionAfterInstall;
  std::wstring m_strInstallPath;
  std::wstring m_strExeVersion;
  std::wstring m_strExeRevision;
  std::wstring m_strPatchRevision;
  std::vector<std::wstring> m_arrPreviousVersions;
  bool m_bWow64Registry = true;
  bool m_bPatchInfoRead = true;
  bool m_bValidated = true;
  bool m_bReady = false;
  bool m_bUpdateNeeded = false;
};
