#include "guard/filter_process.h"

#include <algorithm>
#include <string_view>

#include "discovery/product_keys.h"
#include "guard/messages.h"
#include "platform/console.h"
#include "platform/process_list.h"

namespace {

using namespace messages::guard;

constexpr std::wstring_view kProductExeName = product_keys::kMainExecutable;
constexpr std::wstring_view kExcelExeName = L"excel.exe";

// Both names are ASCII, so folding ASCII letters alone is enough and stays independent of the locale.
constexpr wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsIgnoringCase(std::wstring_view name, std::wstring_view wanted) {
  return std::ranges::equal(name, wanted, {}, FoldAscii, FoldAscii);
}

}  // namespace

CFilterProcess::CFilterProcess() {
  ScanRunningProcesses();
  if (m_bExcelRunning || m_bProductRunning) {
    platform::WriteConsoleText(kBlockedMessage);
    m_bBlocked = true;
    m_strMessage = kBlockedMessage;
  }
}

bool CFilterProcess::ScanRunningProcesses() {
  const auto names = platform::ListProcessNames();
  if (!names) return false;
  // Every entry is visited: both flags are wanted, whichever comes first.
  for (const auto& name : *names) {
    if (EqualsIgnoringCase(name, kProductExeName)) m_bProductRunning = true;
    if (EqualsIgnoringCase(name, kExcelExeName)) m_bExcelRunning = true;
  }
  return true;
}

std::wstring CFilterProcess::GetStatusMessage() const { return m_strMessage; }
