// The storage path policy on this system's real folders, the administrator
// file and the storage file manager.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "broker/policy/PlayerPaths.h"
#include "broker/files/SasmFileManager.h"

namespace {

PathRules::Text T(const std::wstring& text) {
  return PathRules::Text(reinterpret_cast<const char16_t*>(text.c_str()));
}
std::wstring Wd(const PathRules::Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

class PlayerPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    lowTemp_ = std::wstring(temp) + L"Low";
    CreateDirectoryW(lowTemp_.c_str(), nullptr);
    local_.SetUseLocalAppData(true);
  }
  std::wstring appData_ = KnownFolder(CSIDL_APPDATA),
               localAppData_ = KnownFolder(CSIDL_LOCAL_APPDATA);
  std::wstring store_ = appData_ + L"\\Kestrelink\\Glint Player", lowTemp_;
  PlayerPaths paths_{true}, local_{true};  // roaming, and with the local switch
};

TEST_F(PlayerPathsTest, FoldersFollowTheLocalApplicationDataSwitch) {
  ASSERT_TRUE(paths_.SharedObjectsRoot());
  EXPECT_EQ(Wd(*paths_.SharedObjectsRoot()), store_);
  EXPECT_EQ(Wd(*paths_.PlayerDataRoot()), appData_ + L"\\Arvex\\Glint Player");
  EXPECT_EQ(Wd(*paths_.MakerSiteFolder()), store_ + L"\\glintmedia.example");
  EXPECT_EQ(Wd(*paths_.LowTemporaryFolder()), lowTemp_);
  EXPECT_EQ(Wd(*local_.SharedObjectsRoot()), localAppData_ + L"\\Kestrelink\\Glint Player");
  // Outside the broker no "Low" is added to the temporary folder.
  EXPECT_EQ(Wd(*PlayerPaths(false).LowTemporaryFolder()), lowTemp_.substr(0, lowTemp_.size() - 4));
}

TEST_F(PlayerPathsTest, WriteRule) {
  ScratchFiles files;
  const std::wstring site = store_ + L"\\glintmedia.example";
  for (const std::wstring& folder :
       {appData_ + L"\\Arvex", appData_ + L"\\Arvex\\Glint Player", site, site + L"\\support",
        site + L"\\support\\glintplayer", site + L"\\support\\glintplayer\\sys",
        site + L"\\support\\glintplayer\\sys\\#ab"}) {
    files.Folder(folder);
  }
  struct Case {
    std::wstring path;
    bool checkExtension, permitted, settingsArea, temporary;
  };
  // Siblings of the root, the maker's site, executables, prefixes and dotted
  // names are the red team's rows (BrokerRedTeamTest), through the broker.
  // clang-format off
  const Case cases[] = {
      {store_ + L"\\#SharedObjects\\a.sol", true, true, true, false},
      {appData_ + L"\\Arvex\\Glint Player\\x.sol", true, true, false, false},
      {site + L"\\support\\glintplayer\\sys\\#ab\\x.sol", true, false, true, false},
      {store_ + L"\\x.exe", false, true, false, false},
      {store_ + L"\\missing\\x.sol", true, false, false, false},  // no such folder yet
      {lowTemp_ + L"\\x.exe", true, true, false, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8Of(c.path.c_str()));
    bool settings = !c.settingsArea, temporary = !c.temporary;
    EXPECT_EQ(paths_.MayWrite(T(c.path), c.checkExtension, &settings, &temporary), c.permitted);
    EXPECT_EQ(settings, c.settingsArea);
    EXPECT_EQ(temporary, c.temporary);
  }
}

TEST_F(PlayerPathsTest, ReadAndCreateDirectoryRules) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring k = appData_ + L"\\Kestrelink";
  struct Case {
    PlayerPaths& paths;
    std::wstring path;
    bool read, create;
  };
  // clang-format off
  const Case cases[] = {
      {paths_, k + L"\\anything", true, true},
      {paths_, appData_ + L"\\Arvex\\x", true, true},
      {paths_, std::wstring(system) + L"\\Kestreli\\Glint\\x.dll", true, false},
      {paths_, lowTemp_ + L"\\x", true, false},
      // Searches: "." and ".." collapse over the whole pattern, and a
      // wildcard stands in the last name only.
      {paths_, k + L"\\*\\..\\..\\..\\x", false, false},
      {paths_, k + L"\\sub\\..\\*", true, false},
      {paths_, k + L"\\..\\*", false, false},
      {paths_, localAppData_ + L"\\Kestrelink\\x", false, false},
      {local_, localAppData_ + L"\\Kestrelink\\x", true, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(c.paths.MayRead(T(c.path)), c.read) << Utf8Of(c.path.c_str());
    EXPECT_EQ(c.paths.MayCreateDirectory(T(c.path)), c.create) << Utf8Of(c.path.c_str());
  }
  EXPECT_FALSE(local_.MayRead(T(k + L"\\x")));
}

TEST_F(PlayerPathsTest, AdministratorFile) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  if (length == 0) length = GetSystemDirectoryW(folder, MAX_PATH);
  const std::wstring glint = std::wstring(folder, length) + L"\\Kestreli";
  const std::wstring file = glint + L"\\Glint\\gcs.cfg";
  EXPECT_EQ(AdminConfigPath(), Utf8Of(file.c_str()));
  ScratchFiles files;
  for (const wchar_t* folder : {L"", L"\\Glint"}) files.Folder(glint + folder);
  EXPECT_FALSE(ReadAdminBool("EnableLocalAppData"));  // no file
  for (auto [content, expected] : {std::pair<std::string, bool>{"EnableLocalAppData=yes\n", true},
                                   {"EnableLocalAppData=0\n", false}}) {
    files.File(file, content);
    EXPECT_EQ(ReadAdminBool("EnableLocalAppData"), expected) << content;
    EXPECT_EQ(SASM::WindowsFileManager().EnableLocalAppData(), expected) << content;
  }
}

TEST(StorageFileManager, ListSizeCreateAndPrune) {
  const std::wstring root = NewTempFolder(L"glint-sasm");
  const std::string rootUtf8 = Utf8Of(root.c_str());
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
  std::string listed;
  for (uint32_t i = 0; names->At(i) != nullptr; ++i) listed += names->At(i) + std::string("|");
  EXPECT_EQ(listed, "a|m.sol|z.sol|");
  EXPECT_EQ(names->Count(), 3u);
  EXPECT_EQ(manager.ListFolder(rootUtf8 + "\\missing"), nullptr);
  EXPECT_TRUE(manager.PruneDirectoryTree(rootUtf8, 100, 3650));  // the oldest go first
  EXPECT_LE(manager.Size(rootUtf8), 100u);
  EXPECT_TRUE(manager.PruneDirectoryTree(rootUtf8, 0, 3650));  // folders and all
  EXPECT_FALSE(Exists(root));
  EXPECT_FALSE(manager.SharedObjectsFolder().empty());
  EXPECT_NE(manager.CacheFolder().find("VXCache"), std::string::npos);
  // The name list grows by doubling from ten.
  SASM::StringVector vector;
  for (int i = 0; i < 22; ++i) {
    EXPECT_EQ(vector.Capacity(), i <= 10 ? 10u : i <= 20 ? 20u : 40u) << i;
    vector.Add(std::to_string(i));
  }
  EXPECT_STREQ(vector.At(20), "20");
}

}  // namespace
