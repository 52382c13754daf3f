// The installed state is judged by the main executable's file version words alone; the product
// version words and the string tables of its version resource don't count.
#include "discovery/exe_version.h"

#include <cstdint>
#include <optional>
#include <string>

#include "discovery/product_keys.h"
#include "platform/files.h"

namespace {

std::wstring PartText(std::uint32_t word, bool high) {
  const auto part = static_cast<std::uint16_t>(high ? word >> 16 : word & 0xFFFFu);
  return std::to_wstring(static_cast<unsigned>(part));
}

}  // namespace

std::optional<platform::FileVersionWords> ReadMainExecutableVersion(const std::wstring& installFolder) {
  // Appended to the install folder exactly as stored: a trailing backslash there gives a doubled one.
  std::wstring path = installFolder + L"\\" + product_keys::kMainExecutable;
  if (!platform::PathExists(path)) {
    path = installFolder + L"\\" + product_keys::kMainExecutableLowerCase;
    if (!platform::PathExists(path)) return std::nullopt;
  }
  return platform::ReadFileVersionWords(path);
}

std::wstring FormatVersionText(const platform::FileVersionWords& words) {
  return PartText(words.ms, true) + L"." + PartText(words.ms, false) + L"." + PartText(words.ls, true) + L"." +
         PartText(words.ls, false);
}

std::wstring ReadMainExecutableVersionText(const std::wstring& installFolder) {
  const auto words = ReadMainExecutableVersion(installFolder);
  return words ? FormatVersionText(*words) : std::wstring();
}

std::wstring FormatRevisionText(const platform::FileVersionWords& words) { return PartText(words.ls, false); }
