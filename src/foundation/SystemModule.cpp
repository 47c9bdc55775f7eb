#include "foundation/SystemModule.h"

#include <shlobj.h>

#include "foundation/DynamicLoadLibraryHelper.h"
#include "foundation/WideText.h"

bool SystemModule::Load(const MString& name) {
  Free();
  MString path = name;
  bool hasFolder = false;
  for (char16_t unit : name) hasFolder = hasFolder || unit == u'\\';
  if (!hasFolder) {
    MString system = ShellFolder(CSIDL_SYSTEM);
    if (system.IsNull()) return false;
    path = system;
    path.JoinPath(u'\\', name);
  }
  module_.Reset(LoadLibraryW(W(path)));
  return module_.Valid();
}

FARPROC SystemModule::Resolve(const char* name) const {
  return module_.Valid() ? GetProcAddress(module_.Get(), name) : nullptr;
}

MString SystemFolder() {
  wchar_t buffer[MAX_PATH + 1];
  UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return MString();
  return FromWide(buffer, static_cast<int32_t>(length));
}

MString Wow64SystemFolder() {
  using Fn = UINT(WINAPI*)(LPWSTR, UINT);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  auto query = kernel == nullptr ? nullptr
                                 : reinterpret_cast<Fn>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "GetSystemWow64DirectoryW")));
  if (query == nullptr) return MString();
  wchar_t buffer[MAX_PATH + 1];
  UINT length = query(buffer, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return MString();
  return FromWide(buffer, static_cast<int32_t>(length));
}

bool RunsUnderWow64() {
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  auto query =
      kernel == nullptr
          ? nullptr
          : reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  BOOL wow64 = FALSE;
  return query != nullptr && query(GetCurrentProcess(), &wow64) && wow64;
}

MString PlayerSystemFolder() {
  if (RunsUnderWow64()) {
    MString wow64 = Wow64SystemFolder();
    if (!wow64.IsNull()) return wow64;
  }
  return SystemFolder();
}

MString ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  // Not on every system: bound at run time like the other optional functions.
  Shell32DllHelper shell32;
  if (shell32.SHGetFolderPathW == nullptr ||
      FAILED(shell32.SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    return MString();
  }
  return FromWide(buffer);
}
