// The key tables walked against the test prefix's registry and files:
// deletions, locks and their ownership fallback, grants, file locks.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>

#include "WineTestSupport.h"
#include "broker/server/BrokerServer.h"
#include "engine/KeyTableActions.h"
#include "engine/ProductNames.h"
#include "engine/Uninstall.h"

namespace {

const WELL_KNOWN_SID_TYPE kWho[] = {WinWorldSid, WinAnonymousSid, WinBuiltinAdministratorsSid,
                                    WinLocalSystemSid, WinBuiltinUsersSid};

// Keys as the tables name them ("MACHINE\\..." or a class key), narrow or wide.
std::wstring Name(const char* entry) {
  return std::wstring(entry, entry + strlen(entry));
}
const std::wstring& Name(const std::wstring& name) {
  return name;
}
template <typename Entry>
std::pair<HKEY, std::wstring> Key(const Entry& entry) {
  const std::wstring name = Name(entry);
  HKEY root = name.starts_with(L"MACHINE\\") ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
  return {root, name.substr(name.find(L'\\') + 1)};
}
// What opening a key answers (0, or the error: 5 when refused).
template <typename Entry>
LONG Open(const Entry& entry, REGSAM access) {
  UniqueRegKey key;
  auto [root, path] = Key(entry);
  return RegOpenKeyExW(root, path.c_str(), 0, access, key.Receive());
}
template <typename Entry>
bool KeyExists(const Entry& entry) {
  return Open(entry, KEY_READ) == ERROR_SUCCESS;
}
template <typename Entries>
void Create(const Entries& entries) {
  for (const auto& entry : entries) {
    UniqueRegKey key;
    auto [root, path] = Key(entry);
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.Receive(), nullptr),
              0);
  }
}
template <typename Entries>
void Remove(const Entries& entries) {
  for (const auto& entry : entries) SHDeleteKeyW(Key(entry).first, Key(entry).second.c_str());
}

// The access list's entries byte for byte (empty when unreadable), and its entries as
// (type, principal, mask) with principal WinNullSid for any other.
std::vector<BYTE> Acl(const std::wstring& name) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &acl, nullptr, &sd) != ERROR_SUCCESS) {
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
int Count(const std::wstring& name, BYTE aceType, WELL_KNOWN_SID_TYPE who, DWORD mask) {
  std::vector<BYTE> bytes = Acl(name);
  int n = 0;
  for (size_t at = 0; at < bytes.size(); at += reinterpret_cast<ACE_HEADER*>(&bytes[at])->AceSize) {
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(&bytes[at]);
    WELL_KNOWN_SID_TYPE found = WinNullSid;
    for (WELL_KNOWN_SID_TYPE w : kWho) found = IsWellKnownSid(&ace->SidStart, w) ? w : found;
    n += ace->Header.AceType == aceType && found == who && (ace->Mask & mask) == mask;
  }
  return n;
}

// Replaces a key's owner (when given), then its list, by those of a descriptor in text form.
void SetSecurity(const std::wstring& name, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, 1, &sd, nullptr));
  BOOL present, defaulted;
  PACL acl = nullptr;
  PSID owner = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted);
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  auto* path = const_cast<wchar_t*>(name.c_str());
  if (owner != nullptr) {
    EXPECT_EQ(SetNamedSecurityInfoW(path, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, owner,
                                    nullptr, nullptr, nullptr),
              0u);
  }
  EXPECT_EQ(SetNamedSecurityInfoW(path, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
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
  std::set<std::string> written;  // every key under the table's keys, and their values
  for (const char* entry : table) RegistryLines(HKEY_LOCAL_MACHINE, Key(entry).second, &written);
  for (const std::string& line : written) {
    if (line.find(':') != std::string::npos) continue;
    EXPECT_NE(std::find(table.begin(), table.end(), "MACHINE\\" + line), table.end())
        << "not in the table: " << line;
  }
  const auto missing =
      std::count_if(table.begin(), table.end(), [](auto e) { return !KeyExists(e); });
  EXPECT_EQ(missing, 5) << "only the five older classes are not written";
  DeleteRegistrationKeys(false, false);
  EXPECT_EQ(Wide(RegisteredBrokerExecutable()), Wide(server));
  DeleteRegistrationKeys(true, false);
  for (const char* entry : table) EXPECT_FALSE(KeyExists(entry)) << entry;
  if (!found.IsEmpty()) WriteBrokerRegistration(found, true);
}

TEST(RegistrationKeys, LockUnlockByOwnershipAndDeletionSparingTheClassesRoot) {
  auto machine = KeyTableEntries(KeyTable::kControlMachine);
  const char* uninstall[] = {
      "MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\StormwingGlint"};
  Create(machine), Create(uninstall), Create(ControlUsersReadEntries());
  std::vector<std::vector<BYTE>> before;
  for (const char* entry : machine) before.push_back(Acl(Name(entry)));
  LockRegistration(KeyTable::kControlMachine, true);
  for (const char* entry : machine) {
    EXPECT_EQ(Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinWorldSid, 0x10002), 1) << entry;
    EXPECT_EQ(Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinAnonymousSid, 0x10002), 1) << entry;
    EXPECT_EQ(Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinNullSid, 0), 0) << entry;
  }
  EXPECT_EQ(Open(machine[0], KEY_SET_VALUE), 5);
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
  DeleteRegistrationKeys(false, true);
  for (const char* entry : machine) EXPECT_FALSE(KeyExists(entry)) << entry;
  EXPECT_FALSE(KeyExists(uninstall[0]));
  for (const char* entry : ControlUsersReadEntries()) EXPECT_TRUE(KeyExists(entry)) << entry;
  Remove(ControlUsersReadEntries());
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

// Registration of each player type through the shim, read back value by value.
class Registration : public ShimTest {
 protected:
  void SetUp() override {
    ShimTest::SetUp();
    files_.Copy(ProgramFolder() + L"\\GlintAX_34_0_0_384.ocx", control_);
    // The installed host, which registration locks as the broker's server.
    files_.Copy(ProgramFolder() + L"\\glinthost.exe", hostExe_);
  }
  void TearDown() override {
    Clean();
    RemoveTree(folder_);
    ShimTest::TearDown();
  }
  void Clean() {
    LockRegistration(KeyTable::kControlMachine, false);
    DeleteRegistrationKeys(false, true);
    LockFile(M(control_), false);
    LockRegistration(KeyTable::kBroker, false);
    LockFile(M(hostExe_), false);
    for (uint32_t type : {kPlayerActiveX, kPlayerPlugin, kPlayerPepper}) {
      SHDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(PlayerTypeKey(type)).c_str());
      SHDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(ReleaseTypeKey(type)).c_str());
    }
    for (std::wstring key :
         {kPlugin, kCompatibility, kOptions, kArp + L"ActiveX", kArp + L"NPAPI", kArp + L"PPAPI"}) {
      SHDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    }
  }
  // A value as text, a DWORD as "#n", a missing one as "-".
  static std::wstring Value(const std::wstring& key, const wchar_t* name) {
    BYTE data[1024] = {};
    DWORD size = sizeof data - 2, type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY, &type, data, &size))
      return L"-";
    if (type == REG_DWORD) return L"#" + std::to_wstring(*reinterpret_cast<DWORD*>(data));
    return reinterpret_cast<wchar_t*>(data);
  }
  std::wstring Reports() { return ReportCodes(*host_); }

  const std::wstring kArp =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arvex Glint Player ";
  const std::wstring kPlugin = L"SOFTWARE\\MozillaPlugins\\@glint.example/GlintPlayer";
  const std::wstring kClass = L"Software\\Classes\\CLSID\\{112EBC29-AF42-4D7B-8F4B-F59D45F130F6}";
  const std::wstring kCompatibility =
      L"SOFTWARE\\Microsoft\\Internet Explorer\\ActiveX "
      L"Compatibility\\{112EBC29-AF42-4D7B-8F4B-F59D45F130F6}";
  const std::wstring kOptions =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\glintax.exe";
  const std::wstring folder_ = NewTempFolder(L"glint-register");
  const std::wstring control_ = folder_ + L"\\GlintAX_34_0_0_384.ocx";
  const std::wstring hostExe_ = folder_ + L"\\glinthost.exe";
  ScratchFiles files_;
  ScratchRegistry registry_;
};

TEST_F(Registration, LockFileSetsAndClearsReadOnly) {
  files_.File(folder_ + L"\\plain.dat"), files_.File(folder_ + L"\\readonly.dat");
  SetFileAttributesW((folder_ + L"\\readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(LockFile(MString(u""), true));
  EXPECT_FALSE(LockFile(M(folder_ + L"\\absent.dat"), true));
  for (const wchar_t* name : {L"\\plain.dat", L"\\readonly.dat"}) {
    EXPECT_TRUE(LockFile(M(folder_ + name), true)) << Utf8Of(name);
    EXPECT_TRUE(LockFile(M(folder_ + name), false)) << Utf8Of(name);
    EXPECT_FALSE(GetFileAttributesW((folder_ + name).c_str()) & FILE_ATTRIBUTE_READONLY);
  }
}

TEST_F(Registration, EveryValueOfEachTypeReadsBack) {
  struct Case {
    uint32_t type;
    bool arp;
    const char16_t* config;
    const wchar_t *arpWord, *maintain, *debuggerAndMsi;
  } cases[] = {
      {8, true, u"HostFlags 1032; InstallVector 2;", L"ActiveX", L"activex", L"#0#1"},
      {8, false, u"HostFlags 8; InstallVector 1;", L"ActiveX", L"", L"#1#0"},
      {16, true, u"HostFlags 16;", L"NPAPI", L"plugin", L"#1#0"},
      {32768, true, u"HostFlags 33792; InstallVector 2;", L"PPAPI", L"pepperplugin", L"#0#1"},
  };
  WIN32_FILE_ATTRIBUTE_DATA own;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_TRUE(GetFileAttributesExW(self, GetFileExInfoStandard, &own));
  for (const Case& c : cases) {
    Restart(c.config);
    for (const wchar_t* keep : {L"glintax.exe", L"notes.txt"})
      shim()->AddActiveXKeep(M(keep).Give());
    const bool activeX = c.type == 8;
    const std::wstring player = activeX ? control_ : folder_ + L"\\player.dll";
    ASSERT_TRUE(shim()->RegisterPlayer(c.type, M(player).Give(), M(hostExe_).Give(), 0, c.arp));
    EXPECT_EQ(Reports(), L"");
    const std::wstring record = Wide(PlayerTypeKey(c.type));
    EXPECT_EQ(Value(record, L"Version") + L"|" + Value(record, L"PlayerPath") + L"|" +
                  Value(record, L"UninstallerPath"),
              L"34.0.0.384|" + player + L"|" + hostExe_);
    EXPECT_EQ(Value(record, L"isScriptDebugger") + Value(record, L"isMSI") +
                  Value(record, L"ArvexGlintPlayerInstalled") + Value(record, L"isESR") +
                  Value(record, L"isPartner") + Value(record + L"ReleaseType", L"Release"),
              c.debuggerAndMsi + std::wstring(L"#1#0#1#1"));
    const std::wstring arp = kArp + c.arpWord;
    const std::wstring arpValues[] = {
        L"DisplayName",  L"Publisher",         L"DisplayVersion", L"HelpLink",      L"NoModify",
        L"NoRepair",     L"RequiresIESysFile", L"URLInfoAbout",   L"URLUpdateInfo", L"VersionMajor",
        L"VersionMinor", L"UninstallString",   L"DisplayIcon",    L"EstimatedSize"};
    std::wstring got;
    for (const std::wstring& name : arpValues) got += Value(arp, name.c_str()) + L"|";
    EXPECT_EQ(got, !c.arp ? L"-|-|-|-|-|-|-|-|-|-|-|-|-|-|"
                          : L"Arvex Glint Player 34 " + std::wstring(c.arpWord) +
                                L" 64-bit|Arvex|34.0.0.384|https://www.glint.example/go/"
                                L"glintplayer_support/|#1|#1|"
                                L"4.70.0.1155|https://www.glint.example|https://www.glint.example/"
                                L"go/getglintplayer/|"
                                L"#34|#0|" +
                                hostExe_ + L" -maintain " + c.maintain + L"|" + hostExe_ + L"|#" +
                                std::to_wstring(own.nFileSizeLow / 1024) + L"|");
    EXPECT_EQ(Value(kCompatibility, L"Compatibility Flags") +
                  Value(kOptions, L"DisableExceptionChainValidation"),
              activeX ? L"#0#0" : L"--");
    EXPECT_EQ(Value(kPlugin, L"Path") + Value(kPlugin, L"Vendor"),
              c.type == 16 ? player + L"Arvex" : L"--");
    EXPECT_EQ(Value(kClass + L"\\InprocServer32", nullptr), activeX ? control_ : L"-");
    EXPECT_EQ(Count(L"MACHINE\\" + kClass, ACCESS_DENIED_ACE_TYPE, WinWorldSid, 0x10002),
              activeX ? 1 : 0);
    int brokerLocks = 0;  // every written broker key; the five older classes are not written
    for (const char* entry : KeyTableEntries(KeyTable::kBroker))
      brokerLocks += Count(Name(entry), ACCESS_DENIED_ACE_TYPE, WinAnonymousSid, 0x10002);
    EXPECT_EQ(brokerLocks, activeX ? 30 : 0);
    Clean();
  }
}

TEST_F(Registration, RefusalsAreReportedAndStopOnlyTheirGroup) {
  struct Case {
    const char* what;
    uint32_t type;
    std::wstring key, sddl, player;  // a key made with this descriptor first
    bool result;
    const wchar_t* reports;
  } cases[] = {
      {"refused DisplayName", 16, kArp + L"NPAPI", L"D:(D;OICI;0x2;;;WD)(A;OICI;0xF003F;;;WD)", L"",
       true, L"1035:1 "},
      {"control refused once", 8, kClass, L"D:(D;OICI;0x6;;;BA)(A;OICI;0xF003F;;;WD)", control_,
       true, L"1032:1 18:0 "},
      // Wine's merge puts the repair's grant before any denial: what outlasts
      // the repair is an owner who keeps the list from Administrators.
      {"control refused twice", 8, kClass, L"O:SYD:(A;OICI;0xA0019;;;BA)(A;OICI;KR;;;WD)", control_,
       false, L"1032:1 18:0 1032:2 "},
      {"no library", 8, L"", L"", folder_ + L"\\notes.txt", false, L"1033:2 "},
      {"no registration entry", 8, L"", L"", ProgramFolder() + L"\\glintstub.dll", false,
       L"1034:2 "},
  };
  files_.File(folder_ + L"\\notes.txt", "not a library");
  for (const Case& c : cases) {
    Restart(u"");
    if (!c.key.empty()) {
      Create(std::vector{L"MACHINE\\" + c.key});
      SetSecurity(L"MACHINE\\" + c.key, c.sddl.c_str());
    }
    EXPECT_EQ(shim()->RegisterPlayer(c.type, M(c.player).Give(), M(hostExe_).Give(), 0, true),
              c.result)
        << c.what;
    EXPECT_EQ(shim()->WasRegistered(), c.result) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    EXPECT_EQ(Value(kArp + L"NPAPI", L"Publisher") +
                  Value(L"Software\\Kestrelink\\GlintPlayerPlugin", L"Version"),
              c.type == 16 ? L"-34.0.0.384" : L"--")
        << c.what;
    if (!c.key.empty()) SetSecurity(L"MACHINE\\" + c.key, L"O:BAD:(A;OICI;KA;;;WD)");
    Clean();
  }
}

TEST_F(Registration, UninstallPreparationTakesBackWhatRegistrationWrote) {
  struct Case {
    uint32_t type;
    const char16_t* flags;
    const wchar_t *arpWord, *older, *guid;
    bool again;  // the result of a second preparation
  } cases[] = {
      {8, u"8", L"ActiveX", nullptr, L"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E201}", false},
      {16, u"16", L"NPAPI", L"Plugin", L"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E202}", false},
      {32768, u"32768", L"PPAPI", L"Pepper", L"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E203}", true},
  };
  files_.Copy(RecorderPath(), folder_ + L"\\msiexec.exe");
  const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  for (const Case& c : cases) {
    Restart((u"HostFlags " + std::u16string(c.flags) +
             u"; AddRemoveProgramsGUIDsAX \"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E201}\";"
             u" AddRemoveProgramsGUIDsPlugin \"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E202}\";"
             u" AddRemoveProgramsGUIDsPepper \"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E203}\";")
                .c_str());
    shim()->LoadFileLists();
    const std::wstring player = c.type == 8 ? control_ : folder_ + L"\\player.dll";
    ASSERT_TRUE(shim()->RegisterPlayer(c.type, M(player).Give(), M(hostExe_).Give(), 0, true));
    std::vector<std::wstring> made = {L"MACHINE\\" + uninstall + c.guid,
                                      L"MACHINE\\Software\\Kestrelink\\GlintPlayer\\SafeVersions"};
    if (c.older) made.push_back(L"MACHINE\\" + kArp + c.older);
    Create(made);
    EXPECT_TRUE(shim()->PrepareUninstall(c.type, M(folder_).Give(), true)) << c.type;
    EXPECT_EQ(Value(kArp + c.arpWord, L"DisplayName") + Value(kPlugin, L"Path") +
                  Value(kClass + L"\\InprocServer32", nullptr),
              L"---");
    EXPECT_NE(ReadAll(folder_ + L"\\msiexec.exe.log").find("/q /X " + Utf8Of(c.guid)),
              std::string::npos);
    EXPECT_EQ(KeyExists(made[1]), c.type != 8) << "safe versions go with the control";
    EXPECT_FALSE(c.older && KeyExists(made[2]));
    EXPECT_EQ(RegisteredBrokerExecutable().IsEmpty(), c.type == 8);
    EXPECT_EQ(shim()->PrepareUninstall(c.type, M(folder_).Give(), false), c.again) << c.type;
    WriteBrokerRegistration(M(hostExe_), true);
    Remove(made);
    Clean();
  }
}

// Player files: deleted after a retry, at the next restart, or kept (at once: the uninstall).
TEST_F(Registration, PlayerFilesGoNowAfterARetryOrAtRestart) {
  const wchar_t kSession[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  registry_.Remove(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations");
  registry_.Remove(HKEY_LOCAL_MACHINE, kSession, L"AllowProtectedRenames");
  enum Hold { kAbsent, kReadOnly, kShared, kUnshared, kModule };
  struct Case {
    const char* what;
    uint32_t type;
    Hold hold;
    const char16_t* config;
    uint32_t error;
    const wchar_t* reports;
  } cases[] = {
      // clang-format off
      {"absent", 16, kAbsent, u"", 0, L""},
      {"read-only plugin file", 16, kReadOnly, u"", 0, L"1015:1 52:0 "},
      {"read-only control", 8, kReadOnly, u"", 0, L"1015:1 18:0 "},
      {"held, kept, interactive", 16, kShared, u"Interactive 1;", 32, L"1015:1 52:0 1015:1 "},
      {"held, kept, not interactive", 16, kShared, u"Interactive 0;", 32, L"1015:1 52:0 1047:2 1015:1 "},
      {"loaded as a module", 8, kModule, u"", 5, L"1015:1 18:0 1047:2 1015:1 "},
      {"held without read sharing counts as absent", 16, kUnshared, u"", 0, L""},
      // clang-format on
  };
  const std::wstring file = folder_ + L"\\NPGlint34_0_0_384.dll";
  for (const Case& c : cases) {
    Restart(c.config);
    if (std::string(c.what).find("kept") != std::string::npos) {
      shim()->AddPluginKeep(M(L"NPGlint34_0_0_384.dll").Give());
    }
    if (c.hold != kAbsent) files_.Copy(ProgramFolder() + L"\\glintstub.dll", file);
    if (c.hold == kReadOnly) SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    UniqueHandle held(c.hold == kShared || c.hold == kUnshared
                          ? CreateFileW(file.c_str(), GENERIC_READ,
                                        c.hold == kShared ? FILE_SHARE_READ : 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr)
                          : nullptr);
    UniqueModule module(c.hold == kModule ? LoadLibraryW(file.c_str()) : nullptr);
    EXPECT_EQ(RemovePlayerFile(shim(), M(file), c.type), c.error) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    const bool scheduled = std::wstring(c.reports).find(L"1047") != std::wstring::npos;
    EXPECT_EQ(PendingRenames().find(L"\\??\\" + file) == 0, scheduled) << c.what;
    EXPECT_EQ(Exists(file), c.error != 0 || c.hold == kUnshared) << c.what;
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations");
    held.Reset(), module.Reset();
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL), DeleteFileW(file.c_str());
  }
}

TEST_F(Registration, InUseCheckOpensForWritingThenForReading) {
  const std::wstring full = folder_ + L"\\full.dat", empty = folder_ + L"\\empty.dat";
  files_.File(full, "player"), files_.File(empty, "");
  struct Case {
    uint32_t flags;
    std::wstring path;
    bool hold;
    uint32_t result;
    const wchar_t* reports;
  } cases[] = {
      {0, full, true, 0, L"20:0 "},           {512, folder_ + L"\\absent.dat", false, 0, L"20:0 "},
      {512, full, false, 0, L"20:0 "},        {512, full, true, 1, L"20:0 "},
      {512, empty, true, 2, L"20:0 1046:1 "},
  };
  for (const Case& c : cases) {
    Restart(u"");
    UniqueHandle held(c.hold ? CreateFileW(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr)
                             : nullptr);
    EXPECT_EQ(CheckFileInUse(shim(), c.flags, M(c.path)), c.result) << Utf8Of(c.path.c_str());
    EXPECT_EQ(Reports(), c.reports) << Utf8Of(c.path.c_str());
  }
}

TEST_F(Registration, InstallRecordsFallBackToTheRegistrations) {
  // The control's file as the registration wrote it: narrow, UTF-8.
  const char control[] = "C:\\Glint\\Gl\xC3\xAFnt.ocx";
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, Utf8Of((kClass + L"\\InprocServer32").c_str()).c_str(),
                  nullptr, REG_SZ, control, sizeof control);
  registry_.SetString(HKEY_LOCAL_MACHINE, kPlugin, L"Path", L"C:\\Glint\\NPGlint.dll");
  const std::wstring broker = Wide(RegisteredBrokerExecutable());
  struct Case {
    uint32_t type;
    const wchar_t *player, *uninstaller;  // written (null: not written)
    bool found;
    std::wstring readPlayer, readUninstaller;
  } cases[] = {
      {8, L"C:\\P\\GlintAX_34.ocx", L"C:\\P\\glinthost.exe", true, L"C:\\P\\GlintAX_34.ocx",
       L"C:\\P\\glinthost.exe"},
      {8, L"C:\\P\\GlintAX_34.ocx", nullptr, false, L"C:\\Glint\\Gl\u00EFnt.ocx", broker},
      {16, nullptr, nullptr, false, L"C:\\Glint\\NPGlint.dll", L""},
      {32768, nullptr, nullptr, false, L"", L""},
  };
  for (const Case& c : cases) {
    Restart(u"");
    const std::wstring key = Wide(PlayerTypeKey(c.type));
    if (c.player) registry_.SetString(HKEY_LOCAL_MACHINE, key, L"PlayerPath", c.player);
    if (c.uninstaller)
      registry_.SetString(HKEY_LOCAL_MACHINE, key, L"UninstallerPath", c.uninstaller);
    InstallRecord read = ReadInstallRecord(shim(), c.type, true);
    EXPECT_EQ(read.found, c.found) << c.type;
    EXPECT_EQ(Wide(read.player) + L"|" + Wide(read.uninstaller),
              c.readPlayer + L"|" + c.readUninstaller);
    EXPECT_EQ(Reports(), c.found ? L"" : L"1018:1 ");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  }
  // A value of another type counts as missing.
  registry_.SetDword(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerPlugin", L"PlayerPath",
                     1);
  EXPECT_FALSE(ReadInstallRecord(shim(), 16, false).found);
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, kClass.c_str());
}

TEST_F(Registration, MarkerCleanupSharedFilesAndAssistant) {
  const std::wstring ax = L"Software\\Kestrelink\\GlintPlayerActiveX",
                     pl = L"Software\\Kestrelink\\GlintPlayerPlugin";
  // The installed marker: the control type keeps its key with the marker at 0.
  registry_.SetString(HKEY_LOCAL_MACHINE, ax, L"Version", L"34.0.0.384");
  registry_.SetString(HKEY_LOCAL_MACHINE, pl, L"Version", L"34.0.0.384");
  EXPECT_TRUE(RemoveInstalledMarker(8) && RemoveInstalledMarker(16));
  EXPECT_EQ(Value(ax, L"ArvexGlintPlayerInstalled") + Value(ax, L"Version") + Value(pl, L"Version"),
            L"#0--");
  EXPECT_FALSE(RemoveInstalledMarker(16));

  // The per-user and release-type entries: every missing one is a reported failure.
  registry_.SetString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                      L"GlintPlayerUpdate", L"x");
  registry_.SetString(HKEY_CURRENT_USER, ax, L"Version", L"x");
  for (const wchar_t* name : {L"GlintPlayerVersion", L"GmvInstall"})
    registry_.SetString(HKEY_CURRENT_USER, L"Software\\Kestrelink\\GlintPlayer", name, L"x");
  registry_.SetDword(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerActiveXReleaseType",
                     L"Release", 1);
  registry_.SetDword(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayer", L"x", 1);
  registry_.SetDword(HKEY_LOCAL_MACHINE,
                     L"Software\\Microsoft\\Code Store Database\\Distribution "
                     L"Units\\{112EBC29-AF42-4D7B-8F4B-F59D45F130F6}",
                     L"x", 1);
  Restart(u"");
  EXPECT_TRUE(CleanTypeRegistry(shim(), 8));
  EXPECT_EQ(Reports(), L"");
  Restart(u"");
  EXPECT_FALSE(CleanTypeRegistry(shim(), 8));
  EXPECT_EQ(Reports(), L"1037:1 1037:1 1037:1 1037:1 1037:1 1037:1 1037:1 1037:1 ");

  // Shared utility files stay while a type is installed.
  const std::wstring utility = folder_ + L"\\glintutil.exe";
  const std::wstring category =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended "
      L"Properties\\System.ControlPanel.Category";
  const std::wstring options =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution "
      L"Options\\glintutil.exe";
  Restart(u"UtilityFileNames glintutil.exe;");
  files_.File(utility, "x");
  registry_.SetString(HKEY_LOCAL_MACHINE, ax, L"PlayerPath", L"C:\\P\\Glint.ocx");
  EXPECT_TRUE(RemoveSharedUtilityFile(shim(), M(utility)));
  EXPECT_TRUE(Exists(utility));
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, ax.c_str());
  for (bool categoryValue : {true, false}) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, options, L"DisableExceptionChainValidation", 0);
    if (categoryValue)
      registry_.SetDword(HKEY_LOCAL_MACHINE, category,
                         KnownFolder(CSIDL_SYSTEMX86) + L"\\glintutil.exe", 3);
    files_.File(utility, "x");
    EXPECT_EQ(RemoveSharedUtilityFile(shim(), M(utility)), categoryValue);
    EXPECT_FALSE(Exists(utility));
    EXPECT_EQ(Value(options, L"DisableExceptionChainValidation"), L"-");
  }

  // The assistant's uninstaller, named with quotes, runs when it is there.
  const std::wstring assistant =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GlintAssistant";
  EXPECT_FALSE(shim()->UninstallAssistant());
  registry_.SetString(HKEY_CURRENT_USER, assistant, L"UninstallString",
                      L"\"" + folder_ + L"\\absent.exe\"");
  EXPECT_FALSE(shim()->UninstallAssistant());
  files_.Copy(RecorderPath(), folder_ + L"\\assistant.exe");
  registry_.SetString(HKEY_CURRENT_USER, assistant, L"UninstallString",
                      L"\"" + folder_ + L"\\assistant.exe\"");
  EXPECT_TRUE(shim()->UninstallAssistant());
  EXPECT_NE(ReadAll(folder_ + L"\\assistant.exe.log").find("/UnInstallType=1"), std::string::npos);
}

// What an install and its uninstall change: the machine's and the user's
// software keys and the install folder's files.
std::set<std::string> Snapshot(const std::wstring& folder) {
  std::set<std::string> lines;
  RegistryLines(HKEY_LOCAL_MACHINE, L"Software", &lines);
  RegistryLines(HKEY_CURRENT_USER, L"Software", &lines);
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  for (bool more = find.Valid(); more; more = FindNextFileW(find.Get(), &found))
    lines.insert("file " + Utf8Of(found.cFileName));
  return lines;
}

// Register then uninstall each type, from no broker registration, per-user
// entries (1037) or assistant (1834), as on a machine without the player:
// afterwards only what the uninstall keeps on purpose differs: the control
// type's record key with the marker at 0, and its compatibility entry.
TEST_F(Registration, UninstallLeavesOnlyWhatItKeeps) {
  DeleteRegistrationKeys(true, false);
  registry_.Remove(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                   L"GlintPlayerUpdate");
  for (const wchar_t* name : {L"GlintPlayerVersion", L"GmvInstall"})
    registry_.Remove(HKEY_CURRENT_USER, L"Software\\Kestrelink\\GlintPlayer", name);
  const std::string compatibility = "Software" + Utf8Of(kCompatibility.substr(8).c_str());
  const bool maker = KeyExists("MACHINE\\Software\\Kestrelink");
  const std::string kept =
      std::string(maker ? "" : "Software\\Kestrelink\n") +
      "Software\\Kestrelink\\GlintPlayerActiveX\n"
      "Software\\Kestrelink\\GlintPlayerActiveX:ArvexGlintPlayerInstalled=#0\n" +
      compatibility + "\n" + compatibility + ":Compatibility Flags=#0\n";
  const std::wstring steps = L"1037:1 1037:1 1037:1 1037:1 1037:1 1037:1 1021:1 1834:1 ";
  struct Case {
    uint32_t type;
    const char16_t* flags;
    const wchar_t* player;
    std::wstring reports;
    std::string added;
  } cases[] = {
      {8, u"8", L"GlintAX_34_0_0_384.ocx", L"1037:1 " + steps, kept},  // and its code store
      {16, u"16", L"NPGlint34_0_0_384.dll", L"1020:1 " + steps, ""},
      {32768, u"32768", L"pepglint.dll", L"1020:1 " + steps, ""},
  };
  files_.File(folder_ + L"\\NPGlint34_0_0_384.dll", "player");
  files_.File(folder_ + L"\\pepglint.dll", "player");
  for (const Case& c : cases) {
    Restart((u"HostFlags " + std::u16string(c.flags) + u";").c_str());
    const std::set<std::string> before = Snapshot(folder_);
    const std::wstring player = folder_ + L"\\" + c.player;
    ASSERT_TRUE(shim()->RegisterPlayer(c.type, M(player).Give(), M(hostExe_).Give(), 0, true));
    uint32_t code = 7;
    EXPECT_FALSE(shim()->UninstallPlayer(c.type, M(folder_).Give(), true, false, false, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Reports(), c.reports) << c.type;
    const std::set<std::string> after = Snapshot(folder_);
    std::string removed = LinesOnlyIn(before, after);
    EXPECT_EQ(removed,
              "file " + Utf8Of(c.player) + "\n" + (c.type == 8 ? "file glinthost.exe\n" : ""))
        << c.type;
    EXPECT_EQ(LinesOnlyIn(after, before), c.added) << c.type;
    // Put back the files this type's uninstall took away, for the next type.
    if (c.type == 8) {
      CopyFileW((ProgramFolder() + L"\\glinthost.exe").c_str(), hostExe_.c_str(), FALSE);
    } else {
      files_.File(player, "player");
    }
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerActiveX");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kCompatibility.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink");  // when empty
  }
  // Again, with nothing installed: no record (1018) and no player path (1019).
  Restart(u"HostFlags 16;");
  EXPECT_FALSE(shim()->UninstallPlayer(16, M(folder_).Give(), false, false, false, nullptr));
  EXPECT_EQ(Reports().find(L"1018:1 1019:1 1020:1 "), 0u) << Reports();
}

// Not a check: CTest runs this after the suites that share the registry, as
// a failed one can leave locked keys, on which registration fails silently.
TEST(PrefixCleanup, UnlocksAndForgetsWhatSuitesLeft) {
  LockRegistration(KeyTable::kBroker, false);
  LockRegistration(KeyTable::kControlMachine, false);
  DeleteRegistrationKeys(false, true);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations");
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  UniqueScHandle service(OpenServiceW(manager.Get(), L"ArvexGlintPlayerUpdateSvc", DELETE));
  if (service) DeleteService(service.Get());
}

}  // namespace
