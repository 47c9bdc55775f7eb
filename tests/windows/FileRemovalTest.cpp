// Removal of player files by name, by list and by pattern, on real files and
// links in the prefix, and of every profile's player data.
#include <windows.h>
#include <shlobj.h>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "engine/Uninstall.h"

namespace {

const std::wstring kClass =
    L"Software\\Classes\\CLSID\\{112EBC29-AF42-4D7B-8F4B-F59D45F130F6}\\InprocServer32";

const wchar_t kSession[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

class FileRemoval : public ShimTest {
 protected:
  void TearDown() override {
    RemoveTree(folder_);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations");
    ShimTest::TearDown();
  }
  std::wstring Reports() { return ReportCodes(*host_); }
  ScratchRegistry registry_;
  ScratchFiles files_;
  const std::wstring folder_ = NewTempFolder(L"glint-removal");
};

TEST_F(FileRemoval, NamedFilesByKind) {
  const std::wstring control = folder_ + L"\\GlintAX_34_0_0_384.ocx";
  const std::wstring utility = folder_ + L"\\GlintUtil_ActiveX.exe";
  const std::wstring other = folder_ + L"\\notes.dat";
  files_.Copy(ProgramFolder() + L"\\GlintAX_34_0_0_384.ocx", control);
  files_.Copy(ProgramFolder() + L"\\glintstub.dll", utility);
  files_.File(other, "x");
  Restart(u"Interactive 1;");
  shim()->AddActiveXKeep(M(L"GlintUtil_ActiveX.exe").Give());
  ASSERT_TRUE(shim()->RegisterActiveXControl(M(control).Give()));
  ASSERT_TRUE(StandIns::KeyExists(kClass.c_str()));
  // Kept and the host interactive: the utility goes at restart all the same.
  UniqueModule held(LoadLibraryW(utility.c_str()));
  for (const std::wstring& path : {control, utility, other})
    EXPECT_TRUE(shim()->RemoveNamedFile(M(path.substr(folder_.size() + 1)).Give(), M(path).Give()));
  EXPECT_FALSE(StandIns::KeyExists(kClass.c_str()));
  EXPECT_FALSE(Exists(control));
  EXPECT_FALSE(Exists(other));
  EXPECT_TRUE(Exists(utility));
  EXPECT_NE(Reports().find(L"1047:2 "), std::wstring::npos) << Reports();
  EXPECT_NE(PendingRenames().find(utility), std::wstring::npos);

  // A held control in the keep list stays for an interactive host.
  files_.Copy(ProgramFolder() + L"\\GlintAX_34_0_0_384.ocx", control);
  UniqueHandle heldControl(CreateFileW(control.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  shim()->AddActiveXKeep(M(L"GlintAX_34_0_0_384.ocx").Give());
  EXPECT_TRUE(shim()->RemoveNamedFile(M(L"GlintAX_34_0_0_384.ocx").Give(), M(control).Give()));
  EXPECT_TRUE(Exists(control));
  EXPECT_EQ(PendingRenames().find(control), std::wstring::npos);
}

TEST_F(FileRemoval, ListedFilesInEveryBrowsersPluginFolder) {
  const std::wstring player = L"NPGlint34_0_0_384.dll";
  const std::wstring folders[] = {folder_ + L"\\moz", folder_ + L"\\opera\\Program\\Plugins",
                                  folder_ + L"\\dir", folder_ + L"\\elsewhere"};
  for (const std::wstring& folder : folders) {
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    files_.File(folder + L"\\" + player, "player");
  }
  registry_.SetString(HKEY_LOCAL_MACHINE, L"Software\\Mozilla\\Glint Test 1\\extensions",
                      L"Plugins", folders[0]);
  // No "Plugins" value: reported, the others still read.
  registry_.SetString(HKEY_LOCAL_MACHINE, L"Software\\Mozilla\\Glint Test 2\\extensions", L"Other",
                      L"x");
  registry_.SetString(HKEY_CURRENT_USER, L"Software\\Opera Software", L"Last CommandLine",
                      folder_ + L"\\opera\\opera.exe");
  // Neither a program nor a plugin folder: not taken. (The user's value
  // comes first: a plugin folder whose player is a link planted elsewhere.)
  registry_.SetString(HKEY_LOCAL_MACHINE, L"Software\\Opera Software", L"Plugin Path", folders[3]);
  registry_.SetString(HKEY_CURRENT_USER, L"Software\\Opera Software", L"Plugin Path",
                      L"C:\\glint-tree\\Plugins");
  Restart((u"FilenamesPlugin " + std::u16string(player.begin(), player.end()) + u";").c_str());
  shim()->LoadFileLists();
  EXPECT_TRUE(shim()->RemoveListedFiles(kPlayerPlugin, M(folders[2]).Give()));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Exists(folders[i] + L"\\" + player)) << i;
  EXPECT_TRUE(Exists(folders[3] + L"\\" + player));
  EXPECT_TRUE(Exists(L"C:\\glint-tree\\outside-file.txt"));
  EXPECT_NE(Reports().find(L"1036:1 "), std::wstring::npos) << Reports();
  EXPECT_EQ(host_->RemovalsFinished(), 1);
  // Collected once: a second run finds the same folders, nothing new.
  EXPECT_EQ(shim()->GetBrowserPluginFolders()->Count(), 4u);
}

// The product folder in the system folder: one type's bit touches only its
// patterns; all three take the other files (the administrator's file stays
// unless the removal is full) and the folder when empty. ("Temp" beside it:
// held, RestartTest's; a link, the next case's.)
TEST_F(FileRemoval, ByPatternFromTheSystemFolderListing) {
  const std::wstring parent = KnownFolder(CSIDL_SYSTEM) + L"\\Kestreli";
  const std::wstring dir = parent + L"\\Glint";
  CreateDirectoryW(parent.c_str(), nullptr), CreateDirectoryW(dir.c_str(), nullptr);
  for (const wchar_t* name : {L"\\abc_64.dll", L"\\xabc.dll", L"\\gcs.cfg", L"\\GlintInstall1.log"})
    files_.File(dir + name, "x");
  Restart(
      u"PluginFilenamePatterns \"abc:.dll\"; OtherFilePatterns \"GlintInstall:.log\" gcs.cfg;"
      u" FullRemoval 0;");
  shim()->LoadFileLists();
  EXPECT_TRUE(shim()->RemoveFilesByPattern(kPlayerPlugin, M(dir).Give()));
  // The pattern's prefix and suffix hold. (Which of several matches goes is
  // the native tests' case: the listing's order is the file system's here.)
  EXPECT_EQ(std::to_string(Exists(dir + L"\\abc_64.dll")) +
                std::to_string(Exists(dir + L"\\xabc.dll")) +
                std::to_string(Exists(dir + L"\\GlintInstall1.log")),
            "011");
  EXPECT_TRUE(
      shim()->RemoveFilesByPattern(kPlayerActiveX | kPlayerPlugin | kPlayerPepper, M(dir).Give()));
  EXPECT_EQ(std::to_string(Exists(dir + L"\\GlintInstall1.log")) +
                std::to_string(Exists(dir + L"\\gcs.cfg")) + std::to_string(Exists(dir)),
            "011");
  RemoveTree(parent);
}

// A product folder whose "Temp" neighbour is a link planted elsewhere: the
// link is reported kept, neither entered, deleted nor scheduled, its target
// intact. A product folder that is itself a link leaves its empty target alone.
TEST_F(FileRemoval, LinkedTempBesideTheProductFolder) {
  const std::wstring parent = L"C:\\glint-tree\\product";
  Restart(u"FullRemoval 1;");
  shim()->LoadFileLists();
  EXPECT_TRUE(shim()->RemoveFilesByPattern(kPlayerActiveX | kPlayerPlugin | kPlayerPepper,
                                           M(parent + L"\\Glint").Give()));
  EXPECT_FALSE(Exists(parent + L"\\Glint"));
  EXPECT_TRUE(Exists(parent + L"\\Temp\\sentinel.txt"));
  EXPECT_EQ(Reports(), L"1833:1 ");
  EXPECT_EQ(PendingRenames().find(parent + L"\\Temp"), std::wstring::npos);
  EXPECT_NE(PendingRenames().find(parent + L"||"), std::wstring::npos);
  EXPECT_TRUE(shim()->RemoveFilesByPattern(kPlayerActiveX | kPlayerPlugin | kPlayerPepper,
                                           M(L"C:\\glint-tree\\linked-product\\Glint").Give()));
  EXPECT_TRUE(Exists(L"C:\\glint-tree\\outside-empty"));
  // Nor is a file link left for the restart, which deletes by name.
  const std::wstring link = L"C:\\glint-tree\\Plugins\\NPGlint34_0_0_384.dll";
  EXPECT_FALSE(ScheduleDeleteAtRestart(host_.get(), M(link)));
  EXPECT_EQ(PendingRenames().find(link), std::wstring::npos);
}

// Every profile's player data, in both layouts. The current user's own
// folders are moved aside first (other suites keep fixtures there); the
// tree fixture's profile has its data folder linked elsewhere.
TEST_F(FileRemoval, PerUserDataInEveryProfile) {
  for (int csidl : {CSIDL_APPDATA, CSIDL_LOCAL_APPDATA})
    files_.Hide(KnownFolder(csidl) + L"\\Kestrelink");
  files_.Hide(KnownFolder(CSIDL_APPDATA) + L"\\Arvex");
  const std::wstring users =
      KnownFolder(CSIDL_PROFILE).substr(0, KnownFolder(CSIDL_PROFILE).rfind(L'\\'));
  const std::wstring p1 = users + L"\\glint-p1", p2 = users + L"\\glint-p2";
  const std::wstring files[] = {
      p1 + L"\\AppData\\Roaming\\Kestrelink\\Glint Player\\a.sol",
      p1 + L"\\AppData\\Roaming\\Kestrelink\\Other\\keep.dat",
      p1 + L"\\AppData\\Local\\Kestrelink\\Glint Player\\b.dat",
      p1 + L"\\AppData\\Roaming\\Arvex\\Glint Player\\c.dat",
      p2 + L"\\AppData\\Roaming\\Kestrelink\\Glint Player\\held.sol",
      p2 + L"\\Application Data\\Kestrelink\\Glint Player\\old.sol",
  };
  for (const std::wstring& file : files) {
    SHCreateDirectoryExW(nullptr, file.substr(0, file.rfind(L'\\')).c_str(), nullptr);
    files_.File(file, "x");
  }
  UniqueHandle held(CreateFileW(files[4].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  struct Case {
    const char16_t* config;
    const char* left;  // whether each of `files` is left, then Arvex and Local\Kestrelink
    const wchar_t* reports;
  } cases[] = {{u"WindowsGeneration 3;", "01001110", L"1833:1 1833:1 "},
               {u"WindowsGeneration 1;", "01001010", L""}};
  for (const Case& c : cases) {
    Restart(c.config);
    EXPECT_TRUE(shim()->RemovePerUserData());
    std::string left;
    for (const std::wstring& file : files) left += Exists(file) ? "1" : "0";
    left += Exists(p1 + L"\\AppData\\Roaming\\Arvex") ? "1" : "0";
    left += Exists(p1 + L"\\AppData\\Local\\Kestrelink") ? "1" : "0";
    EXPECT_EQ(left, c.left) << ToUtf8(MString(c.config));
    EXPECT_EQ(Reports(), c.reports) << ToUtf8(MString(c.config));
  }
  // The linked profile: its linked data folder skipped, the links inside its
  // real one left (the folder with them, reported), every target intact.
  const std::wstring linked = users + L"\\glint-linked\\AppData\\Local\\Kestrelink\\Glint Player";
  EXPECT_EQ(std::to_string(Exists(linked + L"\\plain.sol")) +
                std::to_string(Exists(linked + L"\\inner")) +
                std::to_string(Exists(linked + L"\\file.sol")),
            "011");
  EXPECT_TRUE(Exists(L"C:\\glint-tree\\outside\\sentinel.txt"));
  EXPECT_TRUE(Exists(L"C:\\glint-tree\\outside-file.txt"));
  held.Reset();
  RemoveTree(p1), RemoveTree(p2);
}

}  // namespace
