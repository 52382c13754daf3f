// The install attempt: launch the patch installer with no window, wait for it without time limit,
// then judge it only by the main executable's file version; its exit code is not looked at.
#include "installer/installer.h"

#include <algorithm>
#include <cwctype>
#include <new>

#include "applicability/applicability.h"
#include "applicability/messages.h"
#include "discovery/exe_version.h"
#include "installer/messages.h"
#include "log/run_log.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/pause.h"
#include "platform/shell.h"

namespace {

using namespace messages::installer;
using messages::applicability::kWaitToClose;

// Every attempt ends with this pause, so the operator can read the console.
constexpr std::uint32_t kClosingPauseMs = 10000;

// Installer parameters, joined in this order with nothing between them.
constexpr wchar_t kSilentSwitch[] = L" /s ";
constexpr wchar_t kInstallPathProperty[] = L" INSTALLPATH=";
constexpr wchar_t kAllUsersProperty[] = L"ALLUSERS=TRUE ";

wchar_t FoldCase(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c))); }

// After the installer ended: the version it left decides, and only a match gets recorded.
void VerifyInstall(const installer::Install& install, std::wstring& log, std::wstring& found) {
  found = ReadMainExecutableVersionText(install.installPath);
  const std::wstring& expected = install.patchVersion;

  const wchar_t* entry = nullptr;
  const wchar_t* console = nullptr;
  if (found.empty() || expected.empty()) {
    entry = kCancelledEntry;
    console = kUpdateFailedConsole;
  } else if (!VersionsMatch(expected, found)) {
    entry = kMismatchEntry;
    console = kMismatchConsole;
  } else if (applicability::RecordInstalledUpdate(install.displayIcon, install.patchInfo, log)) {
    entry = kCompletedEntry;
    console = kCompletedConsole;
  } else {
    entry = kRecordFailedEntry;
    console = kUpdateFailedConsole;
  }
  AppendLogEntry(log, entry);
  platform::WriteConsoleText(console);
  platform::WriteConsoleText(kWaitToClose);
}

// Prints the in-progress lines, launches, waits, verifies; every failure is logged here.
void AttemptInstall(const installer::Install& install, std::wstring& log, std::wstring& found) {
  // The full path of the very file the descriptor read found beside the utility; a bare name would let
  // the shell pick another file of that name.
  const std::wstring file = install.patchFolder + L"\\" + install.patchFile;
  const std::wstring parameters = installer::InstallParameters(install.installPath);

  platform::WriteConsoleText(kInProgressConsole);

  if (install.installPath.find(L'"') != std::wstring::npos) {
    AppendLogEntry(log, kQuoteInInstallPath);
    return;
  }
  platform::LaunchResult launch = platform::LaunchHidden(file, parameters, install.patchFolder);
  if (launch.error != platform::kErrorSuccess) {
    AppendLogEntry(log, LaunchErrorMessage(launch.error));
    return;
  }
  if (launch.process.IsValid()) {
    platform::WaitForProcessEnd(launch.process);
    launch.process.Close();
  }
  VerifyInstall(install, log, found);
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
  return std::ranges::equal(expected, found, {}, FoldCase, FoldCase);
}

namespace installer {

std::wstring InstallParameters(const std::wstring& installPath) {
  return std::wstring(kSilentSwitch) + kInstallPathProperty + L'"' + installPath + L"\" " + kAllUsersProperty;
}

std::wstring InstallPatch(const Install& install, std::wstring& log) {
  std::wstring found;
  try {
    AttemptInstall(install, log, found);
  } catch (const std::bad_alloc&) {
    // Out of memory part-way: say so if the log still can, and close the attempt as any other.
    try {
      AppendLogEntry(log, kLaunchNotEnoughMemory);
    } catch (const std::bad_alloc&) {}
  }
  platform::Pause(kClosingPauseMs);
  return found;
}

}  // namespace installer
