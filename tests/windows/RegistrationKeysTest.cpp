// The key tables walked against the test prefix's registry and files:
// deletions, locks and their ownership fallback, grants, file locks.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "broker/BrokerServer.h"
#include "engine/KeyTableActions.h"

namespace {

const WELL_KNOWN_SID_TYPE kWho[] = {WinWorldSid, WinAnonymousSid, WinBuiltinAdministratorsSid,
                                    WinLocalSystemSid, WinBuiltinUsersSid};

std::wstring Name(const char* entry) {
  return std::wstring(entry, entry + strlen(entry));
}
// Root and path of an entry, for the plain registry calls.
std::pair<HKEY, std::wstring> Key(const char* entry) {
  std::wstring name = Name(entry);
  HKEY root = name.starts_with(L"MACHINE\\") ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
  return {root, name.substr(name.find(L'\\') + 1)};
}
bool Exists(const char* entry) {
  HKEY key = nullptr;
  auto [root, path] = Key(entry);
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}
template <typename Entries>
void Create(const Entries& entries) {
  for (const char* entry : entries) {
    HKEY key = nullptr;
    auto [root, path] = Key(entry);
    ASSERT_EQ(
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        0);
    RegCloseKey(key);
  }
}
template <typename Entries>
void Remove(const Entries& entries) {
  for (const char* entry : entries) SHDeleteKeyW(Key(entry).first, Key(entry).second.c_str());
}

// The access list's entries byte for byte (empty when unreadable), and its entries as
// (type, principal, mask) with principal WinNullSid for any other.
std::vector<BYTE> Acl(const std::wstring& name, SE_OBJECT_TYPE type = SE_REGISTRY_KEY) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                            nullptr, &sd) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<BYTE> bytes;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    GetAce(acl, i, reinterpret_cast<void**>(&ace));
    bytes.insert(bytes.end(), reinterpret_cast<BYTE*>(ace),
                 reinterpret_cast<BYTE*>(ace) + ace->AceSize);
  }
  LocalFree(sd);
  return bytes;
}
int Count(const std::wstring& name, BYTE aceType, WELL_KNOWN_SID_TYPE who, DWORD mask,
          SE_OBJECT_TYPE type = SE_REGISTRY_KEY) {
  std::vector<BYTE> bytes = Acl(name, type);
  int n = 0;
  for (size_t at = 0; at < bytes.size(); at += reinterpret_cast<ACE_HEADER*>(&bytes[at])->AceSize) {
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(&bytes[at]);
    WELL_KNOWN_SID_TYPE found = WinNullSid;
    for (WELL_KNOWN_SID_TYPE w : kWho) found = IsWellKnownSid(&ace->SidStart, w) ? w : found;
    n += ace->Header.AceType == aceType && found == who && (ace->Mask & mask) == mask;
  }
  return n;
}

// Replaces a key's owner and list by those of a descriptor in text form.
void SetSecurity(const std::wstring& name, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, 1, &sd, nullptr));
  BOOL present, defaulted;
  PACL acl = nullptr;
  PSID owner = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted);
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (owner ? OWNER_SECURITY_INFORMATION : 0);
  EXPECT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), SE_REGISTRY_KEY, what, owner,
                                  nullptr, acl, nullptr),
            0u);
  LocalFree(sd);
}

TEST(RegistrationKeys, BrokerTableHoldsEveryWrittenKeyAndDeletionTakesThemAll) {
  // Left as found: registered to whatever server was registered, else none.
  const MString found = RegisteredBrokerExecutable();
  const MString server = found.IsEmpty() ? M(ProgramFolder() + L"\\glinthost.exe") : found;
  ASSERT_HRESULT_SUCCEEDED(WriteBrokerRegistration(server, true));
  auto table = KeyTableEntries(KeyTable::kBroker);
  int missing = 0;
  for (const char* entry : table) {
    missing += !Exists(entry);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key(entry).second.c_str(), 0, KEY_READ, &key)) continue;
    wchar_t sub[256];
    for (DWORD i = 0, n = 256; !RegEnumKeyExW(key, i, sub, &n, nullptr, nullptr, nullptr, nullptr);
         ++i, n = 256) {
      std::string child = std::string(entry) + "\\" + Utf8Of(sub);
      EXPECT_NE(std::find(table.begin(), table.end(), child), table.end())
          << "not in the table: " << child;
    }
    RegCloseKey(key);
  }
  EXPECT_EQ(missing, 5) << "only the five older classes are not written";
  DeleteRegistrationKeys(false, false);
  EXPECT_EQ(Wide(RegisteredBrokerExecutable()), Wide(server));
  DeleteRegistrationKeys(true, false);
  for (const char* entry : table) EXPECT_FALSE(Exists(entry)) << entry;
  if (!found.IsEmpty()) WriteBrokerRegistration(found, true);
}

TEST(RegistrationKeys, ControlDeletionNeverTouchesTheClassesRoot) {
  auto machine = KeyTableEntries(KeyTable::kControlMachine);
  const char* uninstall[] = {
      "MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\StormwingGlint"};
  Create(machine), Create(uninstall), Create(ControlUsersReadEntries());
  DeleteRegistrationKeys(false, true);
  for (const char* entry : machine) EXPECT_FALSE(Exists(entry)) << entry;
  EXPECT_FALSE(Exists(uninstall[0]));
  for (const char* entry : ControlUsersReadEntries()) EXPECT_TRUE(Exists(entry)) << entry;
  Remove(ControlUsersReadEntries());
}

TEST(RegistrationKeys, LockAddsTwoDenyEntriesAndUnlockTakesOwnershipWhenItMust) {
  auto machine = KeyTableEntries(KeyTable::kControlMachine);
  Create(machine);
  std::vector<std::vector<BYTE>> before;
  for (const char* entry : machine) before.push_back(Acl(Name(entry)));
  LockRegistration(KeyTable::kControlMachine, true);
  for (const char* entry : machine) {
    EXPECT_EQ(Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinWorldSid, 0x10002), 1) << entry;
    EXPECT_EQ(Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinAnonymousSid, 0x10002), 1) << entry;
    EXPECT_EQ(Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinNullSid, 0), 0) << entry;
  }
  HKEY key = nullptr;
  EXPECT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key(machine[0]).second.c_str(), 0, KEY_SET_VALUE, &key), 5);
  // The last key becomes SYSTEM's, Administrators keeping read and ownership.
  const std::wstring owned = Name(machine.back());
  SetSecurity(owned, L"O:SYD:(D;OICI;0x10002;;;WD)(D;OICI;0x10002;;;AN)(A;OICI;0xA0019;;;BA)");
  LockRegistration(KeyTable::kControlMachine, false);
  for (size_t i = 0; i + 1 < machine.size(); ++i)
    EXPECT_EQ(Acl(Name(machine[i])), before[i]) << machine[i];
  EXPECT_EQ(Count(owned, ACCESS_DENIED_ACE_TYPE, WinNullSid, 0) +
                Count(owned, ACCESS_DENIED_ACE_TYPE, WinWorldSid, 0),
            0);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(owned.c_str(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                  &owner, nullptr, nullptr, nullptr, &sd),
            0u);
  EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  LocalFree(sd);
  EXPECT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key(machine[0]).second.c_str(), 0, KEY_SET_VALUE, &key), 0);
  RegCloseKey(key);
  DeleteRegistrationKeys(false, true);
}

TEST(RegistrationKeys, RepairReplacesDenialsOnceAndUsersReadOnlyProgramIds) {
  const char* product = "MACHINE\\Software\\Kestrelink\\GlintPlayerUpdate";
  const char* clsid = KeyTableEntries(KeyTable::kControl)[0];
  const char* created[] = {product, clsid};
  Create(created), Create(ControlUsersReadEntries());
  SetSecurity(Name(product), L"D:(D;OICI;0xF003F;;;BA)(A;OICI;0x20019;;;WD)");
  // Files are walked too, but Wine derives a file's list from its mode bits
  // and keeps no written entry: nothing to observe there.
  RepairControlPermissions();
  EXPECT_EQ(Count(Name(product), ACCESS_DENIED_ACE_TYPE, WinBuiltinAdministratorsSid, 0), 0);
  for (WELL_KNOWN_SID_TYPE who : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
    EXPECT_EQ(Count(Name(product), ACCESS_ALLOWED_ACE_TYPE, who, 0xF003F), 1);
  }
  std::vector<BYTE> repaired = Acl(Name(product));
  RepairControlPermissions();
  EXPECT_EQ(Acl(Name(product)), repaired);

  std::vector<BYTE> classKey = Acl(Name(clsid));
  GrantUsersRead();
  for (const char* entry : ControlUsersReadEntries()) {
    EXPECT_EQ(Count(Name(entry), ACCESS_ALLOWED_ACE_TYPE, WinBuiltinUsersSid, 0x20019), 1) << entry;
  }
  EXPECT_EQ(Acl(Name(clsid)), classKey);
  Remove(created), Remove(ControlUsersReadEntries());
}

TEST(RegistrationKeys, LockFileSetsAndClearsReadOnly) {
  ScratchFiles files;
  const std::wstring dir = NewTempFolder(L"glint-lockfile");
  files.File(dir + L"\\plain.dat"), files.File(dir + L"\\readonly.dat");
  SetFileAttributesW((dir + L"\\readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(LockFile(MString(u""), true));
  EXPECT_FALSE(LockFile(M(dir + L"\\absent.dat"), true));
  EXPECT_FALSE(LockFile(M(dir + L"\\absent.dat"), false));
  for (const wchar_t* name : {L"\\plain.dat", L"\\readonly.dat"}) {
    EXPECT_TRUE(LockFile(M(dir + name), true)) << Utf8Of(name);
    EXPECT_TRUE(LockFile(M(dir + name), false)) << Utf8Of(name);
    EXPECT_FALSE(GetFileAttributesW((dir + name).c_str()) & FILE_ATTRIBUTE_READONLY);
  }
  RemoveTree(dir);
}

}  // namespace
