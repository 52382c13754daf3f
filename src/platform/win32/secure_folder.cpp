// Why each level is handled as it is:
// - Opened with FILE_FLAG_OPEN_REPARSE_POINT and judged by that handle, so a junction or symbolic link a
//   user planted is seen as itself, never walked through. Wine opens through a Unix symbolic link even
//   so, but names a link to a folder a reparse point: a level is refused when its name says so, too.
// - Owner SYSTEM, Administrators, TrustedInstaller, or our own account (a level we made without the
//   right to name Administrators). A standard user's folder is never trusted, whatever its DACL says.
// - A trusted level gets the protected DACL only when its own differs: setting one makes the system
//   re-apply inheritance to everything below it, which needs doing once, not on every run. A failure to
//   set it refuses the level. (Wine reports success but keeps nothing: it shows a descriptor made from
//   the Unix mode, owned by its own user, so under Wine the DACL is set on every open.)
// - The handles stay open without delete sharing, so a checked level can't be renamed or replaced while
//   in use. That is also why a level's final path is not compared with the one asked for: with every
//   level held and none a reparse point it could only add false refusals (short names, mounts).
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "platform/secure_folder.h"
#include "platform/win32/file_io.h"
#include "platform/win32/folder_enumeration.h"
#include "platform/win32/long_path.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

// Owner Administrators; SYSTEM and Administrators full control, Users read and execute (0x1200a9: read
// data, attributes, extended attributes, the descriptor, traverse, synchronize), for the folder, its
// subfolders and files; protected, so nothing is inherited from above.
constexpr wchar_t kDescriptorWithOwner[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// The same without an owner, for a process that may not name Administrators: the creator then owns it.
constexpr wchar_t kDescriptorWithoutOwner[] = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A level's handle: enough to check it, set its DACL and list it; no delete sharing.
constexpr DWORD kLevelAccess = READ_CONTROL | WRITE_DAC | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kLevelSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Tries at a fresh temporary name before giving up.
constexpr unsigned kTemporaryNameAttempts = 100;
// The longest path the system has, in characters.
constexpr std::size_t kLongestPath = 32768;

// Memory the security functions hand out with LocalAlloc. Move-only, freed on destruction.
class LocalMemory {
 public:
  LocalMemory() noexcept = default;
  explicit LocalMemory(void* memory) noexcept : memory_(memory) {}
  ~LocalMemory() {
    if (memory_ != nullptr) ::LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  LocalMemory(LocalMemory&& other) noexcept : memory_(std::exchange(other.memory_, nullptr)) {}
  LocalMemory& operator=(LocalMemory&& other) noexcept {
    if (this != &other) {
      if (memory_ != nullptr) ::LocalFree(memory_);
      memory_ = std::exchange(other.memory_, nullptr);
    }
    return *this;
  }

  void* Get() const noexcept { return memory_; }

 private:
  void* memory_ = nullptr;
};

// A security descriptor from SDDL; Get() is nullptr when it couldn't be built (GetLastError says why).
LocalMemory DescriptorFrom(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return LocalMemory();
  }
  return LocalMemory(descriptor);
}

PACL DaclOf(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) return nullptr;
  return dacl;
}

// The accounts besides SYSTEM and Administrators whose folders are trusted.
struct TrustedAccounts {
  LocalMemory trustedInstaller;
  std::vector<std::uint8_t> processUser;  // a TOKEN_USER; empty when the token won't say

  bool Trust(PSID owner) const {
    if (owner == nullptr || !::IsValidSid(owner)) return false;
    if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
    if (trustedInstaller.Get() != nullptr && ::EqualSid(owner, trustedInstaller.Get())) return true;
    if (processUser.empty()) return false;
    return ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(processUser.data())->User.Sid) != FALSE;
  }
};

TrustedAccounts LoadTrustedAccounts() {
  TrustedAccounts accounts;
  PSID trustedInstaller = nullptr;
  if (::ConvertStringSidToSidW(kTrustedInstallerSid, &trustedInstaller)) {
    accounts.trustedInstaller = LocalMemory(trustedInstaller);
  }
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return accounts;
  const win32::ScopedHandle tokenOwner(token);
  DWORD size = 0;
  (void)::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return accounts;
  std::vector<std::uint8_t> user(size);
  if (::GetTokenInformation(token, TokenUser, user.data(), size, &size)) accounts.processUser = std::move(user);
  return accounts;
}

// Whether `current` is protected and holds exactly the ACEs of `wanted`, in order.
bool HasProtectedDacl(PSECURITY_DESCRIPTOR current, PACL wanted) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(current, &control, &revision) || (control & SE_DACL_PROTECTED) == 0) {
    return false;
  }
  PACL dacl = DaclOf(current);
  if (dacl == nullptr || dacl->AceCount != wanted->AceCount) return false;
  for (WORD index = 0; index < wanted->AceCount; ++index) {
    void* have = nullptr;
    void* want = nullptr;
    if (!::GetAce(dacl, index, &have) || !::GetAce(wanted, index, &want)) return false;
    const WORD size = static_cast<const ACE_HEADER*>(want)->AceSize;
    if (static_cast<const ACE_HEADER*>(have)->AceSize != size || std::memcmp(have, want, size) != 0) return false;
  }
  return true;
}

// A name that stays one entry of the folder it is used in: no separator, stream, "." or "..", and no
// trailing dot or blank that the system would strip from some paths and not from others.
bool IsPlainName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  if (name.back() == L'.' || name.back() == L' ') return false;
  return std::none_of(name.begin(), name.end(),
                      [](wchar_t c) { return c < L' ' || c == L'\\' || c == L'/' || c == L':'; });
}

// Creates the level with the protected descriptor. 0 when made, ERROR_ALREADY_EXISTS when something is
// there already, else the error code.
DWORD CreateLevel(const std::wstring& path, PSECURITY_DESCRIPTOR withOwner, PSECURITY_DESCRIPTOR withoutOwner) {
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), withOwner, FALSE};
  if (::CreateDirectoryW(path.c_str(), &security)) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  if (error != ERROR_INVALID_OWNER) return error;
  security.lpSecurityDescriptor = withoutOwner;
  return ::CreateDirectoryW(path.c_str(), &security) ? ERROR_SUCCESS : ::GetLastError();
}

struct LevelCheck {
  FolderRefusal refusal = FolderRefusal::kNone;
  DWORD error = ERROR_SUCCESS;
};

LevelCheck Refused(FolderRefusal refusal, DWORD error = ERROR_SUCCESS) { return LevelCheck{refusal, error}; }

// Opens an existing level without following a reparse point and checks it by that handle; secures it
// when trusted. `level` holds the handle afterwards, also when refused.
LevelCheck OpenLevel(const std::wstring& path, const TrustedAccounts& trusted, PACL dacl, bool own,
                     win32::ScopedHandle& level) {
  level = win32::ScopedHandle(::CreateFileW(path.c_str(), kLevelAccess, kLevelSharing, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!level.IsValid()) return Refused(FolderRefusal::kFailed, ::GetLastError());

  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(level.Get(), &info)) return Refused(FolderRefusal::kFailed, ::GetLastError());
  // By name as well, now that the handle pins the name: Wine reaches a Unix link's target even with
  // FILE_FLAG_OPEN_REPARSE_POINT and says "reparse point" only there.
  const DWORD named = ::GetFileAttributesW(path.c_str());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    return Refused(FolderRefusal::kReparsePoint);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Refused(FolderRefusal::kNotAFolder);

  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR current = nullptr;
  const DWORD read = ::GetSecurityInfo(level.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, nullptr, nullptr, &current);
  if (read != ERROR_SUCCESS) return Refused(FolderRefusal::kFailed, read);
  const LocalMemory currentDescriptor(current);
  if (!trusted.Trust(owner)) return Refused(FolderRefusal::kUntrustedOwner);
  if (!own || HasProtectedDacl(current, dacl)) return {};

  const DWORD set = ::SetSecurityInfo(level.Get(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, dacl, nullptr);
  if (set != ERROR_SUCCESS) return Refused(FolderRefusal::kFailed, set);
  return {};
}

// A fresh name for a temporary file in `folder` (already in the file functions' form).
std::wstring TemporaryName(const std::wstring& folder, const std::wstring& name, unsigned attempt) {
  return folder + L"\\~" + name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(::GetTickCount64() % 1000000) + L"." + std::to_wstring(attempt) + L".tmp";
}

// The path of what a handle is open on, below its volume, into `path`. Returns 0 or the error code.
DWORD NameOf(HANDLE handle, std::wstring& path) {
  std::vector<std::uint8_t> buffer(sizeof(FILE_NAME_INFO) + kLongestPath * sizeof(wchar_t));
  if (!::GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    return ::GetLastError();
  }
  const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
  path.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
  return ERROR_SUCCESS;
}

// 0 when `file` is open on folder\name itself, ERROR_ACCESS_DENIED when on what a link there points to,
// else the error code. Windows opens a link itself with FILE_FLAG_OPEN_REPARSE_POINT, but Wine reaches
// the target of a Unix link to a file, doesn't call that a reparse point, and names the handle after
// the target. The folder is pinned by the caller's handles, so its path opened again is the same folder,
// and both names are spelled from the same path. (Not GetFinalPathNameByHandleW: Wine's fails on
// paths of MAX_PATH characters or more.)
DWORD CheckOpenedAsNamed(HANDLE file, const BY_HANDLE_FILE_INFORMATION& fileInfo, const std::wstring& folder,
                         const std::wstring& name) {
  const win32::ScopedHandle again(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kLevelSharing | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!again.IsValid()) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION folderInfo{};
  if (!::GetFileInformationByHandle(again.Get(), &folderInfo)) return ::GetLastError();
  if (folderInfo.dwVolumeSerialNumber != fileInfo.dwVolumeSerialNumber) return ERROR_ACCESS_DENIED;
  std::wstring folderName;
  std::wstring fileName;
  if (const DWORD error = NameOf(again.Get(), folderName); error != ERROR_SUCCESS) return error;
  if (const DWORD error = NameOf(file, fileName); error != ERROR_SUCCESS) return error;
  if (folderName.empty() || folderName.back() != L'\\') folderName += L'\\';  // a volume's root ends in one
  const std::wstring expected = folderName + name;
  const int order = ::CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), fileName.c_str(),
                                           static_cast<int>(fileName.size()), TRUE);
  return order == CSTR_EQUAL ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Marks an open file for deletion when its handle closes; false when the system refused.
bool DiscardOnClose(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

SecureFolderResult OpenLevels(const std::wstring& base, const std::vector<std::wstring>& levels,
                              std::size_t firstOwnLevel, SecureFolder& folder) {
  SecureFolderResult result;
  std::wstring path = base;
  const auto refuse = [&](FolderRefusal refusal, DWORD error) {
    result.refusal = refusal;
    result.level = path;
    result.error = refusal == FolderRefusal::kFailed ? error : 0;
    return result;
  };

  const LocalMemory withOwner = DescriptorFrom(kDescriptorWithOwner);
  const LocalMemory withoutOwner = DescriptorFrom(kDescriptorWithoutOwner);
  if (withOwner.Get() == nullptr || withoutOwner.Get() == nullptr) return refuse(FolderRefusal::kFailed, ::GetLastError());
  PACL dacl = DaclOf(withOwner.Get());
  if (dacl == nullptr) return refuse(FolderRefusal::kFailed, ERROR_INVALID_SECURITY_DESCR);
  const TrustedAccounts trusted = LoadTrustedAccounts();

  std::vector<win32::ScopedHandle> held;
  held.reserve(levels.size());
  for (const std::wstring& name : levels) {
    path += L"\\";
    path += name;
    if (!IsPlainName(name)) return refuse(FolderRefusal::kFailed, ERROR_INVALID_NAME);
    const std::wstring target = win32::ForFileApi(path);
    const DWORD created = CreateLevel(target, withOwner.Get(), withoutOwner.Get());
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) return refuse(FolderRefusal::kFailed, created);
    win32::ScopedHandle level;
    // A level made just now has its descriptor already; whether it was ours to make doesn't matter.
    const bool own = held.size() >= firstOwnLevel || created == ERROR_SUCCESS;
    const LevelCheck check = OpenLevel(target, trusted, dacl, own, level);
    if (check.refusal != FolderRefusal::kNone) return refuse(check.refusal, check.error);
    held.push_back(std::move(level));
  }

  std::vector<std::uintptr_t> handles;
  handles.reserve(held.size());  // before any handle leaves its owner
  std::transform(held.begin(), held.end(), std::back_inserter(handles),
                 [](win32::ScopedHandle& level) { return reinterpret_cast<std::uintptr_t>(level.Release()); });
  folder = SecureFolder(std::move(path), std::move(handles));
  return result;
}

}  // namespace

void SecureFolder::Close() noexcept {
  while (!handles_.empty()) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handles_.back()));  // NOLINT(performance-no-int-to-ptr)
    handles_.pop_back();
  }
  path_.clear();
}

SecureFolderResult OpenSecureFolder(const std::wstring& base, const std::vector<std::wstring>& levels,
                                    std::size_t firstOwnLevel, SecureFolder& folder) {
  folder.Close();
  try {
    return OpenLevels(base, levels, firstOwnLevel, folder);
  } catch (const std::bad_alloc&) {
    SecureFolderResult result;
    result.refusal = FolderRefusal::kFailed;
    result.level = base;
    result.error = ERROR_NOT_ENOUGH_MEMORY;
    return result;
  }
}

std::uint32_t ListRegularFiles(const SecureFolder& folder, std::vector<std::wstring>& names) {
  names.clear();
  if (!folder.IsOpen()) return ERROR_INVALID_HANDLE;
  try {
    const DWORD error = win32::ForEachEntry(folder.Path(), [&names](const WIN32_FIND_DATAW& entry) {
      if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
        names.emplace_back(entry.cFileName);
      }
    });
    if (error != ERROR_SUCCESS) names.clear();
    return error;
  } catch (const std::bad_alloc&) {
    names.clear();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::uint32_t ListForeignFiles(const SecureFolder& folder, std::vector<std::wstring>& names) {
  names.clear();
  std::vector<std::wstring> all;
  if (const std::uint32_t error = ListRegularFiles(folder, all); error != ERROR_SUCCESS) return error;
  try {
    const TrustedAccounts trusted = LoadTrustedAccounts();
    for (const std::wstring& name : all) {
      const std::wstring path = win32::ForFileApi(folder.Path() + L"\\" + name);
      const win32::ScopedHandle file(::CreateFileW(path.c_str(), READ_CONTROL,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (!file.IsValid()) {
        // A file in our own folder that won't even show us its owner was made to keep us out.
        if (::GetLastError() == ERROR_ACCESS_DENIED) names.push_back(name);
        continue;
      }
      PSID owner = nullptr;
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      const DWORD read = ::GetSecurityInfo(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                           nullptr, nullptr, &descriptor);
      const LocalMemory held(descriptor);
      if (read != ERROR_SUCCESS || !trusted.Trust(owner)) names.push_back(name);
    }
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    names.clear();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::uint32_t PutFileInFolder(const SecureFolder& folder, const std::wstring& name,
                              const std::vector<std::uint8_t>& bytes, bool replace) {
  if (!folder.IsOpen()) return ERROR_INVALID_HANDLE;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  try {
    const std::wstring inFolder = win32::ForFileApi(folder.Path());
    const std::wstring target = inFolder + L"\\" + name;
    // Created new, so never a link someone left there; the name is ours alone until moved.
    std::wstring temporary;
    win32::ScopedHandle file;
    for (unsigned attempt = 0;; ++attempt) {
      temporary = TemporaryName(inFolder, name, attempt);
      file = win32::ScopedHandle(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (file.IsValid()) break;
      const DWORD error = ::GetLastError();
      if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt + 1 >= kTemporaryNameAttempts) {
        return error;
      }
    }

    DWORD error = win32::WriteAll(file.Get(), bytes.data(), bytes.size());
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file.Get())) error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
      if (!DiscardOnClose(file.Get())) {
        file.Close();
        ::DeleteFileW(temporary.c_str());
      }
      return error;
    }
    if (!file.Close()) {
      error = ::GetLastError();
      ::DeleteFileW(temporary.c_str());
      return error;
    }
    // A link standing at `name` is replaced as an entry, never followed.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
      error = ::GetLastError();
      ::DeleteFileW(temporary.c_str());
      // The rename reports a name taken as "already exists" (183); callers know it as "file exists".
      return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
    }
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::uint32_t DeleteRegularFile(const SecureFolder& folder, const std::wstring& name) {
  if (!folder.IsOpen()) return ERROR_INVALID_HANDLE;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  try {
    const std::wstring folderPath = win32::ForFileApi(folder.Path());
    const std::wstring path = folderPath + L"\\" + name;
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder (or a link to one) doesn't open: access denied.
    win32::ScopedHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid()) return ::GetLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.Get(), &info)) return ::GetLastError();
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      return ERROR_ACCESS_DENIED;
    }
    if (const DWORD error = CheckOpenedAsNamed(file.Get(), info, folderPath, name); error != ERROR_SUCCESS) {
      return error;
    }
    if (!DiscardOnClose(file.Get())) return ::GetLastError();
    return file.Close() ? ERROR_SUCCESS : ::GetLastError();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace platform
