// The registry view flag and the three product probes. Every outcome goes to the log only; the
// callers test what comes back. Keys are opened for the length of one operation and are
// owned by platform::RegistryKey, so no path leaves one open.
#include "discovery/registry_probes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/product_keys.h"
#include "log/run_log.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace {

using namespace product_keys;

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
void AppendFailure(std::wstring& log, const wchar_t* message, std::int32_t code) {
  AppendLogEntry(log, message);
  AppendLogEntry(log, kErrorEntryPrefix + FormatErrorCode(code));
}

enum class Missing { kNothing, kKey, kValue };

// Open, query, take the text; any failed call is logged with its code and gives nullopt. Given `missing`,
// a key or value that isn't there is only noted in it, not logged.
std::optional<std::wstring> ReadValue(std::wstring& log, const wchar_t* keyPath, const wchar_t* valueName,
                                      const wchar_t* openFailed, const wchar_t* queryFailed,
                                      Missing* missing = nullptr) {
  platform::RegistryKey key;
  if (const std::int32_t code = platform::OpenLocalMachineKey(keyPath, key); code != kSuccess) {
    if (missing != nullptr && code == kFileNotFound) {
      *missing = Missing::kKey;
    } else {
      AppendFailure(log, openFailed, code);
    }
    return std::nullopt;
  }
  const platform::RegistryValue value = platform::QueryRegistryValue(key, valueName);
  if (value.code != kSuccess) {
    if (missing != nullptr && value.code == kFileNotFound) {
      *missing = Missing::kValue;
    } else {
      AppendFailure(log, queryFailed, value.code);
    }
    return std::nullopt;
  }
  return DecodeRegistryString(value.bytes);
}

// A value that was read is reported completed when non-empty, otherwise only reported.
std::wstring ReportValue(std::wstring& log, std::wstring text, const ProbeMessages& messages) {
  AppendLogEntry(log, text.empty() ? messages.emptyValue : messages.completed);
  return text;
}

std::wstring ProbeValue(std::wstring& log, const wchar_t* keyPath, const wchar_t* valueName,
                        const ProbeMessages& messages) {
  std::optional<std::wstring> text = ReadValue(log, keyPath, valueName, messages.openFailed, messages.queryFailed);
  return text ? ReportValue(log, std::move(*text), messages) : std::wstring();
}

// "Version" missing under the Wow6432Node path: try the plain path, and switch the view for the
// rest of the run if the key is there and its value could be read.
void RunVersionFallback(std::wstring& log, const wchar_t* completedMessage, discovery::ProductVersionProbe& probe) {
  std::optional<std::wstring> text =
      ReadValue(log, kProductKeyPlain, kVersionValue, kFallbackOpenFailed, kFallbackQueryFailed);
  if (!text) return;
  probe.version = std::move(*text);
  probe.wow64Registry = false;
  AppendLogEntry(log, probe.version.empty() ? kFallbackEmptyValue : completedMessage);
  AppendLogEntry(log, kMode2Verified);
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

namespace discovery {

bool DetectRegistryView(std::wstring& log) {
  platform::RegistryKey key;
  const std::int32_t code = platform::OpenLocalMachineKey(kViewDetectionKey, key);
  if (code == kSuccess) {
    AppendLogEntry(log, kMode1Verified);
  } else if (code == kFileNotFound) {
    AppendLogEntry(log, kMode2Verified);
  } else {
    // Treated as Mode 2: the plain paths are used.
    AppendFailure(log, kViewVerificationError, code);
  }
  return code == kSuccess;
}

ProductVersionProbe ProbeProductVersion(std::wstring& log, bool wow64Registry) {
  ProductVersionProbe probe{.version = {}, .wow64Registry = wow64Registry};
  Missing missing = Missing::kNothing;
  std::optional<std::wstring> text = ReadValue(log, ProductKey(wow64Registry), kVersionValue,
                                               kVersionMessages.openFailed, kVersionMessages.queryFailed, &missing);
  if (text) {
    probe.version = ReportValue(log, std::move(*text), kVersionMessages);
    return probe;
  }
  // Missing under the plain path: validation alone reports that the product isn't installed.
  if (missing == Missing::kNothing || !wow64Registry) return probe;
  RunVersionFallback(log, missing == Missing::kKey ? kFallbackCompletedKeyMissing : kFallbackCompletedValueMissing,
                     probe);
  return probe;
}

std::wstring ProbeInstallPath(std::wstring& log, bool wow64Registry) {
  return ProbeValue(log, ProductKey(wow64Registry), kInstallPathValue, kInstallPathMessages);
}

std::wstring ProbeDisplayIcon(std::wstring& log, bool wow64Registry) {
  return ProbeValue(log, UninstallKey(wow64Registry), kDisplayIconValue, kDisplayIconMessages);
}

std::wstring RegisteredInstallFolder() {
  for (const wchar_t* keyPath : {kProductKeyWow64, kProductKeyPlain}) {
    platform::RegistryKey key;
    if (platform::OpenLocalMachineKey(keyPath, key) != kSuccess) continue;
    const platform::RegistryValue value = platform::QueryRegistryValue(key, kInstallPathValue);
    if (value.code == kSuccess) return DecodeRegistryString(value.bytes);
  }
  return {};
}

}  // namespace discovery
