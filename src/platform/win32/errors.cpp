#include <windows.h>

#include <vector>

#include "platform/errors.h"

namespace platform {

std::wstring SystemErrorText(std::uint32_t code) {
  // Messages are short; the system caps them at 64 KiB, so the buffer grows at most to that.
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  std::vector<wchar_t> buffer(512);
  for (;;) {
    const DWORD length =
        ::FormatMessageW(kFlags, nullptr, code, 0, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    if (length != 0) {
      std::wstring text(buffer.data(), length);
      const auto end = text.find_last_not_of(L"\r\n \t");
      text.erase(end == std::wstring::npos ? 0 : end + 1);
      return text;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
