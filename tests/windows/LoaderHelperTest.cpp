// System functions bound at run time: libraries come from the system folder only,
// and `complete` tells whether everything required was found.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "WineTestSupport.h"
#include "foundation/DynamicLoadLibraryHelper.h"

namespace {

// A helper over the stand-in library with a chosen set of functions.
class StubHelper : public DynamicLoadLibraryHelper {
 public:
  StubHelper(const char* library, bool required, bool needMissing)
      : DynamicLoadLibraryHelper(library, required) {
    Bind(first, "GlintStubFirst", true);
    Bind(optional, "GlintStubAbsent", false);
    if (needMissing) Bind(missing, "GlintStubAlsoAbsent", true);
  }
  int(WINAPI* first)() = nullptr;
  int(WINAPI* optional)() = nullptr;
  int(WINAPI* missing)() = nullptr;
};

TEST(LoaderHelpers, LibrariesComeOnlyFromTheSystemFolder) {
  ScratchFiles files;
  files.Copy(ProgramFolder() + L"\\glintstub.dll",
             KnownFolder(CSIDL_SYSTEM) + L"\\glintstub-system.dll");
  StubHelper complete("glintstub-system.dll", true, false);
  ASSERT_NE(complete.first, nullptr);
  EXPECT_EQ(complete.first(), 1);
  EXPECT_EQ(complete.optional, nullptr);  // optional and absent: still complete
  EXPECT_TRUE(complete.Complete());
  StubHelper incomplete("glintstub-system.dll", true, true);
  EXPECT_NE(incomplete.Module(), nullptr);
  EXPECT_EQ(incomplete.missing, nullptr);
  EXPECT_FALSE(incomplete.Complete());
  // A copy beside the program and in the current folder is never used.
  files.Copy(ProgramFolder() + L"\\glintstub.dll", ProgramFolder() + L"\\glintstub-local.dll");
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(ProgramFolder().c_str());
  for (bool required : {true, false}) {
    StubHelper local("glintstub-local.dll", required, false);
    EXPECT_EQ(local.Module(), nullptr);
    EXPECT_FALSE(local.Complete());  // its required function is missing
  }
  SetCurrentDirectoryW(previous);
}

TEST(LoaderHelpers, SystemHelpersOfThisPlatform) {
  EXPECT_TRUE(Kernel32DllHelper().Complete() && ProcessKernel32().Complete() &&
              Advapi32DllHelper().Complete());
  EXPECT_TRUE(Shell32DllHelper().Complete());
  EXPECT_TRUE(User32DllHelper().Complete());
  EXPECT_TRUE(VersionDllHelper().Complete());
  EXPECT_TRUE(Dinput8DllHelper().Complete());
  // Enterprise protection is optional: where its libraries are missing the
  // helpers stay complete with nothing bound.
  Edpwin32DllHelper edp;
  SrpapiDllHelper srp;
  EXPECT_TRUE(edp.Complete() && srp.Complete());
  EXPECT_TRUE(edp.Module() != nullptr || edp.ProtectFileToEnterpriseIdentity == nullptr);
  EXPECT_TRUE(srp.Module() != nullptr || srp.SrpGetEnterpriseIds == nullptr);
}

// Functions the loader tables list as possibly absent are never imported directly.
TEST(LoaderHelpers, OptionalFunctionsAreNotImported) {
  std::set<std::string> imported;
  HMODULE image = LoadLibraryExW((ProgramFolder() + L"\\GlintUtil.dll").c_str(), nullptr,
                                 DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(image, nullptr);
  auto* base = reinterpret_cast<const BYTE*>(image);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; directory.VirtualAddress != 0 && library->Name != 0; ++library) {
    auto* entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    for (; entry->u1.AddressOfData != 0; ++entry) {
      if (IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal)) continue;
      imported.insert(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + entry->u1.AddressOfData)->Name);
    }
  }
  FreeLibrary(image);
  ASSERT_TRUE(imported.count("CreateFileW")) << "import table not read";
  for (const char* optional :
       {"RegDeleteKeyExW", "GetNamedSecurityInfoW", "SetEntriesInAclW", "SetNamedSecurityInfoW",
        "CreateWellKnownSid", "GetUserDefaultUILanguage", "QueryFullProcessImageNameW",
        "SHGetFolderPathW", "DirectInput8Create", "ProtectFileToEnterpriseIdentity",
        "SrpGetEnterpriseIds", "GetSystemWow64DirectoryW"}) {
    EXPECT_EQ(imported.count(optional), 0u) << optional;
  }
}

}  // namespace
