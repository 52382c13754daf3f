// The install attempt: launch the patch installer with no window, wait for it without time limit,
// then judge it only by the main executable's file version; its exit code is not looked at.
#include "installer/installer.h"

#include <cwctype>
#include <new>

#include "app/entry.h"
#include "app/patch_execute.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/pause.h"
#include "platform/shell.h"

namespace {

constexpr wchar_t kInProgressConsole[] =
    L"Patch update status: Installation in-progress.\nPlease wait to complete...\n";
// Every attempt ends with this pause, so the operator can read the console.
constexpr std::uint32_t kClosingPauseMs = 10000;

// Installer parameters, joined in this order with nothing between them.
constexpr wchar_t kSilentSwitch[] = L" /s ";
constexpr wchar_t kInstallPathProperty[] = L" INSTALLPATH=";
constexpr wchar_t kAllUsersProperty[] = L"ALLUSERS=TRUE ";

// A Windows folder never holds a double quote; one in the registry value could only close the quoted
// INSTALLPATH early and smuggle further arguments onto the elevated installer's command line.
constexpr wchar_t kQuoteInInstallPath[] =
    L"Execute patch process silent error: The install path contains a double quote and was not passed to the "
    L"installer.";

// Launch errors.
constexpr wchar_t kLaunchFileNotFound[] = L"Execute patch process silent error: The specified file was not found.";
constexpr wchar_t kLaunchPathNotFound[] = L"Execute patch process silent error: The specified path was not found.";
constexpr wchar_t kLaunchDdeFail[] =
    L"Execute patch process silent error: The Dynamic Data Exchange (DDE) transaction failed.";
constexpr wchar_t kLaunchNoAssociation[] =
    L"Execute patch process silent error: There is no application associated with the specified file name "
    L"extension.";
constexpr wchar_t kLaunchAccessDenied[] =
    L"Execute patch process silent error: Access to the specified file is denied.";
constexpr wchar_t kLaunchDllNotFound[] =
    L"Execute patch process silent error: One of the library files necessary to run the application can't be "
    L"found.";
constexpr wchar_t kLaunchCancelled[] =
    L"Execute patch process silent error: The function prompted the user for additional information, but the user "
    L"canceled the request.";
constexpr wchar_t kLaunchNotEnoughMemory[] =
    L"Execute patch process silent error: There is not enough memory to perform the specified action.";
constexpr wchar_t kLaunchSharingViolation[] = L"Execute patch process silent error: A sharing violation occurred.";
constexpr wchar_t kLaunchOtherError[] = L"Execute patch process silent: error code ";

// Verification outcomes: log entry and console line of each.
constexpr wchar_t kCancelledEntry[] =
    L"Execute patch process silent : Not completed successfully (might be cancelled during updates). Please try "
    L"again. ";
constexpr wchar_t kMismatchEntry[] =
    L"Execute patch process silent : Not completed successfully due to version information mismatch. ";
constexpr wchar_t kCompletedEntry[] = L"Execute patch process silent: Completed successfully.";
constexpr wchar_t kRecordFailedEntry[] = L"Execute patch process silent: Not completed successfully.";
constexpr wchar_t kUpdateFailedConsole[] =
    L"Patch update status: Update failed, please check the log for complete details.\n";
constexpr wchar_t kMismatchConsole[] =
    L"Patch update status: Update failed due to version mismatch, please check the log for complete details.\n";
constexpr wchar_t kCompletedConsole[] = L"Patch update status: Completed successfully.\n";

wchar_t FoldCase(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c))); }

// After the installer ended: the version it left decides, and only a match gets recorded.
void VerifyInstall(CPatchExecute& run) {
  run.ReadExeVersionAfterInstall();
  const std::wstring& expected = run.m_strPatchVersion;
  const std::wstring& found = run.m_strVersionAfterInstall;

  const wchar_t* entry = nullptr;
  const wchar_t* console = nullptr;
  if (found.empty() || expected.empty()) {
    entry = kCancelledEntry;
    console = kUpdateFailedConsole;
  } else if (!VersionsMatch(expected, found)) {
    entry = kMismatchEntry;
    console = kMismatchConsole;
  } else if (run.RecordInstalledUpdate()) {
    entry = kCompletedEntry;
    console = kCompletedConsole;
  } else {
    entry = kRecordFailedEntry;
    console = kUpdateFailedConsole;
  }
  run.AppendLog(entry);
  platform::WriteConsoleText(console);
  platform::WriteConsoleText(kWaitToClose);
}

// Prints the in-progress lines, launches, waits, verifies; every failure is logged here.
void AttemptInstall(CPatchExecute& run) {
  // The full path of the very file the descriptor read found beside the utility; a bare name would let
  // the shell pick another file of that name.
  const std::wstring file = run.m_strPatchFolder + L"\\" + run.m_strPatchFile;
  const std::wstring parameters = run.GetInstallParameters();
  const std::wstring& directory = run.m_strPatchFolder;

  platform::WriteConsoleText(kInProgressConsole);

  if (run.m_strInstallPath.find(L'"') != std::wstring::npos) {
    run.AppendLog(kQuoteInInstallPath);
    return;
  }
  platform::LaunchResult launch = platform::LaunchHidden(file, parameters, directory);
  if (launch.error != platform::kErrorSuccess) {
    run.AppendLog(LaunchErrorMessage(launch.error));
    return;
  }
  if (launch.process.IsValid()) {
    platform::WaitForProcessEnd(launch.process);
    launch.process.Close();
  }
  VerifyInstall(run);
}

}  // namespace

std::wstring LaunchErrorMessage(std::uint32_t code) {
  switch (code) {
    case platform::kErrorFileNotFound: return kLaunchFileNotFound;
    case platform::kErrorPathNotFound: return kLaunchPathNotFound;
    case platform::kErrorDdeFail: return kLaunchDdeFail;
    case platform::kErrorNoAssociation: return kLaunchNoAssociation;
    case platform::kErrorAccessDenied: return kLaunchAccessDenied;
    case platform::kErrorDllNotFound: return kLaunchDllNotFound;
    case platform::kErrorCancelled: return kLaunchCancelled;
    case platform::kErrorNotEnoughMemory: return kLaunchNotEnoughMemory;
    case platform::kErrorSharingViolation: return kLaunchSharingViolation;
    default: return kLaunchOtherError + std::to_wstring(code);
  }
}

bool VersionsMatch(const std::wstring& expected, const std::wstring& found) {
  if (expected.size() != found.size()) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (FoldCase(expected[i]) != FoldCase(found[i])) return false;
  }
  return true;
}

std::wstring CPatchExecute::GetInstallParameters() const {
  std::wstring parameters = kSilentSwitch;
  parameters += kInstallPathProperty;
  parameters += L'"';
  parameters += m_strInstallPath;
  parameters += L'"';
  parameters += L' ';
  parameters += kAllUsersProperty;
  return parameters;
}

void CPatchExecute::InstallPatch() {
  BeginWaitCursor();
  try {
    AttemptInstall(*this);
  } catch (const std::bad_alloc&) {
    // Out of memory part-way: say so if the log still can, and close the attempt as any other.
    try {
      AppendLog(kLaunchNotEnoughMemory);
    } catch (const std::bad_alloc&) {
    }
  }
  platform::Pause(kClosingPauseMs);
  EndWaitCursor();
}
