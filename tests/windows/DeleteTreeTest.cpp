// Removal of whole folders: what goes, what stays and what is never reached.
// The links come from the tree fixture (scripts/tree-fixture.sh) and point
// outside the tree at sentinels, which must survive.
#include "WineTestSupport.h"
#include "engine/DeleteTree.h"

namespace {

const std::wstring kBase = L"C:\\glint-tree";

void Make(const std::wstring& path, DWORD attributes = 0) {
  if (path.back() == L'\\') {
    CreateDirectoryW(path.c_str(), nullptr);
    return;
  }
  CloseHandle(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
}

TEST(DeleteTree, RemovesWhatItMayAndNeverThroughALink) {
  // Links: the root itself, a folder link and a file link inside the tree.
  EXPECT_FALSE(DeleteTree(M(kBase + L"\\rootlink")));
  EXPECT_FALSE(DeleteTree(M(kBase + L"\\tree")));
  for (const wchar_t* gone : {L"\\tree\\d.txt", L"\\tree\\a\\b"})
    EXPECT_FALSE(Exists(kBase + gone)) << Utf8Of(gone);
  for (const wchar_t* kept : {L"\\tree\\a\\dirlink", L"\\tree\\filelink.txt",
                              L"\\outside\\sentinel.txt", L"\\outside-file.txt"})
    EXPECT_TRUE(Exists(kBase + kept)) << Utf8Of(kept);

  const std::wstring root = NewTempFolder(L"glint-tree");
  struct Case {
    const char* what;
    const wchar_t* blocker;  // made inside the tree; null: nothing in the way
    bool removed;
  } cases[] = {
      {"nested", nullptr, true},
      {"held file", L"held.dat", false},
      {"read-only file", L"readonly.dat", false},
  };
  for (const Case& c : cases) {
    const std::wstring tree = root + L"\\tree";
    for (const wchar_t* entry : {L"\\", L"\\a\\", L"\\a\\b\\", L"\\a\\b\\c.txt", L"\\d.txt"})
      Make(tree + entry);
    UniqueHandle held;
    if (c.blocker != nullptr) {
      const std::wstring blocker = tree + L"\\a\\" + c.blocker;
      Make(blocker, c.what[0] == 'r' ? FILE_ATTRIBUTE_READONLY : 0);
      if (c.what[0] == 'h')
        held.Reset(CreateFileW(blocker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    }
    EXPECT_EQ(DeleteTree(M(tree)), c.removed) << c.what;
    EXPECT_EQ(Exists(tree + L"\\a"), !c.removed) << c.what;
    EXPECT_FALSE(Exists(tree + L"\\a\\b")) << c.what;
    held.Reset();
    if (c.blocker != nullptr) SetFileAttributesW((tree + L"\\a\\" + c.blocker).c_str(), 0);
    RemoveTree(tree);
  }

  // A name that would make a path of 260 units or more is left untouched.
  const std::wstring deep = root + L"\\deep\\" + std::wstring(150, L'f');
  CreateDirectoryW((root + L"\\deep").c_str(), nullptr);
  CreateDirectoryW(deep.c_str(), nullptr);
  const std::wstring longest = L"\\\\?\\" + deep + L"\\" + std::wstring(120, L'g');
  Make(longest);
  ASSERT_TRUE(Exists(longest));
  EXPECT_FALSE(DeleteTree(M(root + L"\\deep")));
  EXPECT_TRUE(Exists(longest));
  DeleteFileW(longest.c_str());
  RemoveTree(root);
}

}  // namespace
