// The shim's self-contained operations, against the test prefix's registry and files.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "engine/HostCallbacks.h"
#include "engine/SetupEngine.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const std::wstring kPlayerKey = L"Software\\Kestrelink\\GlintPlayer";
const std::wstring kRelease = L"SOFTWARE\\Kestrelink\\GlintPlayer";
const std::wstring kReleaseAX = kRelease + L"ActiveXReleaseType";
const std::wstring kReleasePepper = kRelease + L"PepperReleaseType";
constexpr uint32_t AX = kPlayerActiveX, PL = kPlayerPlugin, PP = kPlayerPepper;
using Strings = std::vector<std::string>;

// Sets a value for the test, or removes it when there is none (null, 0).
void Put(ScratchRegistry& r, const std::wstring& key, const wchar_t* name, const wchar_t* text) {
  text != nullptr ? r.SetString(HKLM, key, name, text) : r.Remove(HKLM, key, name);
}
void Put(ScratchRegistry& r, const std::wstring& key, const wchar_t* name, DWORD number) {
  number != 0 ? r.SetDword(HKLM, key, name, number) : r.Remove(HKLM, key, name);
}

// The names of several lists: "a b|c|..." (a list's names in its order).
std::string Joined(std::initializer_list<const MStringList*> lists) {
  std::string text;
  for (const MStringList* list : lists) {
    for (const auto& node : *list) text += ToUtf8(node.key) + " ";
    text += "|";
  }
  return text;
}

TEST_F(ShimTest, InstalledVersionComparesAtEachBoundary) {
  // clang-format off
  const struct { const wchar_t* version; uint32_t expected; } cases[] = {  // null: absent
      {nullptr, 0}, {L"34.0.0.384", 2}, {L"34.0.0.383", 1}, {L"34.0.0.385", 3}, {L"", 1},
      {L"x.y", 1},
  };
  // clang-format on
  for (uint32_t type : {AX, PL, PP}) {
    std::wstring key = kPlayerKey + (type == AX ? L"ActiveX" : type == PL ? L"Plugin" : L"Pepper");
    for (const auto& c : cases) {
      ScratchRegistry registry;
      Put(registry, key, L"Version", c.version);
      EXPECT_EQ(shim()->CompareInstalledVersion(type), c.expected)
          << "type " << type << " version " << (c.version ? ToUtf8(M(c.version)) : "absent");
    }
  }
}

TEST_F(ShimTest, ReleaseTypeIsReadFromTheTypesKey) {
  ScratchRegistry registry;
  registry.SetDword(HKLM, kReleaseAX, L"Release", 2);
  registry.SetDword(HKLM, kRelease + L"PluginReleaseType", L"Release", 3);
  RegDeleteTreeW(HKLM, kReleasePepper.c_str());
  // clang-format off
  const struct { uint32_t mask, releaseType; bool expected; } cases[] = {
      {AX, 2, true}, {AX, 3, false}, {PL, 3, true},
      {0, 5, true}, {PP, 7, true},  // no type or no key counts as missing
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(shim()->IsReleaseType(c.mask, c.releaseType), c.expected)
        << "mask " << c.mask << " release type " << c.releaseType;
  }
  registry.SetString(HKLM, kReleasePepper, L"Release", L"7");
  EXPECT_FALSE(shim()->IsReleaseType(PP, 7));  // not a DWORD
}

TEST_F(ShimTest, CheckInstallableStopsAtTheFirstFailure) {
  // ActiveX release and safe version 0: absent; plugin version null: not installed; 777: untouched
  // clang-format off
  const struct { const char* name; uint32_t mask, releaseType; DWORD axRelease, safeVersion;
                 const wchar_t* pluginVersion; bool expected; uint32_t error; } cases[] = {
      {"empty mask", 0, 0, 0, 0, nullptr, true, 777},
      {"nothing installed", AX | PL | PP, 0, 0, 0, nullptr, true, 777},
      {"ActiveX release differs", AX, 4, 5, 0, nullptr, false, 1161},
      {"ActiveX marker 384", AX, 0, 0, 384, nullptr, true, 777},
      {"ActiveX marker 385", AX, 0, 0, 385, nullptr, false, 1162},
      {"ActiveX marker 385, release 1", AX, 1, 5, 385, nullptr, false, 1013},
      {"plugin newer", PL, 0, 0, 0, L"35.0.0.0", false, 1162},
      {"plugin same", PL, 0, 0, 0, L"34.0.0.384", true, 777},
      {"ActiveX fine, plugin newer", AX | PL, 0, 0, 384, L"34.0.0.999", false, 1162},
      {"ActiveX release first", AX | PL, 4, 5, 0, L"35.0.0.0", false, 1161},
      {"Pepper not compared to plugin", PP, 0, 0, 0, L"35.0.0.0", true, 777},
  };
  // clang-format on
  for (const auto& c : cases) {
    ScratchRegistry registry;
    Put(registry, kReleaseAX, L"Release", c.axRelease);
    Put(registry, kRelease + L"PluginReleaseType", L"Release", DWORD{0});
    Put(registry, kReleasePepper, L"Release", DWORD{0});
    Put(registry, kPlayerKey + L"\\SafeVersions", L"34.0", c.safeVersion);
    Put(registry, kPlayerKey + L"Plugin", L"Version", c.pluginVersion);
    Put(registry, kPlayerKey + L"Pepper", L"Version", nullptr);
    uint32_t error = 777;
    EXPECT_EQ(shim()->CheckInstallable(c.mask, &error, c.releaseType), c.expected) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

TEST_F(ShimTest, LocalizedStringsComeFromTheLibraryThenTheHost) {
  Restart(u"HostStrings { 15 \"host fifteen\"; 3 \"host three\"; };");
  const char* kMissing = "MISSING LOCALIZATION";
  // clang-format off
  const struct { uint32_t id; bool fallback; const char* expected; } cases[] = {
      {3, true, "This program will install Arvex\xC2\xAE Glint\xC2\xAE Player ^."},
      {15, false, kMissing},  // no table entry, host not asked
      {15, true, "host fifteen"}, {29, true, kMissing},  // neither has it
      {0, true, kMissing}, {65535, false, kMissing}};
  // clang-format on
  for (const auto& c : cases) {
    MString text(u"stale");
    shim()->LoadLocalizedString(&text, c.id, c.fallback);
    EXPECT_EQ(ToUtf8(text), c.expected) << "id " << c.id << " fallback " << c.fallback;
  }
}

// Each table as the library holds it, through the thread's language:
// English's 75 texts, then in every table the same ones in its own script.
// (Which table a language reads is StringTables' unit case; the tables'
// placeholders, links and widths are check-string-tables.py's.)
TEST_F(ShimTest, EachLanguageReadsItsOwnTable) {
  const LCID before = GetThreadLocale();
  auto texts = [&](LANGID language) {
    EXPECT_TRUE(SetThreadLocale(MAKELCID(language, SORT_DEFAULT))) << std::hex << language;
    std::vector<std::string> all;
    for (uint32_t id = 0; id < 106; ++id) {
      MString text;
      shim()->LoadLocalizedString(&text, id, false);
      all.push_back(ToUtf8(text));
    }
    return all;
  };
  const std::vector<std::string> english = texts(0x0409);
  EXPECT_EQ(std::count(english.begin(), english.end(), "MISSING LOCALIZATION"), 106 - 75);
  // clang-format off
  const struct { LANGID language; const char* script; } tables[] = {
      {0x0404, "\xE7"}, {0x0405, "\xC5\xA1"}, {0x0407, "\xC3"}, {0x040C, "\xC3"}, {0x0410, "\xC3"},
      {0x0411, "\xE3"}, {0x0412, "\xEC"}, {0x0413, " de "}, {0x0415, "\xC5"}, {0x0416, "\xC3"},
      {0x0419, "\xD0"}, {0x041F, "\xC4\xB1"}, {0x0804, "\xE5"}, {0x0C0A, "\xC3"},
      {0x041D /* the neutral Swedish table */, "\xC3"}};
  // clang-format on
  for (const auto& table : tables) {
    const std::vector<std::string> own = texts(table.language);
    std::string scripts;
    for (uint32_t id = 0; id < own.size(); ++id) {
      EXPECT_EQ(own[id] == "MISSING LOCALIZATION", english[id] == "MISSING LOCALIZATION") << id;
      scripts += own[id];
    }
    EXPECT_NE(scripts.find(table.script), std::string::npos) << std::hex << table.language;
  }
  SetThreadLocale(before);
}

TEST_F(ShimTest, UacAndRealPlayer6FollowTheRegistry) {
  const std::wstring uac = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  for (DWORD lua : {1, 0, 2}) {  // 2: absent
    ScratchRegistry registry;
    lua < 2 ? registry.SetDword(HKLM, uac, L"EnableLUA", lua)
            : registry.Remove(HKLM, uac, L"EnableLUA");
    EXPECT_EQ(shim()->IsUacEnabled(), lua == 1) << lua;
  }
  // clang-format off
  const struct { const wchar_t* version; bool expected; } cases[] = {  // null: absent
      {L"6.0.12.1040", true}, {L"6", true}, {L"60.1", true}, {L"16.0.0.1", false},
      {L"11.0", false}, {L"", false}, {nullptr, false}};
  // clang-format on
  for (const auto& c : cases) {
    ScratchRegistry registry;
    Put(registry, L"SOFTWARE\\RealNetworks\\RealPlayer", L"version", c.version);
    EXPECT_EQ(shim()->IsRealPlayer6(), c.expected) << (c.version ? ToUtf8(M(c.version)) : "absent");
  }
}

TEST_F(ShimTest, ProfilesRootDependsOnTheGeneration) {
  auto withoutLast = [](int csidl, int count) {
    std::wstring path = KnownFolder(csidl);
    for (int i = 0; i < count; ++i) path = path.substr(0, path.rfind(L'\\'));
    return path;
  };
  const std::wstring documentsUp2 = withoutLast(CSIDL_PERSONAL, 2);
  const std::wstring profileUp1 = withoutLast(CSIDL_PROFILE, 1);
  // clang-format off
  const struct { const char16_t* config; const std::wstring& expected; } cases[] = {
      {u"WindowsGeneration 1;", documentsUp2}, {u"WindowsGeneration 0;", documentsUp2},
      {u"WindowsGeneration 2;", profileUp1}, {u"WindowsGeneration 3;", profileUp1}};
  // clang-format on
  for (const auto& c : cases) {
    Restart(c.config);
    char16_t buffer[MAX_PATH];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_FALSE(shim()->GetProfilesRoot(buffer));  // the folder is the answer
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(buffer)), c.expected);
  }
  EXPECT_FALSE(shim()->GetProfilesRoot(nullptr));
}

// C:\glint-reparse\link links to C:\glint-reparse\target (a fixture of CMakeLists.txt).
TEST_F(ShimTest, ReparsePointsAreFoundOnThePathAndItsAncestors) {
  ASSERT_TRUE(Exists(L"C:\\glint-reparse\\link")) << "link fixture missing";
  // clang-format off
  const struct { const char16_t* path; bool expected; } cases[] = {
      {u"C:\\glint-reparse\\link", true}, {u"C:\\glint-reparse\\link\\inner", true},
      {u"C:\\glint-reparse\\link\\missing\\deeper\\file.txt", true},
      {u"C:\\glint-reparse\\target\\inner", false}, {u"C:\\glint-reparse", false},
      {u"C:\\windows\\system32", false}, {u"relative", false}, {u"", false}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(shim()->PathHasReparsePoint(MString(c.path).Give()), c.expected)
        << ToUtf8(MString(c.path));
  }
}

TEST_F(ShimTest, FileAndKeepListsComeFromTheConfigurationAndTheFolders) {
  EXPECT_TRUE(shim()->AddPepperKeep(MString(u"p.dll").Give()));
  EXPECT_TRUE(shim()->AddPluginKeep(MString().Give()));  // a null name is kept as given
  EXPECT_EQ(Joined({shim()->GetPepperKeepList()}), "p.dll |");
  EXPECT_EQ(shim()->GetPluginKeepList()->Count(), 1u);
  {
    ScratchFiles files;
    const std::wstring system = KnownFolder(CSIDL_SYSTEM) + L"\\Kestreli";
    const std::wstring bin = KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink";
    auto folders = [&](const std::wstring& path) {  // every level that is missing
      for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        files.Folder(path.substr(0, at));
      files.Folder(path);
    };
    folders(system + L"\\Glint\\sub");
    folders(bin + L"\\Glint Player\\glintmedia.example\\bin\\GlintManager1");
    files.File(system + L"\\Glint\\GlintAX_34_0_0_384.ocx");
    files.File(system + L"\\Glint\\gcs.cfg");
    Restart(
        u"AddRemoveProgramsGUIDsAX \"{A1}\" \"{A2}\"; AddRemoveProgramsGUIDsAXSelf \"{A3}\";"
        u"AddRemoveProgramsGUIDsPlugin \"{P1}\"; AddRemoveProgramsGUIDsPepper;"
        u"FilenamesAX a.ocx b.ocx; FilenamesPlugin np.dll;"
        u"AXFilenamePatterns \"GlintAX_:.ocx\"; PluginFilenamePatterns \"NPGlint:.dll\";"
        u"PepperFilenamePatterns \"pep:.dll\"; ProductManagerDirectoryPatterns \"GlintManager:\";"
        u"OtherFilePatterns \"gcs.cfg\";");
    EXPECT_TRUE(shim()->LoadFileLists());
    SetupEngine* e = shim()->GetEngine();
    EXPECT_EQ(Joined({&e->arpGuidsActiveX, &e->arpGuidsPlugin, &e->arpGuidsPepper,
                      shim()->GetActiveXFileNames(), shim()->GetPluginFileNames(),
                      shim()->GetActiveXFilePatterns(), shim()->GetPluginFilePatterns(),
                      shim()->GetPepperFilePatterns(), shim()->GetProductFolderPatterns(),
                      shim()->GetOtherFilePatterns(), shim()->GetUserBinListing()}),
              "{A1} {A2} {A3} |{P1} ||a.ocx b.ocx |np.dll |GlintAX_:.ocx |NPGlint:.dll |pep:.dll "
              "|GlintManager: |gcs.cfg |GlintManager1 |");
    Strings listing;
    for (const auto& node : e->systemFolderListing) listing.push_back(ToUtf8(node.key));
    std::sort(listing.begin(), listing.end());
    EXPECT_EQ(listing, (Strings{"GlintAX_34_0_0_384.ocx", "gcs.cfg", "sub"}));
  }
  // Every key present but the folders absent: false, and what was there is
  // still loaded.
  Restart(
      u"AddRemoveProgramsGUIDsAX a; AddRemoveProgramsGUIDsPlugin b; AddRemoveProgramsGUIDsPepper c;"
      u"FilenamesAX d; FilenamesPlugin e; AXFilenamePatterns f; PluginFilenamePatterns g;"
      u"PepperFilenamePatterns h; ProductManagerDirectoryPatterns i; OtherFilePatterns j;");
  EXPECT_FALSE(shim()->LoadFileLists());
  EXPECT_EQ(Joined({shim()->GetOtherFilePatterns()}), "j |");
}

// With no player installed nothing conflicts and the record is left as it is
// (slots 41, 39). Slot 40 deletes the record; a missing one is a failed
// deletion, reported.
TEST_F(ShimTest, ClearingConflictsDeletesTheRecordAndReportsAMissingOne) {
  ScratchRegistry registry;
  registry.SetString(HKEY_CURRENT_USER, kPlayerKey, L"ConflictingProcs", L"Browser,Player");
  std::unique_ptr<MStringList> found(shim()->FindConflictingProcesses(AX | PL | PP));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Count(), 0u);
  EXPECT_FALSE(shim()->RecordConflictingProcesses(AX | PL | PP));
  const size_t earlier = host_->Reports().size();
  EXPECT_TRUE(shim()->ClearConflictingProcesses());
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPlayerKey.c_str(), L"ConflictingProcs", RRF_RT_ANY,
                         nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(host_->Reports().size(), earlier);
  EXPECT_FALSE(shim()->ClearConflictingProcesses());
  ASSERT_EQ(host_->Reports().size(), earlier + 1);
  const StatusReport& r = host_->Reports().back();
  EXPECT_EQ(std::to_string(r.level) + " " + std::to_string(r.code) + " " + ToUtf8(r.detail),
            "1 1037 Software\\Kestrelink\\GlintPlayer/ConflictingProcs 2");
}

class SilentHost final : public HostCallbacks {};  // answers nothing useful

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
    shim->DestroySetupWindow(nullptr);
    char16_t buffer[MAX_PATH];
    EXPECT_FALSE(shim->GetProfilesRoot(buffer) || shim->PathHasReparsePoint(MString().Give()) ||
                 shim->NoOperation(MString().Give()) || shim->OpenControlPanelApplet());
    shim->RefreshIEElevationPolicy();  // its answer is the system's; only that it answers matters
  }
}

}  // namespace
