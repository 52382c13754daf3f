// A file that can't be read whole is reported like one that can't be opened: the system's description,
// then the caller's "failed" entry, and empty text. That covers read errors, files too large to hold and
// running out of memory while widening, so a bad file never ends the run.
#include "descriptor/whole_file.h"

#include <algorithm>
#include <new>
#include <vector>

#include "descriptor/messages.h"
#include "log/run_log.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace {

using namespace messages::descriptor;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The ANSI bytes up to the first zero byte, as wide text; the one place file bytes become text.
std::wstring AnsiBytesToText(const std::vector<std::uint8_t>& bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return platform::AnsiToWide(bytes.data(), static_cast<std::size_t>(end - bytes.begin()));
}

}  // namespace

std::wstring DescribeFileError(std::uint32_t code, const std::wstring& path) {
  std::wstring cause = platform::SystemErrorText(code);
  if (cause.empty()) cause = L"Error " + std::to_wstring(code) + L".";
  std::wstring text = cause + L" File: " + path;
  constexpr std::size_t kMaxChars = kFileErrorTextChars - 1;
  if (text.size() > kMaxChars) {
    text.resize(kMaxChars);
    // Never leave half of a surrogate pair at the cut.
    if (IsHighSurrogate(text.back())) text.pop_back();
  }
  return text;
}

WholeFile ReadWholeFile(const std::wstring& path, bool forRecord, std::wstring& log) {
  std::uint32_t error = platform::kErrorSuccess;
  WholeFile file;
  try {
    platform::FileReadResult result = platform::ReadFileExclusive(path);
    if (result.status == platform::FileReadStatus::kOk) {
      file.text = AnsiBytesToText(result.bytes);
      file.read = true;
    } else {
      error = result.error;
    }
  } catch (const std::bad_alloc&) {
    error = platform::kErrorNotEnoughMemory;
  }

  if (!file.read) {
    AppendLogEntry(log, DescribeFileError(error, path));
    AppendLogEntry(log, forRecord ? kRecordReadFailed : kDescriptorReadFailed);
    return {};
  }
  AppendLogEntry(log, forRecord ? kRecordReadCompleted : kDescriptorReadCompleted);
  return file;
}
