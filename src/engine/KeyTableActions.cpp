#include "engine/KeyTableActions.h"

#include <windows.h>

#include <aclapi.h>
#include <shlwapi.h>

#include <cstring>
#include <string>

#include "foundation/SystemModule.h"
#include "foundation/Win32Handles.h"
#include "foundation/WideText.h"

namespace {

constexpr DWORD kKeyFullAccess = 0xF003F;
constexpr DWORD kKeyRead = 0x20019;
constexpr DWORD kKeyLockMask = 0x10002;  // DELETE | KEY_SET_VALUE
constexpr DWORD kFileFullAccess = 0x1F01FF;
constexpr DWORD kFileLockMask = FILE_WRITE_ATTRIBUTES;
constexpr DWORD kInheritAll = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
constexpr char kControlUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\StormwingGlint";

struct WellKnownSid {
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof bytes;
    valid = CreateWellKnownSid(type, nullptr, bytes, &size) != FALSE;
  }
  PSID Get() { return valid ? static_cast<PSID>(bytes) : nullptr; }
  BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
  bool valid = false;
};

// An object's access list as the system handed it out; the list lives inside
// the descriptor's memory.
struct AccessList {
  LONG Read(const std::wstring& name, SE_OBJECT_TYPE type) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    list = nullptr;
    LONG error = static_cast<LONG>(GetNamedSecurityInfoW(
        name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr, &sd));
    descriptor.Reset(sd);
    return error;
  }
  UniqueLocal descriptor;
  PACL list = nullptr;
};

bool Write(const std::wstring& name, SE_OBJECT_TYPE type, PACL list) {
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), type, DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, list, nullptr) == ERROR_SUCCESS;
}

EXPLICIT_ACCESS_W Entry(PSID sid, DWORD mask, ACCESS_MODE mode, DWORD inheritance) {
  EXPLICIT_ACCESS_W entry = {};
  entry.grfAccessPermissions = mask;
  entry.grfAccessMode = mode;
  entry.grfInheritance = inheritance;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
  return entry;
}

// Walks the list from its last entry to its first, deleting the deny
// entries `remove` picks; returns how many went.
template <typename Pick>
int DeleteDenyEntries(PACL list, Pick remove) {
  int removed = 0;
  if (list == nullptr) return 0;
  for (int i = static_cast<int>(list->AceCount) - 1; i >= 0; --i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(list, static_cast<DWORD>(i), reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
    if (remove(static_cast<PSID>(&ace->SidStart)) && DeleteAce(list, static_cast<DWORD>(i))) {
      ++removed;
    }
  }
  return removed;
}

// A list built by SetEntriesInAcl on top of `base`; null on failure.
UniqueLocal Merge(EXPLICIT_ACCESS_W* entries, ULONG count, PACL base) {
  PACL merged = nullptr;
  if (SetEntriesInAclW(count, entries, base, &merged) != ERROR_SUCCESS) return UniqueLocal();
  return UniqueLocal(merged);
}

// The grant action: deny entries of the principal go, and an allowing entry
// with the mask is added unless one is there. A missing object is success;
// an object whose list already grants and denies nothing is left as it is.
bool Grant(const std::wstring& name, SE_OBJECT_TYPE type, WELL_KNOWN_SID_TYPE principal, DWORD mask,
           DWORD inheritance) {
  WellKnownSid sid(principal);
  AccessList access;
  LONG error = access.Read(name, type);
  if (error == ERROR_FILE_NOT_FOUND) return true;
  if (error != ERROR_SUCCESS || sid.Get() == nullptr) return false;
  // No list at all already lets everyone in.
  if (access.list == nullptr) return true;
  bool granted = false;
  for (DWORD i = 0; i < access.list->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(access.list, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if (EqualSid(&ace->SidStart, sid.Get()) && (ace->Mask & mask) == mask) granted = true;
  }
  int removed = DeleteDenyEntries(access.list, [&](PSID s) { return EqualSid(s, sid.Get()); });
  if (granted) return removed == 0 || Write(name, type, access.list);
  EXPLICIT_ACCESS_W entry = Entry(sid.Get(), mask, GRANT_ACCESS, inheritance);
  UniqueLocal merged = Merge(&entry, 1, access.list);
  return merged && Write(name, type, static_cast<PACL>(merged.Get()));
}

bool SetPrivilege(const wchar_t* privilege, bool enable) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                        token.Receive())) {
    return false;
  }
  TOKEN_PRIVILEGES change = {};
  change.PrivilegeCount = 1;
  if (!LookupPrivilegeValueW(nullptr, privilege, &change.Privileges[0].Luid)) return false;
  change.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  return AdjustTokenPrivileges(token.Get(), FALSE, &change, 0, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

// Removes the two lock entries and writes the list back.
bool Unlock(const std::wstring& name, SE_OBJECT_TYPE type, PSID everyone, PSID anonymous) {
  AccessList access;
  if (access.Read(name, type) != ERROR_SUCCESS) return false;
  DeleteDenyEntries(access.list,
                    [&](PSID s) { return EqualSid(s, everyone) || EqualSid(s, anonymous); });
  return Write(name, type, access.list);
}

// The lock action. Unlocking a list the caller may not write takes the
// object's ownership for Administrators (with the privilege on only around
// that call) and tries once more.
bool LockObject(const std::wstring& name, SE_OBJECT_TYPE type, DWORD mask, DWORD inheritance,
                bool lock) {
  WellKnownSid everyone(WinWorldSid);
  WellKnownSid anonymous(WinAnonymousSid);
  if (everyone.Get() == nullptr || anonymous.Get() == nullptr) return false;
  if (!lock) {
    if (Unlock(name, type, everyone.Get(), anonymous.Get())) return true;
    WellKnownSid administrators(WinBuiltinAdministratorsSid);
    SetPrivilege(SE_TAKE_OWNERSHIP_NAME, true);
    DWORD owned =
        SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), type, OWNER_SECURITY_INFORMATION,
                              administrators.Get(), nullptr, nullptr, nullptr);
    SetPrivilege(SE_TAKE_OWNERSHIP_NAME, false);
    return owned == ERROR_SUCCESS && Unlock(name, type, everyone.Get(), anonymous.Get());
  }
  AccessList access;
  if (access.Read(name, type) != ERROR_SUCCESS) return false;
  EXPLICIT_ACCESS_W entries[3] = {Entry(everyone.Get(), mask, DENY_ACCESS, inheritance),
                                  Entry(anonymous.Get(), mask, DENY_ACCESS, inheritance)};
  ULONG count = 2;
  // No list meant everyone may do everything; keep that beside the denials.
  if (access.list == nullptr) {
    entries[count++] =
        Entry(everyone.Get(), type == SE_FILE_OBJECT ? FILE_ALL_ACCESS : KEY_ALL_ACCESS,
              GRANT_ACCESS, inheritance);
  }
  UniqueLocal merged = Merge(entries, count, access.list);
  return merged && Write(name, type, static_cast<PACL>(merged.Get()));
}

std::wstring Wide(const char* entry) {
  return std::wstring(entry, entry + strlen(entry));
}

}  // namespace

void DeleteRegistrationKeys(bool broker, bool control) {
  auto deleteMachineKeys = [](KeyTable table) {
    for (const char* entry : KeyTableEntries(table)) {
      KeyRoot root;
      std::string_view path;
      if (!SplitKeyEntry(entry, &root, &path) || root != KeyRoot::kMachine) continue;
      SHDeleteKeyA(HKEY_LOCAL_MACHINE, std::string(path).c_str());
    }
  };
  if (broker) deleteMachineKeys(KeyTable::kBroker);
  if (control) {
    deleteMachineKeys(KeyTable::kControlMachine);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kControlUninstallKey);
  }
}

void RepairControlPermissions() {
  const WELL_KNOWN_SID_TYPE principals[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
  for (const char* entry : KeyTableEntries(KeyTable::kControl)) {
    for (WELL_KNOWN_SID_TYPE principal : principals) {
      Grant(Wide(entry), SE_REGISTRY_KEY, principal, kKeyFullAccess, kInheritAll);
    }
  }
  const std::wstring vendor = std::wstring(W(SystemFolder())) + L"\\Kestreli";
  const std::wstring product = vendor + L"\\Glint";
  std::wstring names[] = {vendor, product};
  for (const std::wstring& folder : names) {
    for (WELL_KNOWN_SID_TYPE principal : principals) {
      Grant(folder, SE_FILE_OBJECT, principal, kFileFullAccess, kInheritAll);
    }
  }
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((product + L"\\*").c_str(), &found));
  if (!find) return;
  do {
    std::wstring name = found.cFileName;
    if (name.find(L".ocx") == std::wstring::npos && name.find(L"GlintUtil") == std::wstring::npos) {
      continue;
    }
    for (WELL_KNOWN_SID_TYPE principal : principals) {
      Grant(product + L"\\" + name, SE_FILE_OBJECT, principal, kFileFullAccess, kInheritAll);
    }
  } while (FindNextFileW(find.Get(), &found));
}

void LockRegistration(KeyTable table, bool lock) {
  for (const char* entry : KeyTableEntries(table)) {
    LockObject(Wide(entry), SE_REGISTRY_KEY, kKeyLockMask, kInheritAll, lock);
  }
}

bool LockFile(const MString& path, bool lock) {
  if (path.IsNull() || path.IsEmpty()) return false;
  const std::wstring name = W(path);
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (lock) {
    if (!(attributes & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(name.c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
      return false;
    }
    return LockObject(name, SE_FILE_OBJECT, kFileLockMask, NO_INHERITANCE, true);
  }
  if (!LockObject(name, SE_FILE_OBJECT, kFileLockMask, NO_INHERITANCE, false)) return false;
  attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return !(attributes & FILE_ATTRIBUTE_READONLY) ||
         SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

void GrantUsersRead() {
  for (const char* entry : ControlUsersReadEntries()) {
    Grant(Wide(entry), SE_REGISTRY_KEY, WinBuiltinUsersSid, kKeyRead, kInheritAll);
  }
}
