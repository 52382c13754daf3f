// The state of one run: everything it finds, decides and logs, in one plain struct. The steps are free
// functions in their subsystems that take the pieces they need and return what they found; the run
// object puts their answers here, and the next step tests them.
#pragma once

#include <string>
#include <vector>

// Every member has an initializer, so a caller names only the ones it sets.
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
