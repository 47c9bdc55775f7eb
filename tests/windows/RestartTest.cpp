// Deletions left for the next restart, across a real restart of the prefix:
// CTest runs Schedule, restarts the prefix's Windows (scripts/wine-restart.sh),
// then AfterRestart. Files another program holds go at the restart; folders
// with content and read-only files stay, as they do on Windows.
#include <windows.h>
#include <shlobj.h>

#include "WineTestSupport.h"
#include "engine/Uninstall.h"

namespace {

const std::wstring kFolder = L"C:\\glint-restart";
const wchar_t kSession[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// A file holder, left running until the restart ends it.
void Hold(const wchar_t* how, const std::wstring& path) {
  HANDLE process = StartHolder(how, path);
  ASSERT_NE(process, nullptr);
  CloseHandle(process);
  EXPECT_TRUE(Exists(path + L".held")) << Utf8Of(path.c_str());
}

struct Item {
  const wchar_t* name;
  bool gone;  // after the restart
};
const Item kItems[] = {
    {L"module.dll", true},  // loaded by another program
    {L"shared.dll", true},  // open with read sharing in another program
    {L"empty", true},       // an empty folder
    {L"full", false},       // a folder with a file in it
    {L"readonly.dat", false},
    // Pattern removal of two product folders: "Temp" beside the first holds
    // a held file, so it and its parent stay; the second parent is empty.
    {L"p1\\Temp", false},
    {L"p1", false},
    {L"p2", true},
};

class Restart : public ShimTest {};

TEST_F(Restart, Schedule) {
  RemoveTree(kFolder);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations");
  for (const wchar_t* folder :
       {L"\\empty", L"\\full", L"\\p1\\Glint", L"\\p1\\Temp", L"\\p2\\Glint"})
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, (kFolder + folder).c_str(), nullptr), ERROR_SUCCESS);
  for (const wchar_t* name : {L"\\module.dll", L"\\shared.dll"}) {
    ASSERT_TRUE(
        CopyFileW((ProgramFolder() + L"\\glintstub.dll").c_str(), (kFolder + name).c_str(), FALSE));
  }
  for (const wchar_t* name : {L"\\full\\keep.dat", L"\\p1\\Temp\\held.tmp", L"\\readonly.dat"}) {
    CloseHandle(CreateFileW((kFolder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            wcscmp(name, L"\\readonly.dat") == 0 ? FILE_ATTRIBUTE_READONLY : 0,
                            nullptr));
  }
  Hold(L"module", kFolder + L"\\module.dll");
  Hold(L"read", kFolder + L"\\shared.dll");
  Hold(L"read", kFolder + L"\\p1\\Temp\\held.tmp");

  // The player files through the uninstall's own step, the rest directly.
  EXPECT_EQ(RemovePlayerFile(shim(), M(kFolder + L"\\module.dll"), 16), 5u);
  EXPECT_EQ(RemovePlayerFile(shim(), M(kFolder + L"\\shared.dll"), 16), 32u);
  for (const wchar_t* name : {L"\\empty", L"\\full", L"\\readonly.dat"})
    EXPECT_TRUE(ScheduleDeleteAtRestart(host_.get(), M(kFolder + name)));
  ShimTest::Restart(u"FullRemoval 1;");
  shim()->LoadFileLists();
  for (const wchar_t* product : {L"\\p1\\Glint", L"\\p2\\Glint"}) {
    EXPECT_TRUE(shim()->RemoveFilesByPattern(kPlayerActiveX | kPlayerPlugin | kPlayerPepper,
                                             M(kFolder + product).Give()));
  }
  std::wstring expected;  // each a name and an empty target, then the list's end
  for (const Item& item : kItems) expected += L"\\??\\" + kFolder + L"\\" + item.name + L"||";
  EXPECT_EQ(PendingRenames(), expected + L"|");
}

TEST_F(Restart, AfterRestart) {
  for (const Item& item : kItems)
    EXPECT_EQ(Exists(kFolder + L"\\" + item.name), !item.gone) << Utf8Of(item.name);
  EXPECT_TRUE(PendingRenames().empty());
  SetFileAttributesW((kFolder + L"\\readonly.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveTree(kFolder);
}

}  // namespace
