// The run log file as it must look on disk, spelled out independently of the code that writes it.
#pragma once

#include <string>
#include <vector>

namespace expect {

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

}  // namespace expect
