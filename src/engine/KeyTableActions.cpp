#include "engine/KeyTableActions.h"

#include <windows.h>

#include <aclapi.h>
#include <shlwapi.h>

#include <cstring>
#include <string>

#include "foundation/DynamicLoadLibraryHelper.h"
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

// The security calls come through the loader table: the wide forms where the
// system has them, else the narrow ones (the tables' entries are ASCII).
class Security {
 public:
  bool Ready() const { return api_.Complete(); }
  DWORD Get(const std::wstring& name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
            PACL* list, PSECURITY_DESCRIPTOR* sd) const {
    if (api_.GetNamedSecurityInfoW != nullptr) {
      return api_.GetNamedSecurityInfoW(name.c_str(), type, what, owner, nullptr, list, nullptr,
                                        sd);
    }
    return api_.GetNamedSecurityInfoA(Narrow(name).c_str(), type, what, owner, nullptr, list,
                                      nullptr, sd);
  }
  DWORD Set(const std::wstring& name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner,
            PACL list) const {
    if (api_.SetNamedSecurityInfoW != nullptr) {
      return api_.SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), type, what, owner,
                                        nullptr, list, nullptr);
    }
    std::string narrow = Narrow(name);
    return api_.SetNamedSecurityInfoA(narrow.data(), type, what, owner, nullptr, list, nullptr);
  }
  // A list built on top of `base` with the entries (trustees given by SID).
  DWORD Merge(EXPLICIT_ACCESS_W* entries, ULONG count, PACL base, PACL* merged) const {
    if (api_.SetEntriesInAclW != nullptr)
      return api_.SetEntriesInAclW(count, entries, base, merged);
    EXPLICIT_ACCESS_A narrow[3] = {};
    for (ULONG i = 0; i < count && i < 3; ++i) {
      narrow[i].grfAccessPermissions = entries[i].grfAccessPermissions;
      narrow[i].grfAccessMode = entries[i].grfAccessMode;
      narrow[i].grfInheritance = entries[i].grfInheritance;
      narrow[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      narrow[i].Trustee.TrusteeType = entries[i].Trustee.TrusteeType;
      narrow[i].Trustee.ptstrName = reinterpret_cast<LPSTR>(entries[i].Trustee.ptstrName);
    }
    return api_.SetEntriesInAclA(count < 3 ? count : 3, narrow, base, merged);
  }
  const Advapi32DllHelper& Api() const { return api_; }

 private:
  static std::string Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
  }
  Advapi32DllHelper api_;
};

// A well-known group or account, made from its authority and relative ids.
class WellKnownSid {
 public:
  WellKnownSid(const Security& security, BYTE authority, DWORD first, DWORD second = 0)
      : api_(security.Api()) {
    SID_IDENTIFIER_AUTHORITY id = {{0, 0, 0, 0, 0, authority}};
    BYTE count = second != 0 ? 2 : 1;
    if (!api_.AllocateAndInitializeSid(&id, count, first, second, 0, 0, 0, 0, 0, 0, &sid_)) {
      sid_ = nullptr;
    }
  }
  WellKnownSid(const WellKnownSid&) = delete;
  WellKnownSid& operator=(const WellKnownSid&) = delete;
  ~WellKnownSid() {
    if (sid_ != nullptr) api_.FreeSid(sid_);
  }
  PSID Get() const { return sid_; }

 private:
  const Advapi32DllHelper& api_;
  PSID sid_ = nullptr;
};

enum Principal { kEveryone, kAnonymous, kAdministrators, kLocalSystem, kUsers };
struct PrincipalSid : WellKnownSid {
  PrincipalSid(const Security& s, Principal p)
      : WellKnownSid(s, p == kEveryone ? 1 : 5,
                     p == kEveryone      ? 0
                     : p == kAnonymous   ? 7
                     : p == kLocalSystem ? 18
                                         : 32,
                     p == kAdministrators ? 544
                     : p == kUsers        ? 545
                                          : 0) {}
};

// An object's access list as the system handed it out; the list lives inside
// the descriptor's memory.
struct AccessList {
  LONG Read(const Security& security, const std::wstring& name, SE_OBJECT_TYPE type) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    list = nullptr;
    LONG error =
        static_cast<LONG>(security.Get(name, type, DACL_SECURITY_INFORMATION, nullptr, &list, &sd));
    descriptor.Reset(sd);
    return error;
  }
  UniqueLocal descriptor;
  PACL list = nullptr;
};

bool Write(const Security& security, const std::wstring& name, SE_OBJECT_TYPE type, PACL list) {
  return security.Set(name, type, DACL_SECURITY_INFORMATION, nullptr, list) == ERROR_SUCCESS;
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
int DeleteDenyEntries(const Advapi32DllHelper& api, PACL list, Pick remove) {
  int removed = 0;
  if (list == nullptr) return 0;
  for (int i = static_cast<int>(list->AceCount) - 1; i >= 0; --i) {
    ACE_HEADER* header = nullptr;
    if (!api.GetAce(list, static_cast<DWORD>(i), reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
    if (remove(static_cast<PSID>(&ace->SidStart)) && api.DeleteAce(list, static_cast<DWORD>(i))) {
      ++removed;
    }
  }
  return removed;
}

UniqueLocal Merge(const Security& security, EXPLICIT_ACCESS_W* entries, ULONG count, PACL base) {
  PACL merged = nullptr;
  if (security.Merge(entries, count, base, &merged) != ERROR_SUCCESS) return UniqueLocal();
  return UniqueLocal(merged);
}

// The grant action: deny entries of the principal go, and an allowing entry
// with the mask is added unless one is there. A missing object is success;
// an object whose list already grants and denies nothing is left as it is.
bool Grant(const Security& security, const std::wstring& name, SE_OBJECT_TYPE type,
           Principal principal, DWORD mask, DWORD inheritance) {
  const Advapi32DllHelper& api = security.Api();
  PrincipalSid sid(security, principal);
  AccessList access;
  LONG error = access.Read(security, name, type);
  if (error == ERROR_FILE_NOT_FOUND) return true;
  if (error != ERROR_SUCCESS || sid.Get() == nullptr) return false;
  // No list at all already lets everyone in.
  if (access.list == nullptr) return true;
  bool granted = false;
  for (DWORD i = 0; i < access.list->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!api.GetAce(access.list, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if (api.EqualSid(&ace->SidStart, sid.Get()) && (ace->Mask & mask) == mask) granted = true;
  }
  int removed =
      DeleteDenyEntries(api, access.list, [&](PSID s) { return api.EqualSid(s, sid.Get()); });
  if (granted) return removed == 0 || Write(security, name, type, access.list);
  EXPLICIT_ACCESS_W entry = Entry(sid.Get(), mask, GRANT_ACCESS, inheritance);
  UniqueLocal merged = Merge(security, &entry, 1, access.list);
  return merged && Write(security, name, type, static_cast<PACL>(merged.Get()));
}

bool SetPrivilege(const Security& security, const wchar_t* privilege, bool enable) {
  UniqueHandle token;
  if (!security.Api().OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
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
bool Unlock(const Security& security, const std::wstring& name, SE_OBJECT_TYPE type, PSID everyone,
            PSID anonymous) {
  const Advapi32DllHelper& api = security.Api();
  AccessList access;
  if (access.Read(security, name, type) != ERROR_SUCCESS) return false;
  DeleteDenyEntries(api, access.list, [&](PSID s) {
    return api.EqualSid(s, everyone) || api.EqualSid(s, anonymous);
  });
  return Write(security, name, type, access.list);
}

// The lock action. Unlocking a list the caller may not write takes the
// object's ownership for Administrators (with the privilege on only around
// that call) and tries once more.
bool LockObject(const Security& security, const std::wstring& name, SE_OBJECT_TYPE type, DWORD mask,
                DWORD inheritance, bool lock) {
  PrincipalSid everyone(security, kEveryone);
  PrincipalSid anonymous(security, kAnonymous);
  if (everyone.Get() == nullptr || anonymous.Get() == nullptr) return false;
  if (!lock) {
    if (Unlock(security, name, type, everyone.Get(), anonymous.Get())) return true;
    PrincipalSid administrators(security, kAdministrators);
    SetPrivilege(security, SE_TAKE_OWNERSHIP_NAME, true);
    DWORD owned =
        security.Set(name, type, OWNER_SECURITY_INFORMATION, administrators.Get(), nullptr);
    SetPrivilege(security, SE_TAKE_OWNERSHIP_NAME, false);
    return owned == ERROR_SUCCESS && Unlock(security, name, type, everyone.Get(), anonymous.Get());
  }
  AccessList access;
  if (access.Read(security, name, type) != ERROR_SUCCESS) return false;
  EXPLICIT_ACCESS_W entries[3] = {Entry(everyone.Get(), mask, DENY_ACCESS, inheritance),
                                  Entry(anonymous.Get(), mask, DENY_ACCESS, inheritance)};
  ULONG count = 2;
  // No list meant everyone may do everything; keep that beside the denials.
  if (access.list == nullptr) {
    entries[count++] =
        Entry(everyone.Get(), type == SE_FILE_OBJECT ? FILE_ALL_ACCESS : KEY_ALL_ACCESS,
              GRANT_ACCESS, inheritance);
  }
  UniqueLocal merged = Merge(security, entries, count, access.list);
  return merged && Write(security, name, type, static_cast<PACL>(merged.Get()));
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
  const Security security;
  if (!security.Ready()) return;
  const Principal principals[] = {kAdministrators, kLocalSystem};
  for (const char* entry : KeyTableEntries(KeyTable::kControl)) {
    for (Principal principal : principals) {
      Grant(security, Wide(entry), SE_REGISTRY_KEY, principal, kKeyFullAccess, kInheritAll);
    }
  }
  const std::wstring vendor = std::wstring(W(SystemFolder())) + L"\\Kestreli";
  const std::wstring product = vendor + L"\\Glint";
  for (const std::wstring& folder : {vendor, product}) {
    for (Principal principal : principals) {
      Grant(security, folder, SE_FILE_OBJECT, principal, kFileFullAccess, kInheritAll);
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
    for (Principal principal : principals) {
      Grant(security, product + L"\\" + name, SE_FILE_OBJECT, principal, kFileFullAccess,
            kInheritAll);
    }
  } while (FindNextFileW(find.Get(), &found));
}

void LockRegistration(KeyTable table, bool lock) {
  const Security security;
  if (!security.Ready()) return;
  for (const char* entry : KeyTableEntries(table)) {
    LockObject(security, Wide(entry), SE_REGISTRY_KEY, kKeyLockMask, kInheritAll, lock);
  }
}

bool LockFile(const MString& path, bool lock) {
  if (path.IsNull() || path.IsEmpty()) return false;
  const Security security;
  if (!security.Ready()) return false;
  const std::wstring name = W(path);
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (lock) {
    if (!(attributes & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(name.c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
      return false;
    }
    return LockObject(security, name, SE_FILE_OBJECT, kFileLockMask, NO_INHERITANCE, true);
  }
  if (!LockObject(security, name, SE_FILE_OBJECT, kFileLockMask, NO_INHERITANCE, false)) {
    return false;
  }
  attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return !(attributes & FILE_ATTRIBUTE_READONLY) ||
         SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

void GrantUsersRead() {
  const Security security;
  if (!security.Ready()) return;
  for (const char* entry : ControlUsersReadEntries()) {
    Grant(security, Wide(entry), SE_REGISTRY_KEY, kUsers, kKeyRead, kInheritAll);
  }
}
