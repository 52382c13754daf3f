// Owner of a file descriptor; move-only, closed on destruction. Private to the Linux layer.
#pragma once

#include <unistd.h>

#include "platform/scoped_generic.h"

namespace platform::posix {

struct FdTraits {
  static int InvalidValue() noexcept { return -1; }
  static bool IsValid(int fd) noexcept { return fd >= 0; }
  // False when close reported an error (errno says which). Not retried on EINTR: Linux has released the
  // descriptor by then.
  static bool Free(int fd) noexcept { return ::close(fd) == 0; }
};
using ScopedFd = ScopedGeneric<int, FdTraits>;

}  // namespace platform::posix
