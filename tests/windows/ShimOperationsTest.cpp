// The shim's self-contained operations, run against the real registry and
// file system of the test prefix.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "engine/HostCallbacks.h"
#include "engine/SetupEngine.h"

namespace {

const std::wstring kPlayerKey = L"Software\\Kestrelink\\GlintPlayer";
const std::wstring kSafeVersions = L"Software\\Kestrelink\\GlintPlayer\\SafeVersions";
const std::wstring kReleaseAX = L"SOFTWARE\\Kestrelink\\GlintPlayerActiveXReleaseType";
const std::wstring kReleasePlugin = L"SOFTWARE\\Kestrelink\\GlintPlayerPluginReleaseType";
const std::wstring kReleasePepper = L"SOFTWARE\\Kestrelink\\GlintPlayerPepperReleaseType";

constexpr uint32_t AX = kPlayerActiveX, PL = kPlayerPlugin, PP = kPlayerPepper;

// --- version comparison -----------------------------------------------------

TEST_F(ShimTest, InstalledVersionComparesAtEachBoundary) {
  struct Case {
    const wchar_t* version;  // null: value absent
    uint32_t expected;
  } cases[] = {
      {nullptr, 0},         {L"34.0.0.384", 2}, {L"34.0.0.383", 1}, {L"34.0.0.385", 3},
      {L"34.0.1.0", 3},     {L"34.1.0.0", 3},   {L"35.0.0.0", 3},   {L"33.9.9.999", 1},
      {L"34.0.0.0", 1},     {L"34", 1},         {L"", 1},           {L"x.y", 1},
      {L"34.0.0.384.7", 2},
  };
  for (uint32_t type : {AX, PL, PP}) {
    std::wstring key = kPlayerKey + (type == AX ? L"ActiveX" : type == PL ? L"Plugin" : L"Pepper");
    for (const Case& c : cases) {
      ScratchRegistry registry;
      if (c.version == nullptr) {
        registry.Remove(HKEY_LOCAL_MACHINE, key, L"Version");
      } else {
        registry.SetString(HKEY_LOCAL_MACHINE, key, L"Version", c.version);
      }
      EXPECT_EQ(shim()->CompareInstalledVersion(type), c.expected)
          << "type " << type << " version " << (c.version ? ToUtf8(M(c.version)) : "absent");
    }
  }
}

// --- release types and installability ---------------------------------------

TEST_F(ShimTest, ReleaseTypeTakesTheKeyOfTheLastTypeInTheMask) {
  ScratchRegistry registry;
  registry.SetDword(HKEY_LOCAL_MACHINE, kReleaseAX, L"Release", 2);
  registry.SetDword(HKEY_LOCAL_MACHINE, kReleasePlugin, L"Release", 3);
  registry.Remove(HKEY_LOCAL_MACHINE, kReleasePepper, L"Release");
  struct Case {
    uint32_t mask, releaseType;
    bool expected;
  } cases[] = {
      {AX, 2, true},      {AX, 3, false},      {PL, 3, true},
      {AX | PL, 3, true}, {AX | PL, 2, false},  // plugin wins over ActiveX
      {AX, 1, true},                            // release type 1 never looks at the registry
      {PL, 1, true},      {0, 5, true},         // no type: no key, which counts as missing
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shim()->IsReleaseType(c.mask, c.releaseType), c.expected)
        << "mask " << c.mask << " release type " << c.releaseType;
  }
}

TEST_F(ShimTest, ReleaseTypeKeyAbsentIsTrueValueAbsentIsFalse) {
  ScratchRegistry registry;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kReleasePepper.c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kReleasePepper.c_str());
  EXPECT_TRUE(shim()->IsReleaseType(PP, 7));
  registry.SetString(HKEY_LOCAL_MACHINE, kReleasePepper, L"Other", L"x");
  EXPECT_FALSE(shim()->IsReleaseType(PP, 7));  // key present, "Release" missing
  registry.SetString(HKEY_LOCAL_MACHINE, kReleasePepper, L"Release", L"7");
  EXPECT_FALSE(shim()->IsReleaseType(PP, 7));  // not a DWORD
}

TEST_F(ShimTest, CheckInstallableStopsAtTheFirstFailure) {
  struct Case {
    const char* name;
    uint32_t mask;
    uint32_t releaseType;
    DWORD axRelease;               // 0: no ActiveX release-type value
    DWORD safeVersion;             // 0: no SafeVersions marker
    const wchar_t* pluginVersion;  // null: not installed
    bool expected;
    uint32_t error;  // 777: untouched
  } cases[] = {
      {"empty mask", 0, 0, 0, 0, nullptr, true, 777},
      {"nothing installed", AX | PL | PP, 0, 0, 0, nullptr, true, 777},
      {"ActiveX release differs", AX, 4, 5, 0, nullptr, false, 1161},
      {"ActiveX marker 384", AX, 0, 0, 384, nullptr, true, 777},
      {"ActiveX marker 385", AX, 0, 0, 385, nullptr, false, 1162},
      {"ActiveX marker 385, release 1", AX, 1, 5, 385, nullptr, false, 1013},
      {"plugin newer", PL, 0, 0, 0, L"35.0.0.0", false, 1162},
      {"plugin newer, release 1", PL, 1, 0, 0, L"34.0.1.0", false, 1013},
      {"plugin same", PL, 0, 0, 0, L"34.0.0.384", true, 777},
      {"ActiveX fine, plugin newer", AX | PL, 0, 0, 384, L"34.0.0.999", false, 1162},
      {"ActiveX release first", AX | PL, 4, 5, 0, L"35.0.0.0", false, 1161},
      {"ActiveX marker before plugin", AX | PL, 0, 0, 400, L"35.0.0.0", false, 1162},
      {"Pepper not compared to plugin", PP, 0, 0, 0, L"35.0.0.0", true, 777},
  };
  for (const Case& c : cases) {
    ScratchRegistry registry;
    if (c.axRelease != 0) {
      registry.SetDword(HKEY_LOCAL_MACHINE, kReleaseAX, L"Release", c.axRelease);
    } else {
      registry.Remove(HKEY_LOCAL_MACHINE, kReleaseAX, L"Release");
    }
    registry.Remove(HKEY_LOCAL_MACHINE, kReleasePlugin, L"Release");
    registry.Remove(HKEY_LOCAL_MACHINE, kReleasePepper, L"Release");
    if (c.safeVersion != 0) {
      registry.SetDword(HKEY_LOCAL_MACHINE, kSafeVersions, L"34.0", c.safeVersion);
    } else {
      registry.Remove(HKEY_LOCAL_MACHINE, kSafeVersions, L"34.0");
    }
    if (c.pluginVersion != nullptr) {
      registry.SetString(HKEY_LOCAL_MACHINE, kPlayerKey + L"Plugin", L"Version", c.pluginVersion);
    } else {
      registry.Remove(HKEY_LOCAL_MACHINE, kPlayerKey + L"Plugin", L"Version");
    }
    registry.Remove(HKEY_LOCAL_MACHINE, kPlayerKey + L"Pepper", L"Version");
    uint32_t error = 777;
    EXPECT_EQ(shim()->CheckInstallable(c.mask, &error, c.releaseType), c.expected) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

// --- localised strings ---------------------------------------------------------

TEST_F(ShimTest, LocalizedStringsComeFromTheLibraryThenTheHost) {
  Restart(u"HostStrings { 15 \"host fifteen\"; 3 \"host three\"; };");
  struct Case {
    uint32_t id;
    bool fallback;
    const char* expected;
  } cases[] = {
      {3, false, "This program will install Arvex\xC2\xAE Glint\xC2\xAE Player ^."},
      {3, true, "This program will install Arvex\xC2\xAE Glint\xC2\xAE Player ^."},
      {71, false, "730"},
      {104, false, "Arvex Glint Player"},
      {15, false, "MISSING LOCALIZATION"},  // no table entry, host not asked
      {15, true, "host fifteen"},
      {29, true, "MISSING LOCALIZATION"},  // neither has it
      {0, true, "MISSING LOCALIZATION"},
      {65535, false, "MISSING LOCALIZATION"},
  };
  for (const Case& c : cases) {
    MString text(u"stale");
    shim()->LoadLocalizedString(&text, c.id, c.fallback);
    EXPECT_EQ(ToUtf8(text), c.expected) << "id " << c.id << " fallback " << c.fallback;
  }
}

TEST_F(ShimTest, EveryEnglishTextIsPresent) {
  const uint32_t ids[] = {1,  2,  3,  4,  5,  6,  7,  8,  10, 11, 12, 13, 14,  16,  17,
                          18, 19, 20, 21, 22, 23, 24, 25, 26, 28, 30, 31, 32,  33,  34,
                          35, 36, 38, 39, 51, 52, 53, 54, 55, 56, 57, 58, 59,  60,  61,
                          62, 63, 64, 65, 71, 72, 73, 74, 75, 76, 77, 78, 79,  80,  81,
                          82, 83, 84, 85, 87, 88, 89, 90, 91, 92, 93, 94, 103, 104, 105};
  ASSERT_EQ(std::size(ids), 75u);
  for (uint32_t id : ids) {
    MString text;
    shim()->LoadLocalizedString(&text, id, false);
    EXPECT_NE(ToUtf8(text), "MISSING LOCALIZATION") << "id " << id;
  }
  MString link;
  shim()->LoadLocalizedString(&link, 19, false);
  EXPECT_EQ(ToUtf8(link),
            "<a href=\"https://www.glint.example/products/eulas/#glint_player\">Read the license "
            "here.</a>");
}

// --- system state ----------------------------------------------------------------

TEST_F(ShimTest, UacFollowsEnableLua) {
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  ScratchRegistry registry;
  registry.SetDword(HKEY_LOCAL_MACHINE, key, L"EnableLUA", 1);
  EXPECT_TRUE(shim()->IsUacEnabled());
  registry.SetDword(HKEY_LOCAL_MACHINE, key, L"EnableLUA", 0);
  EXPECT_FALSE(shim()->IsUacEnabled());
  registry.Remove(HKEY_LOCAL_MACHINE, key, L"EnableLUA");
  EXPECT_FALSE(shim()->IsUacEnabled());
}

TEST_F(ShimTest, RealPlayer6LooksAtTheFirstComponent) {
  const std::wstring key = L"SOFTWARE\\RealNetworks\\RealPlayer";
  struct Case {
    const wchar_t* version;
    bool expected;
  } cases[] = {{L"6.0.12.1040", true}, {L"6", true},     {L"60.1", true},
               {L"16.0.0.1", false},   {L"11.0", false}, {L"", false}};
  for (const Case& c : cases) {
    ScratchRegistry registry;
    registry.SetString(HKEY_LOCAL_MACHINE, key, L"version", c.version);
    EXPECT_EQ(shim()->IsRealPlayer6(), c.expected);
  }
  ScratchRegistry registry;
  registry.Remove(HKEY_LOCAL_MACHINE, key, L"version");
  EXPECT_FALSE(shim()->IsRealPlayer6());
}

std::wstring WithoutLast(std::wstring path, int count) {
  for (int i = 0; i < count; ++i) path = path.substr(0, path.rfind(L'\\'));
  return path;
}

TEST_F(ShimTest, ProfilesRootDependsOnTheGeneration) {
  wchar_t documents[MAX_PATH], profile[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
  struct Case {
    const char16_t* config;
    std::wstring expected;
  } cases[] = {
      {u"WindowsGeneration 1;", WithoutLast(documents, 2)},
      {u"WindowsGeneration 0;", WithoutLast(documents, 2)},
      {u"WindowsGeneration 2;", WithoutLast(profile, 1)},
      {u"WindowsGeneration 3;", WithoutLast(profile, 1)},
  };
  for (const Case& c : cases) {
    Restart(c.config);
    char16_t buffer[MAX_PATH];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_FALSE(shim()->GetProfilesRoot(buffer));  // the folder is the answer
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(buffer)), c.expected);
  }
  EXPECT_FALSE(shim()->GetProfilesRoot(nullptr));
}

// The test prefix has C:\glint-reparse\link, a directory link made from the
// Linux side to C:\glint-reparse\target (see the fixture in CMakeLists.txt).
TEST_F(ShimTest, ReparsePointsAreFoundOnThePathAndItsAncestors) {
  ASSERT_TRUE(Exists(L"C:\\glint-reparse\\link")) << "link fixture missing";
  struct Case {
    const char16_t* path;
    bool expected;
  } cases[] = {
      {u"C:\\glint-reparse\\link", true},
      {u"C:\\glint-reparse\\link\\inner", true},
      {u"C:\\glint-reparse\\link\\missing\\deeper\\file.txt", true},
      {u"C:\\glint-reparse\\target\\inner", false},
      {u"C:\\glint-reparse", false},
      {u"C:\\windows\\system32", false},
      {u"C:\\no\\such\\folder", false},
      {u"relative", false},
      {u"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shim()->PathHasReparsePoint(MString(c.path).Give()), c.expected)
        << ToUtf8(MString(c.path));
  }
}

// --- configuration-driven lists ------------------------------------------------

std::vector<std::string> Names(const MStringList* list) {
  std::vector<std::string> names;
  for (const auto& node : *list) names.push_back(ToUtf8(node.key));
  return names;
}

using Strings = std::vector<std::string>;

TEST_F(ShimTest, FileListsComeFromTheConfigurationAndTheFolders) {
  wchar_t system[MAX_PATH], appData[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData), S_OK);
  ScratchFiles files;
  std::wstring kestreli = std::wstring(system) + L"\\Kestreli";
  files.Folder(kestreli);
  files.Folder(kestreli + L"\\Glint");
  files.File(kestreli + L"\\Glint\\GlintAX_34_0_0_384.ocx");
  files.File(kestreli + L"\\Glint\\gcs.cfg");
  files.Folder(kestreli + L"\\Glint\\sub");
  std::wstring bin = std::wstring(appData) + L"\\Kestrelink";
  files.Folder(bin);
  files.Folder(bin += L"\\Glint Player");
  files.Folder(bin += L"\\glintmedia.example");
  files.Folder(bin += L"\\bin");
  files.Folder(bin + L"\\GlintManager1");

  Restart(
      u"AddRemoveProgramsGUIDsAX \"{A1}\" \"{A2}\"; AddRemoveProgramsGUIDsAXSelf \"{A3}\";"
      u"AddRemoveProgramsGUIDsPlugin \"{P1}\"; AddRemoveProgramsGUIDsPepper;"
      u"FilenamesAX a.ocx b.ocx; FilenamesPlugin np.dll;"
      u"AXFilenamePatterns \"GlintAX_:.ocx\"; PluginFilenamePatterns \"NPGlint:.dll\";"
      u"PepperFilenamePatterns \"pep:.dll\"; ProductManagerDirectoryPatterns \"GlintManager:\";"
      u"OtherFilePatterns \"gcs.cfg\";");
  EXPECT_TRUE(shim()->LoadFileLists());
  SetupEngine* e = shim()->GetEngine();
  EXPECT_EQ(Names(&e->arpGuidsActiveX), (Strings{"{A1}", "{A2}", "{A3}"}));
  EXPECT_EQ(Names(&e->arpGuidsPlugin), (Strings{"{P1}"}));
  EXPECT_EQ(Names(&e->arpGuidsPepper), Strings{});
  EXPECT_EQ(Names(shim()->GetActiveXFileNames()), (Strings{"a.ocx", "b.ocx"}));
  EXPECT_EQ(Names(shim()->GetPluginFileNames()), (Strings{"np.dll"}));
  EXPECT_EQ(Names(shim()->GetActiveXFilePatterns()), (Strings{"GlintAX_:.ocx"}));
  EXPECT_EQ(Names(shim()->GetPluginFilePatterns()), (Strings{"NPGlint:.dll"}));
  EXPECT_EQ(Names(shim()->GetPepperFilePatterns()), (Strings{"pep:.dll"}));
  EXPECT_EQ(Names(shim()->GetProductFolderPatterns()), (Strings{"GlintManager:"}));
  EXPECT_EQ(Names(shim()->GetOtherFilePatterns()), (Strings{"gcs.cfg"}));
  Strings listing = Names(&e->systemFolderListing);
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (Strings{"GlintAX_34_0_0_384.ocx", "gcs.cfg", "sub"}));
  EXPECT_EQ(Names(shim()->GetUserBinListing()), (Strings{"GlintManager1"}));
}

TEST_F(ShimTest, FileListsReportMissingKeysAndFolders) {
  // Every key present but the folders absent, then one key absent with the
  // folders present: false both times, and what was there is still loaded.
  const char16_t* allKeys =
      u"AddRemoveProgramsGUIDsAX a; AddRemoveProgramsGUIDsPlugin b; AddRemoveProgramsGUIDsPepper c;"
      u"FilenamesAX d; FilenamesPlugin e; AXFilenamePatterns f; PluginFilenamePatterns g;"
      u"PepperFilenamePatterns h; ProductManagerDirectoryPatterns i; OtherFilePatterns j;";
  Restart(allKeys);
  EXPECT_FALSE(shim()->LoadFileLists());
  EXPECT_EQ(Names(shim()->GetOtherFilePatterns()), (Strings{"j"}));

  Restart(u"FilenamesAX d;");
  EXPECT_FALSE(shim()->LoadFileLists());
  EXPECT_EQ(Names(shim()->GetActiveXFileNames()), (Strings{"d"}));
  EXPECT_EQ(shim()->GetPluginFileNames()->Count(), 0u);

  // The most recent configuration text wins when both carry a key.
  Restart(u"FilenamesAX old;");
  host_->AddConfiguration(MString(u"FilenamesAX new;"));
  shim()->LoadFileLists();
  EXPECT_EQ(Names(shim()->GetActiveXFileNames()), (Strings{"new"}));
}

TEST_F(ShimTest, KeepListsCollectNamesPerType) {
  EXPECT_TRUE(shim()->AddActiveXKeep(MString(u"a.ocx").Give()));
  EXPECT_TRUE(shim()->AddActiveXKeep(MString(u"b.ocx").Give()));
  EXPECT_TRUE(shim()->AddPepperKeep(MString(u"p.dll").Give()));
  EXPECT_TRUE(shim()->AddPluginKeep(MString().Give()));  // a null name is kept as given
  EXPECT_EQ(Names(shim()->GetActiveXKeepList()), (Strings{"a.ocx", "b.ocx"}));
  EXPECT_EQ(Names(shim()->GetPepperKeepList()), (Strings{"p.dll"}));
  EXPECT_EQ(shim()->GetPluginKeepList()->Count(), 1u);
}

// --- operations of other subsystems: present, harmless -----------------------

// Every key and value below a key, and every file below a folder (name, size,
// last write), as one text for before-and-after comparisons.
void Snapshot(HKEY root, const std::wstring& path, std::string& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    out += "absent " + Utf8Of(path.c_str()) + "\n";
    return;
  }
  out += "[" + Utf8Of(path.c_str()) + "]\n";
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD length = 512, type = 0, size = 0;
    if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::string data(size, '\0');
    length = 512;
    RegEnumValueW(key, i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                  &size);
    out += Utf8Of(name) + "=" + std::to_string(type) + ":" + data + "\n";
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD length = 512;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
    subkeys.push_back(name);
  }
  RegCloseKey(key);
  for (const std::wstring& subkey : subkeys) Snapshot(root, path + L"\\" + subkey, out);
}
void Snapshot(const std::wstring& folder, std::string& out) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    out += "absent " + Utf8Of(folder.c_str()) + "\n";
    return;
  }
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    out += Utf8Of((folder + L"\\" + name).c_str()) + " " + std::to_string(entry.nFileSizeLow) +
           " " + std::to_string(entry.ftLastWriteTime.dwLowDateTime) + "\n";
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Snapshot(folder + L"\\" + name, out);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

// Each operation whose work belongs to a later step answers its fixed result
// and leaves the registry and the player's files as they were, whatever the
// host's configuration names.
TEST_F(ShimTest, OperationsNotBuiltYetLeaveRegistryAndFilesUntouched) {
  std::wstring folder = NewTempFolder(L"glint-untouched");
  ScratchFiles files;
  for (const wchar_t* name : {L"\\a.ocx", L"\\GlintAX_34_0_0_384.ocx", L"\\gcs.cfg"}) {
    files.File(folder + name, "player file");
  }
  Restart(
      u"FilenamesAX a.ocx; AXFilenamePatterns \"GlintAX_:.ocx\"; OtherFilePatterns gcs.cfg;"
      u"FilenamesPlugin a.ocx; AddRemoveProgramsGUIDsAX \"{A1}\";");
  shim()->LoadFileLists();
  ScratchRegistry registry;
  registry.SetString(HKEY_CURRENT_USER, kPlayerKey, L"ConflictingProcs", L"Browser");
  registry.SetString(HKEY_LOCAL_MACHINE, kPlayerKey + L"ActiveX", L"Version", L"34.0.0.384");
  auto state = [&] {
    std::string text;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      for (const wchar_t* key :
           {L"Software\\Kestrelink", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
            L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
            L"SYSTEM\\CurrentControlSet\\Services"}) {
        Snapshot(root, key, text);
      }
    }
    for (int csidl : {CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_SYSTEM}) {
      wchar_t path[MAX_PATH] = {};
      SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
      Snapshot(std::wstring(path) + (csidl == CSIDL_SYSTEM ? L"\\Kestreli" : L"\\Kestrelink"),
               text);
    }
    Snapshot(folder, text);
    return text;
  };
  const std::string before = state();
  auto dir = [&] { return M(folder).Give(); };
  MConfigNode* texts = nullptr;
  MString out;
  uint32_t code = 7;
  struct Case {
    const char* name;
    std::function<bool()> run;
    bool expected;
  } cases[] = {
      {"2 CreateSetupWindow", [&] { return shim()->CreateSetupWindow() != nullptr; }, false},
      {"3 DestroySetupWindow", [&] { return shim()->DestroySetupWindow(nullptr), false; }, false},
      {"4 CheckForUpdate", [&] { return shim()->CheckForUpdate(AX, 2, 0, 0); }, false},
      {"8 PrepareUninstall", [&] { return shim()->PrepareUninstall(AX, dir(), true); }, false},
      {"9 RegisterPlayer", [&] { return shim()->RegisterPlayer(AX, dir(), dir(), 0, true); },
       false},
      {"10 RemoveSystemUpdateService", [&] { return shim()->RemoveSystemUpdateService(0, dir()); },
       false},
      {"11 UninstallPlayer",
       [&] { return shim()->UninstallPlayer(AX, dir(), true, true, true, &code); }, false},
      {"12 RemoveListedFiles", [&] { return shim()->RemoveListedFiles(AX | PL, dir()); }, false},
      {"13 RemoveUpdateService", [&] { return shim()->RemoveUpdateService(dir(), true); }, false},
      {"14 RemoveNamedFile",
       [&] {
         return shim()->RemoveNamedFile(MString(u"a.ocx").Give(), M(folder + L"\\a.ocx").Give());
       },
       false},
      {"15 RemoveFilesByPattern", [&] { return shim()->RemoveFilesByPattern(AX, dir()); }, false},
      {"17 RemoveHelperService", [&] { return shim()->RemoveHelperService(dir(), true); }, false},
      {"18 UninstallAssistant", [&] { return shim()->UninstallAssistant(); }, false},
      {"19 RemoveFeedbackService",
       [&] { return shim()->RemoveFeedbackService(dir(), dir(), true); }, false},
      {"20 RemovePerUserData", [&] { return shim()->RemovePerUserData(); }, false},
      {"24 RegisterActiveXControl",
       [&] { return shim()->RegisterActiveXControl(M(folder + L"\\a.ocx").Give()); }, false},
      {"25 RegisterPluginEntry", [&] { return shim()->RegisterPluginEntry(dir()); }, true},
      {"27 RepairControlPermissions", [&] { return shim()->RepairControlPermissions(); }, true},
      {"39 RecordConflictingProcesses",
       [&] { return shim()->RecordConflictingProcesses(AX | PL | PP); }, false},
      {"41 FindConflictingProcesses",
       [&] {
         std::unique_ptr<MStringList> found(shim()->FindConflictingProcesses(AX | PL | PP));
         return found == nullptr || found->Count() != 0;
       },
       false},
      {"49 RejectOfferedUpdate", [&] { return shim()->RejectOfferedUpdate(); }, false},
      {"50 GetNoticeContent", [&] { return shim()->GetNoticeContent(&texts); }, false},
      {"51 GetOfferedVersion", [&] { return shim()->GetOfferedVersion(&out); }, false},
      {"52 ParseNoticeContent",
       [&] { return shim()->ParseNoticeContent(&texts, MString(u"<meta/>").Give()); }, false},
      {"53 ExtractMetaText",
       [&] { return shim()->ExtractMetaText(MString(u"<meta/>").Give(), &out); }, false},
      {"54 ExtractUpdateVersion",
       [&] { return shim()->ExtractUpdateVersion(MString(u"35.0").Give(), &out); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(), c.expected);
    EXPECT_EQ(state(), before);
  }
  EXPECT_EQ(texts, nullptr);
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(shim()->WasRegistered());
  RemoveTree(folder);
}

// Slot 40 deletes the conflict record; a record that is not there is a
// failed deletion, reported with the key, the value and the error.
TEST_F(ShimTest, ClearingConflictsDeletesTheRecordAndReportsAMissingOne) {
  ScratchRegistry registry;
  registry.SetString(HKEY_CURRENT_USER, kPlayerKey, L"ConflictingProcs", L"Browser,Player");
  const size_t earlier = host_->Reports().size();
  EXPECT_TRUE(shim()->ClearConflictingProcesses());
  DWORD size = 0;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPlayerKey.c_str(), L"ConflictingProcs", RRF_RT_ANY,
                         nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(host_->Reports().size(), earlier);
  EXPECT_FALSE(shim()->ClearConflictingProcesses());
  ASSERT_EQ(host_->Reports().size(), earlier + 1);
  const StatusReport& report = host_->Reports().back();
  EXPECT_EQ(report.level, 1);
  EXPECT_EQ(report.code, 1037u);
  EXPECT_EQ(ToUtf8(report.detail), "Software\\Kestrelink\\GlintPlayer/ConflictingProcs 2");
}

// A host that answers nothing useful, and no host at all.
class SilentHost final : public HostCallbacks {};

TEST(ShimWithoutAnswers, NeverCrashes) {
  GlintLibrary library;
  ASSERT_TRUE(library.Load());
  SilentHost silent;
  for (HostCallbacks* host :
       {static_cast<HostCallbacks*>(&silent), static_cast<HostCallbacks*>(nullptr)}) {
    ShimHandle shim(library.Start()(host));
    ASSERT_TRUE(shim);
    MString text;
    shim->LoadLocalizedString(&text, 15, true);
    EXPECT_EQ(ToUtf8(text), "MISSING LOCALIZATION");
    shim->LoadLocalizedString(nullptr, 3, true);
    EXPECT_FALSE(shim->LoadFileLists());
    EXPECT_FALSE(shim->OpenExpressInstallPage(nullptr));
    uint32_t error = 5;
    shim->CheckInstallable(AX | PL | PP, &error, 0);
    shim->CheckInstallable(AX | PL | PP, nullptr, 2);
    char16_t buffer[MAX_PATH];
    EXPECT_FALSE(shim->GetProfilesRoot(buffer));
    EXPECT_FALSE(shim->PathHasReparsePoint(MString().Give()));
    EXPECT_FALSE(shim->NoOperation(MString().Give()));
    shim->IsUacEnabled();
    shim->IsRealPlayer6();
    shim->CompareInstalledVersion(0);
    shim->CompareInstalledVersion(0xFFFFFFFF);
    shim->RefreshIEElevationPolicy();
    EXPECT_FALSE(shim->OpenControlPanelApplet());
  }
}

}  // namespace
