// The run lock is a named mutex in the Global namespace, so that runs in every session (SYSTEM in
// session 0, an administrator's psexec elsewhere) meet on it. The system releases a mutex whose owner
// ended (the next wait returns WAIT_ABANDONED, which is a free lock), and only SYSTEM and
// Administrators may open the one we make. A standard user can make the name first: that object is
// known by its owner (a standard user can only give what they make their own account), read through
// the handle we got, and is never waited for.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/run_lock.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_owner.h"

namespace platform {
namespace {

constexpr wchar_t kLockName[] = L"Global\\Veldorant.PatchUpdateResult.Run";
// SYSTEM and Administrators full access, nobody else; protected, so nothing is inherited.
constexpr wchar_t kLockDescriptor[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Whether `owner` is SYSTEM, Administrators, the account this process runs as, or the owner it gives
// what it makes (Administrators for an elevated administrator; under Wine a group of its own).
bool TrustedOwner(PSID owner) {
  if (owner == nullptr || !::IsValidSid(owner)) return false;
  if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  const auto user = win32::ProcessTokenPart(TokenUser);
  if (!user.empty() && ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) return true;
  const auto defaultOwner = win32::ProcessTokenPart(TokenOwner);
  return !defaultOwner.empty() &&
         ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner) != FALSE;
}

}  // namespace

bool RunLockTraits::Free(std::uintptr_t lock) noexcept {
  HANDLE mutex = win32::ToHandle(lock);
  ::ReleaseMutex(mutex);
  return ::CloseHandle(mutex) != FALSE;
}

RunLockAttempt TakeRunLock(RunLock& lock) {
  const win32::LocalMemory descriptor = win32::DescriptorFrom(kLockDescriptor);
  if (descriptor.Get() == nullptr) return {RunLockState::kFailed, ::GetLastError()};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
  HANDLE created = ::CreateMutexW(&attributes, FALSE, kLockName);
  const DWORD error = ::GetLastError();
  // A name whose object denies us the access we ask for was made by someone else.
  if (created == nullptr) return {error == ERROR_ACCESS_DENIED ? RunLockState::kForeign : RunLockState::kFailed, error};
  win32::ScopedHandle mutex(created);
  if (error == ERROR_ALREADY_EXISTS &&
      win32::CheckOwner(mutex.Get(), SE_KERNEL_OBJECT, TrustedOwner) != ERROR_SUCCESS) {
    return {RunLockState::kForeign, 0};
  }
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
