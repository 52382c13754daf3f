// Why each level is handled as it is:
// - Opened with FILE_OPEN_REPARSE_POINT and judged by that handle, so a junction or symbolic link a
//   user planted is seen as itself, never walked through, and moved aside as itself. Wine opens through a
//   Unix symbolic link even so, but names a link to a folder a reparse point: the facts say a handle on
//   the target, and such a level is refused, never renamed.
// - Every open of something a standard user may have reached goes through NtCreateFile with
//   FILE_COMPLETE_IF_OPLOCKED: a file or folder someone holds an opportunistic lock on is answered at once
//   (taken as held by another, 32) instead of waiting for a break its holder need never acknowledge.
// - Levels are made by NtCreateFile with the descriptor in the same call, so no moment exists in which
//   they have another; no descriptor is ever set on anything that exists (that would be inherited into
//   whatever is below it, through a hard link into a file elsewhere).
// - Wine keeps no descriptor a program gives (it shows one made from the Unix mode, owned by its own
//   user): there a level's DACL can't be judged and is taken as ours; the rules' handling of DACLs is
//   proven on the fake machine.
// - Every level below the first, and every file in a level, is opened by its name relative to the held
//   handle of the folder it is in (OBJECT_ATTRIBUTES.RootDirectory), never by a path: a folder a user
//   turns into a mount point after we opened it can't redirect what we open, make, list or read below it.
// - Our own levels' handles stay open without delete sharing, so a checked level can't be renamed or
//   replaced while in use. The vendor's folder is held with no access a share mode is checked against
//   (attributes, descriptor, synchronize), so a user holding it open with no sharing can't keep us out;
//   what keeps it in place is its DACL, judged to let nobody else delete or rename it.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/secure_folder.h"
#include "platform/win32/file_io.h"
#include "platform/win32/long_path.h"
#include "platform/win32/new_file.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_owner.h"

namespace platform {
namespace {

using win32::DescriptorFrom;
using win32::DiscardOnClose;
using win32::kNtCreate;
using win32::kNtDirectoryFile;
using win32::kNtNonDirectoryFile;
using win32::kNtOpen;
using win32::kNtOpenForBackup;
using win32::kNtOpenReparsePoint;
using win32::kStatusInvalidOwner;
using win32::OpenWithoutWaiting;
using win32::RenameByHandle;
using win32::ToHandle;

// The descriptors of LevelKind, with and without an owner (a process that may not name Administrators
// owns what it makes). kVendor: SYSTEM and Administrators full control, Users read and execute (0x1200a9:
// read data, attributes, extended attributes, the descriptor, traverse, synchronize), inherited. kOwn:
// SYSTEM and Administrators alone, for the folder and all below it. Both protected from above.
constexpr wchar_t kVendorWithOwner[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kVendorWithoutOwner[] = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kOwnWithOwner[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kOwnWithoutOwner[] = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A level's handle: enough to judge it and list it; no delete sharing. (No DELETE access of its own: it
// would keep the system's own listing of the folder, which doesn't share delete, out.)
constexpr DWORD kLevelAccess = READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// The vendor's folder is only judged and opened below: none of these is checked against another
// opener's share mode, so nobody's open of it fails ours with a sharing violation.
constexpr DWORD kVendorLevelAccess = READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// What opens a level whose DACL shuts us out: the parent's "list" grants reading its attributes.
constexpr DWORD kLevelAccessShutOut = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// What renames a level: the parent's "delete child" grants it, whatever the level's own DACL says.
constexpr DWORD kRenameAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kLevelSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A folder's entries are fetched this many bytes at a time.
constexpr std::size_t kListingBufferBytes = 64 * 1024;
// The longest path the system has, in characters.
constexpr std::size_t kLongestPath = 32768;

PACL DaclOf(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) return nullptr;
  return dacl;
}

// The accounts besides SYSTEM and Administrators whose folders are trusted.
struct TrustedAccounts {
  win32::LocalMemory trustedInstaller;
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
    accounts.trustedInstaller = win32::LocalMemory(trustedInstaller);
  }
  accounts.processUser = win32::ProcessTokenPart(TokenUser);
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
// else the error code. Windows opens a link itself with FILE_OPEN_REPARSE_POINT, but Wine reaches the
// target of a Unix link to a file, doesn't call that a reparse point, and names the handle after the
// target. Both names are read from handles: the folder's held one and the file's. (Not
// GetFinalPathNameByHandleW: Wine's fails on paths of MAX_PATH characters or more.)
DWORD CheckOpenedAsNamed(HANDLE file, const BY_HANDLE_FILE_INFORMATION& fileInfo, HANDLE folder,
                         const std::wstring& name) {
  BY_HANDLE_FILE_INFORMATION folderInfo{};
  if (!::GetFileInformationByHandle(folder, &folderInfo)) return ::GetLastError();
  if (folderInfo.dwVolumeSerialNumber != fileInfo.dwVolumeSerialNumber) return ERROR_ACCESS_DENIED;
  std::wstring folderName;
  std::wstring fileName;
  if (const DWORD error = NameOf(folder, folderName); error != ERROR_SUCCESS) return error;
  if (const DWORD error = NameOf(file, fileName); error != ERROR_SUCCESS) return error;
  if (folderName.empty() || folderName.back() != L'\\') folderName += L'\\';  // a volume's root ends in one
  const std::wstring expected = folderName + name;
  const int order = ::CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), fileName.c_str(),
                                           static_cast<int>(fileName.size()), TRUE);
  return order == CSTR_EQUAL ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

const TrustedAccounts& Trusted() {
  static const TrustedAccounts accounts = LoadTrustedAccounts();
  return accounts;
}

struct KindDescriptors {
  win32::LocalMemory withOwner;
  win32::LocalMemory withoutOwner;
};

const KindDescriptors& DescriptorsOf(LevelKind kind) {
  static const KindDescriptors vendor{DescriptorFrom(kVendorWithOwner), DescriptorFrom(kVendorWithoutOwner)};
  static const KindDescriptors own{DescriptorFrom(kOwnWithOwner), DescriptorFrom(kOwnWithoutOwner)};
  return kind == LevelKind::kVendor ? vendor : own;
}

// What the DACL lets accounts besides the trusted ones do in the folder. Deny entries are not counted,
// so a DACL is judged by the most it could allow.
void JudgeDacl(PSECURITY_DESCRIPTOR descriptor, const TrustedAccounts& trusted, LevelFacts& facts) {
  PACL dacl = DaclOf(descriptor);
  if (dacl == nullptr) {
    // No DACL at all lets everyone do everything.
    facts.othersMayCreate = facts.othersMayRemove = true;
    return;
  }
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  for (WORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(dacl, index, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    DWORD mask = FILE_ALL_ACCESS;  // another kind of allowing entry: judged as allowing everything
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      PSID sid = &allowed->SidStart;
      // Creator Owner stands for whoever makes something below; on the folder itself it is no one.
      if (trusted.Trust(sid) || ::IsWellKnownSid(sid, WinCreatorOwnerSid)) continue;
      mask = allowed->Mask;
      ::MapGenericMask(&mask, &mapping);
    } else if (header->AceType > ACCESS_MAX_MS_V2_ACE_TYPE && header->AceType != ACCESS_ALLOWED_OBJECT_ACE_TYPE &&
               header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE &&
               header->AceType != ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
      continue;  // denying or auditing kinds
    }
    if ((mask & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY)) != 0) facts.othersMayCreate = true;
    if ((mask & (FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER)) != 0) facts.othersMayRemove = true;
  }
}

// The facts of an open level. A descriptor that can't be read leaves the owner untrusted.
void ReadFacts(HANDLE handle, const std::wstring& path, LevelKind kind, LevelFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info)) {
    facts.isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }
  // Under Wine by name as well, now that the handle pins the name: Wine reaches a Unix link's target even
  // with FILE_OPEN_REPARSE_POINT and says "reparse point" only there. (Never on Windows, where the handle
  // tells, and a path could pass through a mount point made meanwhile above.)
  if (win32::IsWine()) {
    const DWORD named = ::GetFileAttributesW(win32::ForFileApi(path).c_str());
    if (!facts.reparsePoint && named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      facts.reparsePoint = true;
      facts.heldItself = false;
    }
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR current = nullptr;
  if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &current) != ERROR_SUCCESS) {
    return;
  }
  const win32::LocalMemory held(current);
  const TrustedAccounts& trusted = Trusted();
  facts.trustedOwner = trusted.Trust(owner);
  if (win32::IsWine()) {
    facts.ourDescriptor = true;  // Wine keeps none: see the top of this file
    return;
  }
  PACL wanted = DaclOf(DescriptorsOf(kind).withOwner.Get());
  facts.ourDescriptor = wanted != nullptr && HasProtectedDacl(current, wanted);
  JudgeDacl(current, trusted, facts);
}

// Opens `name` in the folder `folder` is open on as a file (never a folder or a link; with `soleName`, one
// with no other name), on that very name. 0, or kErrorAccessDenied when it is anything else, or the error code.
DWORD OpenFileAsNamed(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG sharing, bool soleName,
                      win32::ScopedHandle& file) {
  if (const DWORD error = OpenWithoutWaiting(folder, name, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, sharing,
                                             kNtOpen, kNtNonDirectoryFile | kNtOpenReparsePoint, nullptr, file);
      error != ERROR_SUCCESS) {
    return error;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info)) return ::GetLastError();
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      (soleName && info.nNumberOfLinks != 1)) {
    return ERROR_ACCESS_DENIED;
  }
  return CheckOpenedAsNamed(file.Get(), info, folder, name);
}

// Opens `name` in the folder `folder` is open on as a regular file with no other name, owned by a trusted
// account, on that very name. 0, or kErrorAccessDenied when it is anything else, or the error code.
DWORD OpenSoleTrustedFile(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG sharing,
                          win32::ScopedHandle& file) {
  if (!IsPlainName(name)) return ERROR_ACCESS_DENIED;
  if (const DWORD error = OpenFileAsNamed(folder, name, access | READ_CONTROL, sharing, true, file);
      error != ERROR_SUCCESS) {
    return error;
  }
  return win32::CheckOwner(file.Get(), SE_FILE_OBJECT, win32::IsTrustedOwner);
}

// The root an open of `path`'s last name is relative to, and that name; no root (the whole path) when
// `parent` isn't open.
HANDLE RootOf(const LevelHandle& parent) { return parent.IsValid() ? ToHandle(parent.Get()) : nullptr; }
std::wstring NameIn(const LevelHandle& parent, const std::wstring& path) {
  return parent.IsValid() ? path.substr(path.find_last_of(L'\\') + 1) : path;
}

// The entries of the folder `folder` is open on (with list access), listed through that handle: calls
// each(name, attributes) for each but "." and ".."; stops at the first error it returns. 0 or the error.
template <typename Each>
DWORD ListThrough(HANDLE folder, Each&& each) {
  std::vector<std::uint8_t> buffer(kListingBufferBytes);
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
    if (!::GetFileInformationByHandleEx(folder, kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
      const DWORD error = ::GetLastError();
      return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
    }
    for (std::size_t offset = 0;;) {
      const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const std::wstring name(found->FileName, found->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        if (const DWORD error = each(name, found->FileAttributes); error != ERROR_SUCCESS) return error;
      }
      if (found->NextEntryOffset == 0) break;
      offset += found->NextEntryOffset;
    }
  }
}

}  // namespace

std::vector<std::uint8_t> win32::ProcessTokenPart(TOKEN_INFORMATION_CLASS which) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const ScopedHandle owned(token);
  DWORD size = 0;
  (void)::GetTokenInformation(token, which, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, which, buffer.data(), size, &size)) return {};
  return buffer;
}

win32::LocalMemory win32::DescriptorFrom(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return LocalMemory();
  }
  return LocalMemory(descriptor);
}

bool win32::IsTrustedOwner(PSID owner) { return Trusted().Trust(owner); }

DWORD win32::CheckOwner(HANDLE object, SE_OBJECT_TYPE type, bool (*trust)(PSID owner)) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read =
      ::GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor);
  const win32::LocalMemory held(descriptor);
  if (read != ERROR_SUCCESS) return read;
  return trust(owner) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

bool LevelHandleTraits::Free(std::uintptr_t level) noexcept { return ::CloseHandle(ToHandle(level)) != FALSE; }

std::uint32_t OpenLevel(const LevelHandle& parent, const std::wstring& path, LevelKind kind, LevelHandle& level,
                        LevelFacts& facts) {
  level.Close();
  facts = LevelFacts{};
  win32::ScopedHandle handle;
  const ULONG options = kNtOpenReparsePoint | kNtOpenForBackup;
  const DWORD access = kind == LevelKind::kVendor ? kVendorLevelAccess : kLevelAccess;
  const std::wstring name = NameIn(parent, path);
  DWORD error = OpenWithoutWaiting(RootOf(parent), name, access, kLevelSharing, kNtOpen, options, nullptr, handle);
  // A DACL that shuts us out still lets the parent's "delete child" rename it: opened for that alone.
  if (error == ERROR_ACCESS_DENIED) {
    error =
        OpenWithoutWaiting(RootOf(parent), name, kLevelAccessShutOut, kLevelSharing, kNtOpen, options, nullptr, handle);
  }
  if (error != ERROR_SUCCESS) return error;
  ReadFacts(handle.Get(), path, kind, facts);
  level = LevelHandle(reinterpret_cast<std::uintptr_t>(handle.Release()));
  return ERROR_SUCCESS;
}

std::uint32_t CreateLevel(const LevelHandle& parent, const std::wstring& path, LevelKind kind, LevelHandle& level) {
  level.Close();
  const KindDescriptors& descriptors = DescriptorsOf(kind);
  if (descriptors.withOwner.Get() == nullptr || descriptors.withoutOwner.Get() == nullptr) {
    return ERROR_INVALID_SECURITY_DESCR;
  }
  const DWORD access = kind == LevelKind::kVendor ? kVendorLevelAccess : kLevelAccess;
  const std::wstring name = NameIn(parent, path);
  win32::ScopedHandle handle;
  LONG status = 0;
  DWORD error = OpenWithoutWaiting(RootOf(parent), name, access, kLevelSharing, kNtCreate, kNtDirectoryFile,
                                   descriptors.withOwner.Get(), handle, &status);
  if (status == kStatusInvalidOwner) {
    error = OpenWithoutWaiting(RootOf(parent), name, access, kLevelSharing, kNtCreate, kNtDirectoryFile,
                               descriptors.withoutOwner.Get(), handle);
  }
  if (error == ERROR_FILE_EXISTS) error = ERROR_ALREADY_EXISTS;
  if (error != ERROR_SUCCESS) return error;
  level = LevelHandle(reinterpret_cast<std::uintptr_t>(handle.Release()));
  return ERROR_SUCCESS;
}

std::uint32_t RenameLevel(LevelHandle& level, const LevelHandle& parent, const std::wstring& name,
                          const std::wstring& newName) {
  if (!level.IsValid() || !parent.IsValid()) return ERROR_INVALID_HANDLE;
  if (!IsPlainName(name) || !IsPlainName(newName)) return ERROR_INVALID_NAME;
  // Our level handle shares no delete, so it is closed for the rename's own open; the name opened
  // again must be the very file or folder it was on (same volume, same file ID), else something put
  // there meanwhile would be moved, and judged by the facts of another.
  BY_HANDLE_FILE_INFORMATION was{};
  if (!::GetFileInformationByHandle(ToHandle(level.Get()), &was)) return ::GetLastError();
  level.Close();
  win32::ScopedHandle handle;
  const ULONG options = kNtOpenReparsePoint | kNtOpenForBackup;
  // With list access as well when granted and shared, so the folder moved aside can be read through
  // this handle; else for the rename alone, as before.
  DWORD error = OpenWithoutWaiting(ToHandle(parent.Get()), name, kRenameAccess | kLevelAccess, kLevelSharing, kNtOpen,
                                   options, nullptr, handle);
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    error = OpenWithoutWaiting(ToHandle(parent.Get()), name, kRenameAccess, kLevelSharing, kNtOpen, options, nullptr,
                               handle);
  }
  if (error != ERROR_SUCCESS) return error;
  BY_HANDLE_FILE_INFORMATION now{};
  if (!::GetFileInformationByHandle(handle.Get(), &now)) return ::GetLastError();
  if (!win32::SameFile(now, was)) return ERROR_ACCESS_DENIED;
  error = RenameByHandle(handle.Get(), ToHandle(parent.Get()), newName, false);
  level = LevelHandle(reinterpret_cast<std::uintptr_t>(handle.Release()));
  return error == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : error;
}

std::uint32_t ListLevel(const LevelHandle& folder, std::size_t maxEntries, std::vector<LevelEntry>& entries) {
  entries.clear();
  if (!folder.IsValid()) return ERROR_INVALID_HANDLE;
  // Listed through the held handle (no link followed, no oplock waited for, nothing reopened by path),
  // each file opened relative to it.
  const DWORD error = ListThrough(ToHandle(folder.Get()), [&](const std::wstring& name, DWORD attributes) -> DWORD {
    if (entries.size() >= maxEntries) return ERROR_MORE_DATA;
    LevelEntry entry;
    entry.name = name;
    entry.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!entry.isFolder && !entry.reparsePoint) {
      win32::ScopedHandle file;
      entry.soleTrustedFile =
          OpenSoleTrustedFile(ToHandle(folder.Get()), entry.name, 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, file) == ERROR_SUCCESS;
    }
    entries.push_back(std::move(entry));
    return ERROR_SUCCESS;
  });
  if (error != ERROR_SUCCESS) entries.clear();
  return error;
}

std::uint32_t ReadLevelFile(const LevelHandle& folder, const std::wstring& name, std::size_t maxBytes,
                            std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (!folder.IsValid()) return ERROR_INVALID_HANDLE;
  win32::ScopedHandle file;
  // Read sharing only: nobody writes it while it is copied.
  if (const DWORD error = OpenSoleTrustedFile(ToHandle(folder.Get()), name, FILE_READ_DATA, FILE_SHARE_READ, file);
      error != ERROR_SUCCESS) {
    return error;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) return ::GetLastError();
  if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return ERROR_MORE_DATA;
  // A file too large to hold is this file's failure, not the run's.
  try {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::size_t done = 0;
  if (const DWORD error = win32::ReadUpTo(file.Get(), bytes.data(), bytes.size(), done); error != ERROR_SUCCESS) {
    bytes.clear();
    return error;
  }
  bytes.resize(done);
  return ERROR_SUCCESS;
}

std::uint32_t ListRegularFiles(const SecureFolder& folder, std::vector<std::wstring>& names) {
  names.clear();
  if (!folder.IsOpen()) return ERROR_INVALID_HANDLE;
  const DWORD error = ListThrough(ToHandle(folder.Innermost()), [&names](const std::wstring& name, DWORD attributes) {
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) names.push_back(name);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  if (error != ERROR_SUCCESS) names.clear();
  return error;
}

std::uint32_t PutFileInFolder(const SecureFolder& folder, const std::wstring& name,
                              const std::vector<std::uint8_t>& bytes, bool replace) {
  if (!folder.IsOpen()) return ERROR_INVALID_HANDLE;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  return win32::PutNewFile(ToHandle(folder.Innermost()), name, bytes.data(), bytes.size(), replace);
}

std::uint32_t DeleteRegularFile(const SecureFolder& folder, const std::wstring& name) {
  if (!folder.IsOpen()) return ERROR_INVALID_HANDLE;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  // As a file only: a folder (or a link to one) doesn't open, access denied.
  win32::ScopedHandle file;
  if (const DWORD error = OpenFileAsNamed(ToHandle(folder.Innermost()), name, DELETE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false, file);
      error != ERROR_SUCCESS) {
    return error;
  }
  if (!DiscardOnClose(file.Get())) return ::GetLastError();
  return file.Close() ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace platform
