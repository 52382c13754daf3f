// Writing the installed-update record. The record is replaced in one step so that a failed write never
// leaves it truncated: the previous record, and with it the previous run's knowledge, stays intact.
#include <new>
#include <string>
#include <vector>

#include "applicability/applicability.h"
#include "descriptor/whole_file.h"
#include "log/run_log.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace {

// Immediately followed by the description of the file error.
constexpr wchar_t kRecordWriteFailed[] = L"Installedupdates failed.";
// The description fits a 1024-character buffer with its terminating zero.
constexpr std::size_t kMaxErrorDescription = 1023;

}  // namespace

bool applicability::RecordInstalledUpdate(const std::wstring& displayIcon, const std::wstring& patchInfo,
                                          std::wstring& log) {
  const std::wstring path = InstalledRecordPath(displayIcon);
  std::uint32_t error = platform::kErrorSuccess;
  try {
    // The PatchInfo text alone, one byte per character: no key, no line end, no terminating zero.
    error = platform::ReplaceFileAtomically(path, platform::WideToAnsi(patchInfo));
  } catch (const std::bad_alloc&) {
    error = platform::kErrorNotEnoughMemory;
  }
  if (error == platform::kErrorSuccess) return true;

  std::wstring description = DescribeFileError(error, path);
  if (description.size() > kMaxErrorDescription) description.resize(kMaxErrorDescription);
  AppendLogEntry(log, kRecordWriteFailed + description);
  return false;
}
