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

#include "app/run_state.h"
#include "platform/cmd_target.h"

class CPatchExecute : public CCmdTarget, public RunState {
 public:
  // Validates the installation, then reads the descriptor whatever validation found; m_bReady is both.
  CPatchExecute();
  ~CPatchExecute() override;
  CPatchExecute(const CPatchExecute&) = delete;
  CPatchExecute& operator=(const CPatchExecute&) = delete;
  CPatchExecute(CPatchExecute&&) = delete;
  CPatchExecute& operator=(CPatchExecute&&) = delete;

  void ValidateInstallation();
  // Decides, then installs or pauses; called only when m_bReady.
  void RunPatch();
  std::wstring GetLog() const;

  // Appends one entry followed by a blank line.
  void AppendLog(const std::wstring& message);

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

  void ReadPatchDescriptor();
  // The file's text, or empty when it can't be opened or read; logs completed or failed.
  std::wstring ReadWholeFile(const std::wstring& path, bool forRecord);
  void ParsePatchDescriptor(const std::wstring& text);
  // True when the list holds at least one entry afterwards.
  bool LoadPreviousVersions(const std::wstring& value);
  void SetPatchVersion(const std::wstring& value);

  void DecideApplicability();
  bool IsPatchVersionInstalled() const;
  bool IsExeVersionInPreviousVersions() const;
  // False after a file error, which it has logged; the previous record is then intact.
  bool RecordInstalledUpdate();

  void InstallPatch();
  std::wstring GetInstallParameters() const;
};
