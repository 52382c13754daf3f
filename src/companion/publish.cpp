#include "companion/publish.h"

#include <exception>

#include "companion/kept_results.h"
#include "companion/messages.h"
#include "companion/registry_record.h"
#include "platform/console.h"

using namespace messages::companion;

std::wstring ClosingLine(result::Outcome outcome, std::uint32_t code, const std::wstring& reason) {
  return kClosingPrefix + std::wstring(result::OutcomeName(outcome)) + kClosingCode + std::to_wstring(code) +
         kClosingReason + reason + L"\n";
}

int PublishRun(const Observation& seen) {
  const result::OutcomeRecord& record = seen.record;
  // The record first: inventory looks there, and it must say this run's outcome however the file work goes.
  try {
    result::OutcomeRecord registered = record;
    if (!seen.patchRecord) registered.patch.clear();
    if (const RecordWrite written = WriteRegistryRecord(registered, seen.restartPending); written.error != 0) {
      platform::WriteConsoleText(kRecordNotWritten + written.key + L" (error " +
                                 std::to_wstring(static_cast<std::uint32_t>(written.error)) + L")\n");
    }
  } catch (const std::exception&) {
    platform::WriteConsoleText(std::wstring(kRecordNotWritten) + kRecordKey + L" (" + kInternalFailure + L")\n");
  }
  // What is kept is said when it fails, and never changes how the run ends.
  try {
    const std::wstring notKept = KeepResults(seen.stamp, record, seen.log);
    if (!notKept.empty()) platform::WriteConsoleText(notKept);
  } catch (const std::exception&) {
    platform::WriteConsoleText(std::wstring(kNotKept) + kInternalFailure + L"\n");
  }
  platform::WriteConsoleText(ClosingLine(record.outcome, record.code, record.reason));
  return static_cast<int>(record.code);
}
