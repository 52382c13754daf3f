// The run lock is a named mutex in the Global namespace, so that runs in every session (SYSTEM in
// session 0, an administrator's psexec elsewhere) meet on it. The system releases a mutex whose owner
// ended (the next wait returns WAIT_ABANDONED, which is a free lock), and only SYSTEM and
// Administrators may open the one we make. A standard user can make the name first: that object is
// known by its owner (a standard user can only give what they make their own account), read through
// the handle we got, and is never waited for.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <vector>

#include "platform/run_lock.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

constexpr wchar_t kLockName[] = L"Global\\Veldorant.PatchUpdateResult.Run";
// SYSTEM and Administrators full access, nobody else; protected, so nothing is inherited.
constexpr wchar_t kLockDescriptor[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// One SID of this process's token (TokenUser or TokenOwner); empty when the token won't say.
std::vector<std::uint8_t> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS which) {
  DWORD size = 0;
  (void)::GetTokenInformation(token, which, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, which, buffer.data(), size, &size)) return {};
  return buffer;
}

// Whether `owner` is SYSTEM, Administrators, the account this process runs as, or the owner it gives
// what it makes (Administrators for an elevated administrator; under Wine a group of its own).
bool TrustedOwner(PSID owner) {
  if (owner == nullptr || !::IsValidSid(owner)) return false;
  if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const win32::ScopedHandle tokenOwner(token);
  const auto user = TokenSid(token, TokenUser);
  if (!user.empty() && ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) return true;
  const auto defaultOwner = TokenSid(token, TokenOwner);
  return !defaultOwner.empty() &&
         ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner) != FALSE;
}

// Whether the existing object behind `mutex` was made by an account we trust.
bool MadeByTrustedAccount(HANDLE mutex) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = ::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                       nullptr, &descriptor);
  const win32::LocalMemory held(descriptor);
  return read == ERROR_SUCCESS && TrustedOwner(owner);
}

}  // namespace

bool RunLockTraits::Free(std::uintptr_t lock) noexcept {
  const auto mutex = reinterpret_cast<HANDLE>(lock);  // NOLINT(performance-no-int-to-ptr)
  ::ReleaseMutex(mutex);
  return ::CloseHandle(mutex) != FALSE;
}

RunLockAttempt TakeRunLock(RunLock& lock) {
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockDescriptor, SDDL_REVISION_1, &made, nullptr)) {
    return {RunLockState::kFailed, ::GetLastError()};
  }
  const win32::LocalMemory descriptor(made);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
  HANDLE created = ::CreateMutexW(&attributes, FALSE, kLockName);
  const DWORD error = ::GetLastError();
  // A name whose object denies us the access we ask for was made by someone else.
  if (created == nullptr) return {error == ERROR_ACCESS_DENIED ? RunLockState::kForeign : RunLockState::kFailed, error};
  win32::ScopedHandle mutex(created);
  if (error == ERROR_ALREADY_EXISTS && !MadeByTrustedAccount(mutex.Get())) return {RunLockState::kForeign, 0};
  switch (::WaitForSingleObject(mutex.Get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // the run that held it died: the lock is ours
      lock = RunLock(reinterpret_cast<std::uintptr_t>(mutex.Release()));
      return {RunLockState::kTaken, 0};
    case WAIT_TIMEOUT: return {RunLockState::kHeld, 0};
    default: return {RunLockState::kFailed, ::GetLastError()};
  }
}

}  // namespace platform
