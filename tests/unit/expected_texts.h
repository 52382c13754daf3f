// The utility's console lines, log entries and log file as the unit tests expect them, spelled out
// independently of the code that writes them: a changed character in the code fails a test.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace expect {

// --- console lines ---
inline const std::wstring kBlockedMessage =  // also the whole log of a blocked run
    L"Patch update status: Please check and close Veldorant/Excel application,if open.\n";
inline const std::wstring kValidatingConsole = L"Patch update status: Validation in-progress...\n";
inline const std::wstring kLevelTwoConsole =
    L"Patch update status : Validation for level two check failed.(empty value found).\n";
inline const std::wstring kInstallingConsole =
    L"Patch update status: Installation in-progress.\nPlease wait to complete...\n";
inline const std::wstring kCompletedConsole = L"Patch update status: Completed successfully.\n";
inline const std::wstring kUpdateFailedConsole =
    L"Patch update status: Update failed, please check the log for complete details.\n";
inline const std::wstring kMismatchConsole =
    L"Patch update status: Update failed due to version mismatch, please check the log for complete details.\n";
inline const std::wstring kAlreadyAppliedConsole = L"Patch update status: This patch update has been already applied.\n";
inline const std::wstring kNotApplicableConsole =
    L"Patch update status: This patch is not applicable or not required for the installed veldorant application.\n";
inline const std::wstring kWaitToCloseConsole = L"Please wait to close the application...\n";

// --- log entries, without their blank line ---
// Validation; the first is printed too, with a line feed.
inline const std::wstring kNotInstalled =
    L"This patch can't be applied. Veldorant 14.0 application is not installed in this machine.";
inline const std::wstring kWarning101 = L"Could not check patch update availability.WARNING: 101.";
inline const std::wstring kMode1 = L"Registry bit support Mode 1: Verified successfully.";
inline const std::wstring kMode2 = L"Registry bit support Mode 2: Verified successfully.";
inline const std::wstring kVersionCompleted = L"Client side update check, level version completed.";
inline const std::wstring kVersionValueEmpty = L"Client side update check, level version failed. Value not found. ";
inline const std::wstring kInstallPathCompleted = L"Client side update check, level three completed.";
inline const std::wstring kDisplayIconCompleted = L"Client side update check, level two completed.";
// The descriptor.
inline const std::wstring kDescriptorReadCompleted = L"Read patch update installer file completed.";
inline const std::wstring kDescriptorReadFailed = L"Read patch update installer  file failed.";
inline const std::wstring kKeysFound = L"Patch update read process: key values found.";
inline const std::wstring kKeysExit1 = L"Patch update read process: key values not found.Exit code 1.";
inline const std::wstring kKeysExit6 = L"Patch update read process: key file not found.Exit code 6.";
// The decision.
inline const std::wstring kRecordExists = L"Installer update file exists in local.";
inline const std::wstring kRecordReadCompleted = L"Read local installer update file completed.";
inline const std::wstring kRecordReadFailed = L"Read local installer update file failed.";
inline const std::wstring kAlreadyApplied = L"This patch update has been already applied.";
inline const std::wstring kAlreadyAppliedStatus = L"Patch update status: This patch update has been already applied.";
inline const std::wstring kNotApplicable =
    L"This patch is not applicable or not required for the installed veldorant application.";
inline const std::wstring kNotFoundExit1 = L"Update details not found.Exit code 1.";
inline const std::wstring kNotFoundExit2 = L"Update details not found: Exit code 2.";
inline const std::wstring kNotFoundExit3 = L"Update details not found: Exit code 3.";
inline const std::wstring kFoundExit1 = L"Update details found: Exit code 1.";
inline const std::wstring kFoundExit2 = L"Update details found: Exit code 2.";
// The install.
inline const std::wstring kInstallCompleted = L"Execute patch process silent: Completed successfully.";
inline const std::wstring kInstallNotCompleted = L"Execute patch process silent: Not completed successfully.";
inline const std::wstring kInstallCancelled =
    L"Execute patch process silent : Not completed successfully (might be cancelled during updates). Please try "
    L"again. ";
inline const std::wstring kInstallMismatch =
    L"Execute patch process silent : Not completed successfully due to version information mismatch. ";
inline const std::wstring kRecordWriteFailed = L"Installedupdates failed.";  // then the file error

// The entries as the log file holds them: ASCII, one byte per character.
inline std::string Bytes(const std::wstring& text) { return {text.begin(), text.end()}; }

// --- the log file ---

// The fake clock's default time, Monday 7 December 2026 at 14:05, as the header shows it.
inline const std::string kFakeClockDate = "Monday 14:05, December 07, 2026";

inline const std::wstring kLogPath = L"C:\\Patch\\Log_VDT_14_PatchUpdate.txt";

inline const std::string kRunLogFooter =
    "=========== (Veldorant 14.0 Patch Update Utility 1.0.5) Patch Update : End  =============";

inline std::string RunLogHeader(const std::string& date = kFakeClockDate) {
  const std::string rule(89, '=');
  return rule + "\r\n\r\n" + "Veldorant 14.0 Patch Update Utility Version : 1.0.5\r\n\r\n" +
         "Veldorant 14.0 Patch Update Utility Date/Time : " + date + "\r\n\r\n" + rule + "\r\n\r\n";
}

// The whole file with `body` (line ends as CR LF) between header and footer.
inline std::string RunLogFile(const std::string& body, const std::string& date = kFakeClockDate) {
  return RunLogHeader(date) + body + kRunLogFooter;
}

// Entries as they stand in the file: each followed by a blank line.
inline std::string Entries(const std::vector<std::string>& entries) {
  std::string body;
  for (const auto& entry : entries) body += entry + "\r\n\r\n";
  return body;
}
inline std::string Entries(std::initializer_list<const char*> entries) {
  return Entries(std::vector<std::string>(entries.begin(), entries.end()));
}
inline std::string Entries(const std::vector<std::wstring>& entries) {
  std::string body;
  for (const auto& entry : entries) body += Bytes(entry) + "\r\n\r\n";
  return body;
}

}  // namespace expect
