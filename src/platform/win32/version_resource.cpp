#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/version_resource.h"
#include "platform/win32/long_path.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

// VERSION.dll is not among the DLLs Windows always takes from System32, so it is loaded from there by
// hand, on the first version read. Without it or any of its three functions there is no version
// information, as for a file without a resource.
struct VersionApi {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

  win32::ScopedModule module = win32::LoadFromSystem32(L"version.dll");
  SizeFn infoSize = win32::FunctionOf<SizeFn>(module, "GetFileVersionInfoSizeW");
  InfoFn info = win32::FunctionOf<InfoFn>(module, "GetFileVersionInfoW");
  QueryFn query = win32::FunctionOf<QueryFn>(module, "VerQueryValueW");

  bool Usable() const { return infoSize != nullptr && info != nullptr && query != nullptr; }
};

const VersionApi& Version() {
  static const VersionApi api;
  return api;
}

}  // namespace

std::optional<FileVersionWords> ReadFileVersionWords(const std::wstring& fullPath) {
  const VersionApi& api = Version();
  if (!api.Usable()) return std::nullopt;
  const std::wstring path = win32::ShortEnough(fullPath);  // the resource loader stops at MAX_PATH
  DWORD ignored = 0;
  const DWORD size = api.infoSize(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;

  std::vector<std::uint8_t> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!api.info(path.c_str(), 0, size, block.data())) return std::nullopt;

  void* fixed = nullptr;
  UINT fixedBytes = 0;
  if (!api.query(block.data(), L"\\", &fixed, &fixedBytes) || fixed == nullptr ||
      fixedBytes < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  VS_FIXEDFILEINFO info{};
  std::memcpy(&info, fixed, sizeof(info));
  if (info.dwSignature != VS_FFI_SIGNATURE) return std::nullopt;  // not a fixed-info record at all
  return FileVersionWords{info.dwFileVersionMS, info.dwFileVersionLS};
}

}  // namespace platform
