// The storage path policy on this system's real folders, the administrator
// file and the storage file manager.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "broker/PlayerPaths.h"
#include "broker/SasmFileManager.h"

namespace {

using Text = PathRules::Text;

Text T(const std::wstring& text) {
  return Text(reinterpret_cast<const char16_t*>(text.c_str()));
}
std::wstring Wd(const Text& text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.c_str()));
}

class PlayerPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    lowTemp_ = std::wstring(temp) + L"Low";
    CreateDirectoryW(lowTemp_.c_str(), nullptr);
  }
  std::wstring appData_ = KnownFolder(CSIDL_APPDATA);
  std::wstring localAppData_ = KnownFolder(CSIDL_LOCAL_APPDATA);
  std::wstring store_ = appData_ + L"\\Kestrelink\\Glint Player";
  std::wstring lowTemp_;
};

TEST_F(PlayerPathsTest, FoldersFollowTheLocalApplicationDataSwitch) {
  PlayerPaths roaming(true);
  ASSERT_TRUE(roaming.SharedObjectsRoot());
  EXPECT_EQ(Wd(*roaming.SharedObjectsRoot()), store_);
  EXPECT_EQ(Wd(*roaming.PlayerDataRoot()), appData_ + L"\\Arvex\\Glint Player");
  EXPECT_EQ(Wd(*roaming.MakerSiteFolder()), store_ + L"\\glintmedia.example");
  EXPECT_EQ(Wd(*roaming.LowTemporaryFolder()), lowTemp_);
  PlayerPaths local(true);
  local.SetUseLocalAppData(true);
  EXPECT_EQ(Wd(*local.SharedObjectsRoot()), localAppData_ + L"\\Kestrelink\\Glint Player");
  // Outside the broker no "Low" is added to the temporary folder.
  PlayerPaths engine(false);
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  EXPECT_EQ(Wd(*engine.LowTemporaryFolder()), std::wstring(temp, length - 1));
}

TEST_F(PlayerPathsTest, WriteRule) {
  PlayerPaths paths(true);
  ScratchFiles files;
  for (const std::wstring& folder :
       {appData_ + L"\\Arvex", appData_ + L"\\Arvex\\Glint Player",
        store_ + L"\\glintmedia.example", store_ + L"\\glintmedia.example\\support",
        store_ + L"\\glintmedia.example\\support\\glintplayer",
        store_ + L"\\glintmedia.example\\support\\glintplayer\\sys",
        store_ + L"\\glintmedia.example\\support\\glintplayer\\sys\\#ab"}) {
    files.Folder(folder);
  }
  const std::wstring s = store_ + L"\\#SharedObjects";
  struct Case {
    std::wstring path;
    bool checkExtension;
    bool permitted;
    bool settingsArea;
    bool temporary;
  } cases[] = {
      {s + L"\\a.sol", true, true, true, false},
      {store_, false, true, false, false},  // the root itself
      {store_ + L"\\x.sol", true, true, false, false},
      {appData_ + L"\\Arvex\\Glint Player\\x.sol", true, true, false, false},
      {store_ + L"2\\x.sol", true, false, false, false},
      {store_ + L"\\glintmedia.example\\x.sol", true, false, false, false},
      {store_ + L"\\glintmedia.example\\support\\glintplayer\\sys\\#ab\\x.sol", true, false, true,
       false},
      {store_ + L"\\x.exe", true, false, false, false},
      {store_ + L"\\x.exe", false, true, false, false},
      {store_ + L"\\missing\\x.sol", true, false, false, false},  // no such folder yet
      {lowTemp_ + L"\\x.exe", true, true, false, true},
      {L"\\\\?\\" + store_ + L"\\x.sol", true, true, false, false},
      {store_ + L"\\.x\\a.sol", true, false, false, false},
      {store_ + L"\\x.\\a.sol", true, false, false, false},
      {store_ + L"\\%2e\\a.sol", true, false, false, false},
      {store_ + L"\\a.sol:stream", true, false, false, false},
      {appData_ + L"\\x.sol", true, false, false, false},
      {L"C:\\windows\\x.sol", true, false, false, false},
  };
  for (const Case& c : cases) {
    bool settings = !c.settingsArea, temporary = !c.temporary;
    EXPECT_EQ(paths.MayWrite(T(c.path), c.checkExtension, &settings, &temporary), c.permitted)
        << Utf8Of(c.path.c_str());
    EXPECT_EQ(settings, c.settingsArea) << Utf8Of(c.path.c_str());
    EXPECT_EQ(temporary, c.temporary) << Utf8Of(c.path.c_str());
  }
}

TEST_F(PlayerPathsTest, LocalApplicationDataMarkerWithTheSwitch) {
  PlayerPaths paths(true);
  const Text marked = u"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\x.sol";
  Text expanded = paths.ExpandPlayerPath(marked);
  EXPECT_EQ(Wd(expanded), localAppData_ + L"\\Kestrelink\\Glint Player\\#SharedObjects\\x.sol");
  EXPECT_FALSE(paths.MayWrite(expanded, true));
  paths.SetUseLocalAppData(true);
  PlayerPaths local(true);
  local.SetUseLocalAppData(true);
  ScratchFiles files;
  files.Folder(localAppData_ + L"\\Kestrelink");
  files.Folder(localAppData_ + L"\\Kestrelink\\Glint Player");
  files.Folder(localAppData_ + L"\\Kestrelink\\Glint Player\\#SharedObjects");
  EXPECT_TRUE(local.MayWrite(local.ExpandPlayerPath(marked), true));
  EXPECT_EQ(paths.ExpandPlayerPath(u"x<LOCAL_APPDATA>"), Text(u"x<LOCAL_APPDATA>"));
}

TEST_F(PlayerPathsTest, ReadAndCreateDirectoryRules) {
  PlayerPaths paths(true);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  struct Case {
    std::wstring path;
    bool read;
    bool create;
  } cases[] = {
      {appData_ + L"\\Kestrelink\\anything", true, true},
      {appData_ + L"\\Arvex\\x", true, true},
      {appData_ + L"\\KestrelinkX\\x", false, false},
      {std::wstring(system) + L"\\Kestreli\\Glint\\x.dll", true, false},
      {lowTemp_ + L"\\x", true, false},
      {lowTemp_ + L"\\*.tmp", true, false},
      // Searches: "." and ".." collapse over the whole pattern, and a
      // wildcard stands in the last name only.
      {appData_ + L"\\Kestrelink\\*\\..\\..\\..\\x", false, false},
      {appData_ + L"\\Kestrelink\\?\\..\\..\\..\\windows\\*", false, false},
      {appData_ + L"\\Kestrelink\\a<b\\x", false, false},
      {appData_ + L"\\Kestrelink\\sub\\..\\*", true, false},
      {appData_ + L"\\Kestrelink\\..\\*", false, false},
      {appData_ + L"\\Kestrelink\\x>", true, false},
      {L"C:\\windows\\win.ini", false, false},
      {localAppData_ + L"\\Kestrelink\\x", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(paths.MayRead(T(c.path)), c.read) << Utf8Of(c.path.c_str());
    EXPECT_EQ(paths.MayCreateDirectory(T(c.path)), c.create) << Utf8Of(c.path.c_str());
  }
  PlayerPaths local(true);
  local.SetUseLocalAppData(true);
  EXPECT_TRUE(local.MayCreateDirectory(T(localAppData_ + L"\\Kestrelink\\x")));
  EXPECT_TRUE(local.MayRead(T(localAppData_ + L"\\Kestrelink\\x")));
  EXPECT_FALSE(local.MayRead(T(appData_ + L"\\Kestrelink\\x")));
}

TEST_F(PlayerPathsTest, LinksInsideTheStoreLeadNowhere) {
  // C:\glint-outside is linked from the store by the test fixture.
  PlayerPaths paths(true);
  ASSERT_TRUE(Exists(store_ + L"\\dirlink")) << "link fixture missing";
  EXPECT_FALSE(paths.MayWrite(T(store_ + L"\\dirlink\\x.sol"), true));
  EXPECT_FALSE(paths.MayRead(T(store_ + L"\\dirlink\\keep.txt")));
  EXPECT_FALSE(paths.MayCreateDirectory(T(store_ + L"\\dirlink\\made")));
  // This link shows as a reparse point whose data cannot be read: that
  // alone is a refusal.
  PathRules::LinkStep step =
      paths.ResolveLinks(*paths.Canonicalize(T(store_ + L"\\dirlink\\x"), true));
  EXPECT_FALSE(step.ok);
}

TEST_F(PlayerPathsTest, AdministratorFile) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  if (length == 0) length = GetSystemDirectoryW(folder, MAX_PATH);
  std::wstring glint = std::wstring(folder, length) + L"\\Kestreli";
  std::wstring file = glint + L"\\Glint\\gcs.cfg";
  EXPECT_EQ(AdminConfigPath(), Utf8Of(file.c_str()));
  struct Case {
    std::string content;
    bool expected;
  } cases[] = {
      {"EnableLocalAppData=yes\n", true},
      {"\xEF\xBB\xBF EnableLocalAppData = 1\r\n", true},
      {"EnableLocalAppData=0\n", false},
      {"\xFF\xFE"
       "EnableLocalAppData=1\n",
       false},  // UTF-16 is not read
      {"Other=1\nEnableLocalAppData=true", true},
      {"EnableLocalAppData=\n", false},
  };
  ScratchFiles files;
  files.Folder(glint);
  files.Folder(glint + L"\\Glint");
  EXPECT_FALSE(ReadAdminBool("EnableLocalAppData"));  // no file
  for (const Case& c : cases) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(handle, c.content.data(), static_cast<DWORD>(c.content.size()), &written, nullptr);
    CloseHandle(handle);
    EXPECT_EQ(ReadAdminBool("EnableLocalAppData"), c.expected) << c.content;
    EXPECT_EQ(SASM::WindowsFileManager().EnableLocalAppData(), c.expected) << c.content;
  }
  DeleteFileW(file.c_str());
}

TEST(StorageFileManager, ListSizeCreateAndPrune) {
  std::wstring root = NewTempFolder(L"glint-sasm");
  std::string rootUtf8 = Utf8Of(root.c_str());
  SASM::WindowsFileManager manager;
  EXPECT_STREQ(manager.PathSeparator(), "\\");
  EXPECT_TRUE(manager.CreateSubdirectory(rootUtf8 + "\\a\\b", "c"));
  EXPECT_TRUE(manager.CreateSubdirectory(rootUtf8 + "\\a\\b", "c"));  // already there
  ScratchFiles files;
  files.File(root + L"\\z.sol", std::string(100, 'z'));
  files.File(root + L"\\m.sol", std::string(50, 'm'));
  files.File(root + L"\\a\\b\\c\\deep.sol", std::string(25, 'd'));
  EXPECT_EQ(manager.Size(rootUtf8), 175u);
  EXPECT_EQ(manager.Size(rootUtf8 + "\\z.sol"), 100u);
  std::unique_ptr<SASM::StringVector> names(manager.ListFolder(rootUtf8));
  ASSERT_NE(names, nullptr);
  ASSERT_EQ(names->Count(), 3u);
  EXPECT_STREQ(names->At(0), "a");
  EXPECT_STREQ(names->At(1), "m.sol");
  EXPECT_STREQ(names->At(2), "z.sol");
  EXPECT_EQ(names->At(3), nullptr);
  EXPECT_EQ(manager.ListFolder(rootUtf8 + "\\missing"), nullptr);
  // Keep at most 100 bytes: the oldest go first.
  EXPECT_TRUE(manager.PruneDirectoryTree(rootUtf8, 100, 3650));
  EXPECT_LE(manager.Size(rootUtf8), 100u);
  // Keep nothing: the tree goes, folders and all.
  EXPECT_TRUE(manager.PruneDirectoryTree(rootUtf8, 0, 3650));
  EXPECT_FALSE(Exists(root));
  EXPECT_FALSE(manager.SharedObjectsFolder().empty());
  EXPECT_NE(manager.CacheFolder().find("VXCache"), std::string::npos);
}

TEST(StorageFileManager, StringVectorGrowsByDoubling) {
  SASM::StringVector vector;
  EXPECT_EQ(vector.Capacity(), 10u);
  for (int i = 0; i < 10; ++i) vector.Add(std::to_string(i));
  EXPECT_EQ(vector.Capacity(), 10u);
  vector.Add("10");
  EXPECT_EQ(vector.Capacity(), 20u);
  for (int i = 11; i < 21; ++i) vector.Add(std::to_string(i));
  EXPECT_EQ(vector.Capacity(), 40u);
  EXPECT_STREQ(vector.At(20), "20");
}

}  // namespace
