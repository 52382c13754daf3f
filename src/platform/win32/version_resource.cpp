#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/version_resource.h"

namespace platform {

std::optional<FileVersionWords> ReadFileVersionWords(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;

  std::vector<std::uint8_t> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;

  void* fixed = nullptr;
  UINT fixedBytes = 0;
  if (!::VerQueryValueW(block.data(), L"\\", &fixed, &fixedBytes) || fixed == nullptr ||
      fixedBytes < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  VS_FIXEDFILEINFO info{};
  std::memcpy(&info, fixed, sizeof(info));
  if (info.dwSignature != VS_FFI_SIGNATURE) return std::nullopt;  // not a fixed-info record at all
  return FileVersionWords{info.dwFileVersionMS, info.dwFileVersionLS};
}

}  // namespace platform
