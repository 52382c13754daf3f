// Feeds arbitrary bytes to the descriptor reader as patchupdate.dat beside the utility.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/patch_execute.h"
#include "fake/fake_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::ResetMachine();
  auto& machine = fake::TheMachine();
  machine.AddFile(L"C:\\Patch\\patchupdate.dat", std::string(reinterpret_cast<const char*>(data), size));
  machine.AddFile(L"C:\\Patch\\Update2Setup.exe", "MZ");

  const CPatchExecute run;
  if (run.m_bPatchInfoRead) {
    // An accepted descriptor must hand the later steps every value they rely on.
    const bool complete = !run.m_strPatchInfo.empty() && !run.m_strPatchFile.empty() &&
                          !run.m_strPatchVersion.empty() && !run.m_arrPreviousVersions.empty() &&
                          run.m_strPatchFile.ends_with(L".exe") && run.m_strPatchFolder == L"C:\\Patch";
    if (!complete) std::abort();
  }
  for (const auto& version : run.m_arrPreviousVersions) {
    if (version.empty() || version.find(L',') != std::wstring::npos) std::abort();
  }
  if (run.m_strLog.empty()) std::abort();  // every path of the reader says what it found
  return 0;
}
