// Codes on this side are errno values; their text is the C library's, in the process's locale.
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

// glibc's strerror_r returns the text (GNU flavour) unless the XSI flavour is asked for, which returns a
// status and fills the buffer; either is taken.
[[maybe_unused]] const char* TextFrom(const char* result, const char* /*buffer*/) { return result; }
[[maybe_unused]] const char* TextFrom(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

}  // namespace

std::wstring SystemErrorText(std::uint32_t code) {
  char buffer[256] = {};
  const char* text = TextFrom(::strerror_r(static_cast<int>(code), buffer, sizeof(buffer)), buffer);
  if (text == nullptr) return {};
  return posix::FromNativeName(text);
}

}  // namespace platform
