// The installed state is judged by the main executable's file version words alone; the product
// version words and the string tables of its version resource don't count.
#include "discovery/exe_version.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "app/patch_execute.h"
#include "platform/files.h"

namespace {

// Appended to the install folder exactly as stored: a trailing backslash there gives a doubled one.
constexpr wchar_t kMainExecutable[] = L"\\Vdt.exe";
constexpr wchar_t kMainExecutableLowerCase[] = L"\\vdt.exe";

std::wstring PartText(std::uint32_t word, bool high) {
  const auto part = static_cast<std::uint16_t>(high ? word >> 16 : word & 0xFFFFu);
  return std::to_wstring(static_cast<unsigned>(part));
}

}  // namespace

std::optional<platform::FileVersionWords> ReadMainExecutableVersion(const std::wstring& installFolder) {
  std::wstring path = installFolder + kMainExecutable;
  if (!platform::PathExists(path)) {
    path = installFolder + kMainExecutableLowerCase;
    if (!platform::PathExists(path)) return std::nullopt;
  }
  return platform::ReadFileVersionWords(path);
}

std::wstring FormatVersionText(const platform::FileVersionWords& words) {
  return PartText(words.ms, true) + L"." + PartText(words.ms, false) + L"." + PartText(words.ls, true) + L"." +
         PartText(words.ls, false);
}

std::wstring FormatRevisionText(const platform::FileVersionWords& words) { return PartText(words.ls, false); }

// On an allocation failure the members keep their values, as with an unreadable executable.

void CPatchExecute::ReadExeVersion() {
  try {
    const auto words = ReadMainExecutableVersion(GetInstallPath());
    if (!words) return;
    std::wstring version = FormatVersionText(*words);
    std::wstring revision = FormatRevisionText(*words);
    m_strExeVersion = std::move(version);
    m_strExeRevision = std::move(revision);
  } catch (const std::bad_alloc&) {
  }
}

void CPatchExecute::ReadExeVersionAfterInstall() {
  try {
    const auto words = ReadMainExecutableVersion(GetInstallPath());
    if (!words) return;
    m_strVersionAfterInstall = FormatVersionText(*words);
  } catch (const std::bad_alloc&) {
  }
}

std::wstring CPatchExecute::GetVersionAfterInstall() const { return m_strVersionAfterInstall; }
