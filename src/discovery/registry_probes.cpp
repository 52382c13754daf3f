// The registry view flag and the three product probes. Every outcome goes to the log only; the
// callers test the members afterwards. Keys are opened for the length of one operation and are
// owned by platform::RegistryKey, so no path leaves one open.
#include "discovery/registry_probes.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/patch_execute.h"
#include "discovery/product_keys.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace {

using namespace product_keys;

// Keys under HKEY_LOCAL_MACHINE. The branch for 32-bit programs is chosen by path alone.
constexpr wchar_t kViewDetectionKey[] = L"SOFTWARE\\Wow6432Node";
constexpr wchar_t kUninstallKeyWow64[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";
constexpr wchar_t kUninstallKeyPlain[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";

constexpr wchar_t kDisplayIconValue[] = L"DisplayIcon";

// Second entry after any failed registry call; the code follows it directly.
constexpr wchar_t kErrorEntryPrefix[] = L"Error : ";

// View detection; Mode 2 is also what the version fallback reports when it switches the view.
constexpr wchar_t kMode1Verified[] = L"Registry bit support Mode 1: Verified successfully.";
constexpr wchar_t kMode2Verified[] = L"Registry bit support Mode 2: Verified successfully.";
constexpr wchar_t kViewVerificationError[] = L"Registry bit support verification error: ";

struct ProbeMessages {
  const wchar_t* completed;
  const wchar_t* emptyValue;
  const wchar_t* queryFailed;
  const wchar_t* openFailed;
};

constexpr ProbeMessages kVersionMessages{
    L"Client side update check, level version completed.",
    L"Client side update check, level version failed. Value not found. ",
    L"Client side update check, level version (L1) failed",
    L"Client side update check, level version failed.",
};
constexpr ProbeMessages kInstallPathMessages{
    L"Client side update check, level three completed.",
    L"Client side update check, level three failed. Value not found. ",
    L"Client side update check, level three (L1) failed",
    L"Client side update check, level three failed.",
};
constexpr ProbeMessages kDisplayIconMessages{
    L"Client side update check, level two completed.",
    L"Client side update check, level two failed. Value not found. ",
    L"Client side update check, level two (L1) failed",
    L"Client side update check, level two failed.",
};

// The version fallback under the plain product key.
constexpr wchar_t kFallbackOpenFailed[] = L"Client side update check, level version add-on failed.";
constexpr wchar_t kFallbackQueryFailed[] = L"Client side update check, level version (L1) add-on failed";
constexpr wchar_t kFallbackEmptyValue[] =
    L"Client side update check, level version (L1) add-on failed. Value not found.";
// Which completed entry the fallback writes tells whether the Wow6432Node key lacked the value or was absent.
constexpr wchar_t kFallbackCompletedValueMissing[] = L"Client side update check,level version (L1) add-on completed.";
constexpr wchar_t kFallbackCompletedKeyMissing[] = L"Client side update check, level version (L1) add-on completed.";

constexpr std::int32_t kSuccess = static_cast<std::int32_t>(platform::kErrorSuccess);
constexpr std::int32_t kFileNotFound = static_cast<std::int32_t>(platform::kErrorFileNotFound);

const wchar_t* ProductKey(bool wow64Registry) { return wow64Registry ? kProductKeyWow64 : kProductKeyPlain; }
const wchar_t* UninstallKey(bool wow64Registry) { return wow64Registry ? kUninstallKeyWow64 : kUninstallKeyPlain; }

// The message, then "Error : <code>".
void AppendFailure(CPatchExecute& run, const wchar_t* message, std::int32_t code) {
  run.AppendLog(message);
  run.AppendLog(kErrorEntryPrefix + FormatErrorCode(code));
}

// A value that was read: stored and reported completed when non-empty, otherwise only reported.
void TakeValueText(CPatchExecute& run, const std::vector<std::uint8_t>& bytes, const ProbeMessages& messages,
                   std::wstring& member) {
  std::wstring text = DecodeRegistryString(bytes);
  if (text.empty()) {
    run.AppendLog(messages.emptyValue);
    return;
  }
  member = std::move(text);
  run.AppendLog(messages.completed);
}

// Open, query, take the text; any failed call is logged with its code and leaves the member as it was.
void ProbeValue(CPatchExecute& run, const wchar_t* keyPath, const wchar_t* valueName, const ProbeMessages& messages,
                std::wstring& member) {
  platform::RegistryKey key;
  if (const std::int32_t code = platform::OpenLocalMachineKey(keyPath, key); code != kSuccess) {
    AppendFailure(run, messages.openFailed, code);
    return;
  }
  const platform::RegistryValue value = platform::QueryRegistryValue(key, valueName);
  if (value.code != kSuccess) {
    AppendFailure(run, messages.queryFailed, value.code);
    return;
  }
  TakeValueText(run, value.bytes, messages, member);
}

// "Version" missing under the Wow6432Node path: try the plain path, and switch the view for the
// rest of the run if the key is there and its value could be read.
void RunVersionFallback(CPatchExecute& run, const wchar_t* completedMessage) {
  platform::RegistryKey key;
  if (const std::int32_t code = platform::OpenLocalMachineKey(kProductKeyPlain, key); code != kSuccess) {
    AppendFailure(run, kFallbackOpenFailed, code);
    return;
  }
  const platform::RegistryValue value = platform::QueryRegistryValue(key, kVersionValue);
  if (value.code != kSuccess) {
    AppendFailure(run, kFallbackQueryFailed, value.code);
    return;
  }
  const std::wstring text = DecodeRegistryString(value.bytes);
  run.m_bWow64Registry = false;
  if (text.empty()) {
    run.AppendLog(kFallbackEmptyValue);
  } else {
    run.SetProductVersion(text);
    run.AppendLog(completedMessage);
  }
  run.AppendLog(kMode2Verified);
}

}  // namespace

std::wstring FormatErrorCode(std::int32_t code) { return std::to_wstring(code); }

std::wstring DecodeRegistryString(const std::vector<std::uint8_t>& bytes) {
  std::wstring text;
  const std::size_t units = bytes.size() / 2;
  text.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (unit == 0) break;
    text.push_back(static_cast<wchar_t>(unit));
  }
  return text;
}

// Allocation failures below leave the flag or member as the code before them set it; nothing more
// can be reported without allocating, and validation reports the empty members.

bool CPatchExecute::DetectRegistryView() {
  try {
    platform::RegistryKey key;
    const std::int32_t code = platform::OpenLocalMachineKey(kViewDetectionKey, key);
    m_bWow64Registry = code == kSuccess;
    if (code == kSuccess) {
      AppendLog(kMode1Verified);
    } else if (code == kFileNotFound) {
      AppendLog(kMode2Verified);
    } else {
      // Treated as Mode 2: the plain paths are used.
      AppendFailure(*this, kViewVerificationError, code);
    }
  } catch (const std::bad_alloc&) {
  }
  return m_bWow64Registry;
}

void CPatchExecute::ProbeProductVersion() {
  try {
    platform::RegistryKey key;
    bool keyMissing = false;
    if (const std::int32_t code = platform::OpenLocalMachineKey(ProductKey(m_bWow64Registry), key); code != kSuccess) {
      if (code != kFileNotFound) {
        AppendFailure(*this, kVersionMessages.openFailed, code);
        return;
      }
      keyMissing = true;
    } else {
      const platform::RegistryValue value = platform::QueryRegistryValue(key, kVersionValue);
      if (value.code == kSuccess) {
        TakeValueText(*this, value.bytes, kVersionMessages, m_strProductVersion);
        return;
      }
      if (value.code != kFileNotFound) {
        AppendFailure(*this, kVersionMessages.queryFailed, value.code);
        return;
      }
    }
    // Missing under the plain path: validation alone reports that the product isn't installed.
    if (!m_bWow64Registry) return;
    key.Close();
    RunVersionFallback(*this, keyMissing ? kFallbackCompletedKeyMissing : kFallbackCompletedValueMissing);
  } catch (const std::bad_alloc&) {
  }
}

void CPatchExecute::ProbeInstallPath() {
  try {
    ProbeValue(*this, ProductKey(m_bWow64Registry), kInstallPathValue, kInstallPathMessages, m_strInstallPath);
  } catch (const std::bad_alloc&) {
  }
}

void CPatchExecute::ProbeDisplayIcon() {
  try {
    ProbeValue(*this, UninstallKey(m_bWow64Registry), kDisplayIconValue, kDisplayIconMessages, m_strDisplayIcon);
  } catch (const std::bad_alloc&) {
  }
}

std::wstring CPatchExecute::GetProductVersion() const { return m_strProductVersion; }
std::wstring CPatchExecute::GetInstallPath() const { return m_strInstallPath; }
std::wstring CPatchExecute::GetDisplayIcon() const { return m_strDisplayIcon; }

void CPatchExecute::SetProductVersion(const std::wstring& text) {
  if (!text.empty()) m_strProductVersion = text;
}
