#include "companion/registry_record.h"

#include <algorithm>

#include "discovery/registry_probes.h"
#include "platform/registry.h"
#include "result/outcome.h"

namespace {

constexpr std::size_t kMaxKeyNameChars = 255;
constexpr wchar_t kRunStartedValue[] = L"RunStarted";

std::int32_t WriteValues(const std::wstring& path, const result::OutcomeRecord& record, bool restartPending) {
  platform::RegistryKey key;
  if (const std::int32_t error = platform::CreateLocalMachineKey(path, key); error != 0) return error;
  const std::pair<const wchar_t*, const std::wstring*> texts[] = {
      {L"Outcome", nullptr},
      {L"Reason", &record.reason},
      {L"Time", &record.time},
      {L"Patch", &record.patch},
      {L"PatchVersion", &record.patchVersion},
      {L"VersionBefore", &record.versionBefore},
      {L"VersionAfter", &record.versionAfter},
  };
  const std::wstring outcome(result::OutcomeName(record.outcome));
  for (const auto& [name, text] : texts) {
    if (const std::int32_t error = platform::SetRegistryString(key, name, text != nullptr ? *text : outcome);
        error != 0) {
      return error;
    }
  }
  if (const std::int32_t error = platform::SetRegistryDword(key, kExitCodeValue, record.code); error != 0) return error;
  return platform::SetRegistryDword(key, L"RestartPending", restartPending ? 1 : 0);
}

}  // namespace

std::wstring PatchKeyName(const std::wstring& patch) {
  std::wstring name = patch.substr(0, kMaxKeyNameChars);
  std::replace(name.begin(), name.end(), L'\\', L'_');
  return name;
}

RecordWrite WriteRegistryRecord(const result::OutcomeRecord& record, bool restartPending) {
  if (const std::int32_t error = WriteValues(kRecordKey, record, restartPending); error != 0)
    return {error, kRecordKey};
  if (record.patch.empty()) return {};
  const std::wstring patchKey = std::wstring(kRecordPatchesKey) + L"\\" + PatchKeyName(record.patch);
  if (const std::int32_t error = WriteValues(patchKey, record, restartPending); error != 0) return {error, patchKey};
  return {};
}

void WriteRunStarted(const std::wstring& time) {
  platform::RegistryKey key;
  if (platform::CreateLocalMachineKey(kRecordKey, key) == 0)
    (void)platform::SetRegistryString(key, kRunStartedValue, time);
}

std::wstring ReadRunStarted() {
  platform::RegistryKey key;
  if (platform::OpenLocalMachineKey(kRecordKey, key) != 0) return {};
  const platform::RegistryValue value = platform::QueryRegistryValue(key, kRunStartedValue);
  return value.code == 0 ? DecodeRegistryString(value.bytes) : std::wstring();
}
