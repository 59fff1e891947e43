// Private folders and security descriptors on advapi32.
#include <windows.h>
// windows.h first
#include <aclapi.h>
#include <sddl.h>

#include <random>

#include "lib/system.h"
#include "platform/security.h"
#include "platform/system_info.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

using win32::LongPath;
using win32::W;

// Full access for the Administrators group and the system account, nothing
// inherited; with or without the Administrators group as owner.
const wchar_t kOwnedDescriptor[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
const wchar_t kDescriptor[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

String RandomHex(int digits) {
  std::random_device random;
  static const char16_t kHex[] = u"0123456789ABCDEF";
  String text;
  while (static_cast<int>(text.size()) < digits) {
    uint32_t value = random();
    for (int i = 0; i < 8 && static_cast<int>(text.size()) < digits; ++i, value >>= 4)
      text.push_back(kHex[value & 0xF]);
  }
  return text;
}

String SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return String();
  String result = win32::S(text);
  LocalFree(text);
  return result;
}

bool ReadDescriptor(PSECURITY_DESCRIPTOR descriptor, PSID owner, PACL acl, TSecurityInfo& info) {
  info = TSecurityInfo();
  info.owner = SidText(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision))
    info.protectedAcl = (control & SE_DACL_PROTECTED) != 0;
  if (!acl) {
    // No list at all: everybody may do everything.
    info.entries.push_back({u"S-1-1-0", true, GENERIC_ALL});
    return true;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      info.entries.push_back({SidText(&allowed->SidStart), true, allowed->Mask});
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
      info.entries.push_back({SidText(&denied->SidStart), false, denied->Mask});
    }
  }
  return true;
}

bool ReadHandleSecurity(HANDLE handle, TSecurityInfo& info,
                        SE_OBJECT_TYPE type = SE_FILE_OBJECT) {
  PSID owner = nullptr;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error =
      GetSecurityInfo(handle, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &acl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  const bool ok = ReadDescriptor(descriptor, owner, acl, info);
  LocalFree(descriptor);
  return ok;
}

// The folder opened is the one made here: nobody but the two accounts may
// write it, and when it was made with an owner, that owner.
bool IsPrivate(HANDLE folder, bool owned) {
  TSecurityInfo info;
  if (!ReadHandleSecurity(folder, info)) return false;
  if (owned && info.owner != kSidAdministrators) return false;
  for (const String& sid : AccountsWithWriteAccess(info))
    if (sid != kSidAdministrators && sid != kSidLocalSystem) return false;
  return info.protectedAcl;
}

void ApplyDescriptor(HANDLE folder, bool owned) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          owned ? kOwnedDescriptor : kDescriptor, SDDL_REVISION_1, &descriptor, nullptr))
    return;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  PSID owner = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
  if (owned && owner) what |= OWNER_SECURITY_INFORMATION;
  SetSecurityInfo(folder, SE_FILE_OBJECT, what, owned ? owner : nullptr, nullptr, acl, nullptr);
  LocalFree(descriptor);
}

class TWin32PrivateFolder : public TPrivateFolder {
 public:
  TWin32PrivateFolder(String path, HANDLE handle) : handle_(handle) { path_ = std::move(path); }
  ~TWin32PrivateFolder() override { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

// The run lock: the mutex, held while the object lives.
class TWin32RunLock : public TRunLock {
 public:
  TWin32RunLock(HANDLE mutex, bool guarded) : mutex_(mutex) { guarded_ = guarded; }
  ~TWin32RunLock() override {
    if (!mutex_) return;
    if (guarded_) ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }

 private:
  HANDLE mutex_;
};

// The Administrators group for the owner and the access list, both
// accounts full access; nothing else may open it.
const wchar_t kRunLockDescriptor[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

}  // namespace

std::unique_ptr<TRunLock> AcquireRunLock(const String& name, uint32_t waitMs) {
  const std::wstring fullName = std::wstring(L"Global\\") + W(name);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunLockDescriptor, SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  HANDLE mutex = CreateMutexW(descriptor ? &attributes : nullptr, FALSE, fullName.c_str());
  DWORD error = GetLastError();
  if (!mutex && error == ERROR_INVALID_OWNER && descriptor) {
    // Not allowed to hand it to the Administrators group: the access list alone.
    LocalFree(descriptor);
    descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;BA)(A;;GA;;;SY)",
                                                         SDDL_REVISION_1, &descriptor, nullptr);
    attributes.lpSecurityDescriptor = descriptor;
    mutex = CreateMutexW(descriptor ? &attributes : nullptr, FALSE, fullName.c_str());
    error = GetLastError();
  }
  if (descriptor) LocalFree(descriptor);
  // Made by somebody who keeps us out of it: it does not count.
  if (!mutex) return std::make_unique<TWin32RunLock>(nullptr, false);
  if (error == ERROR_ALREADY_EXISTS) {
    // Only an object that an administrator (an installer) made counts; one
    // that a standard user made first would lock administrators out.
    TSecurityInfo info;
    const bool read = ReadHandleSecurity(mutex, info, SE_KERNEL_OBJECT);
    if (!read || (info.owner != kSidAdministrators && info.owner != kSidLocalSystem &&
                  !RunningUnderWine())) {
      CloseHandle(mutex);
      return std::make_unique<TWin32RunLock>(nullptr, false);
    }
  }
  const DWORD result = WaitForSingleObject(mutex, waitMs);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
    return std::make_unique<TWin32RunLock>(mutex, true);
  CloseHandle(mutex);
  return nullptr;
}

std::unique_ptr<TPrivateFolder> CreatePrivateFolder(const String& parent, const String& prefix) {
  bool owned = true;
  for (int attempt = 0; attempt < 32; ++attempt) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            owned ? kOwnedDescriptor : kDescriptor, SDDL_REVISION_1, &descriptor, nullptr))
      return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const String path = IncludeTrailingBackslash(parent) + prefix + RandomHex(16);
    const BOOL created = CreateDirectoryW(W(LongPath(path)), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!created) {
      // A process that may not hand the folder to the Administrators group
      // (not elevated) still gets the access list.
      if (error == ERROR_INVALID_OWNER && owned) {
        owned = false;
        continue;
      }
      if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) continue;
      SetLastError(error);
      return nullptr;
    }
    // Held open from here on; no delete sharing, and a link is not followed.
    HANDLE handle = CreateFileW(W(LongPath(path)), GENERIC_READ | WRITE_DAC | WRITE_OWNER,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // Systems that do not take the descriptor at creation (Wine) get it now,
    // before anything is put into the folder.
    ApplyDescriptor(handle, owned);
    // Between its creation and the opening the folder could have been
    // renamed and replaced by another (the parent is the user's): take only
    // the one that is still private. Wine keeps no descriptors of files (and
    // runs every program as the one user), so there is nothing to check.
    if (!IsPrivate(handle, owned) && !RunningUnderWine()) {
      CloseHandle(handle);
      continue;
    }
    return std::make_unique<TWin32PrivateFolder>(IncludeTrailingBackslash(path), handle);
  }
  SetLastError(ERROR_ALREADY_EXISTS);
  return nullptr;
}

bool SetFolderAccess(const String& folder, TFolderAccess access) {
  // Users: read and run (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), also the
  // app containers' group, as on the program-files folder.
  const wchar_t* const text = access == TFolderAccess::AdministratorsOnly
                                  ? kDescriptor
                                  : L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                                    L"(A;OICI;0x1200a9;;;AC)";
  HANDLE handle = CreateFileW(W(LongPath(ExcludeTrailingBackslash(folder))),
                              READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION file{};
  if (!GetFileInformationByHandle(handle, &file) ||
      (file.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    SetLastError(ERROR_NOT_A_REPARSE_POINT);
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = ERROR_SUCCESS;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                           nullptr)) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    error = SetSecurityInfo(handle, SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, acl, nullptr);
    LocalFree(descriptor);
  } else {
    error = GetLastError();
  }
  CloseHandle(handle);
  if (error != ERROR_SUCCESS && !RunningUnderWine()) {
    SetLastError(error);
    return false;
  }
  return true;
}

bool ReadSecurityInfo(const String& path, TSecurityInfo& info) {
  HANDLE handle = CreateFileW(W(LongPath(path)), READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = ReadHandleSecurity(handle, info);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
  return ok;
}

}  // namespace platform
