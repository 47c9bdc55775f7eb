#include "GlintLibrary.h"

#include "engine/SetupRules.h"
#include "foundation/WideText.h"

MString ExecutableFolder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  MString path = FromWide(buffer, static_cast<int32_t>(length));
  SplitAtLast(path, "\\");
  return path;
}

// An installed host carries its own copy of the library under its own name
// ("GlintUtil_ActiveX.exe" beside "GlintUtil_ActiveX.dll"), as the uninstall
// expects; a host without one loads "GlintUtil.dll" from its folder.
bool GlintLibrary::Load() {
  wchar_t own[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  const MString paired =
      WithExtension(FromWide(own, static_cast<int32_t>(length)), MString(u".dll"));
  if (GetFileAttributesW(W(paired)) != INVALID_FILE_ATTRIBUTES) return LoadFrom(paired);
  MString path = ExecutableFolder();
  path.JoinPath(u'\\', MString(u"GlintUtil.dll"));
  return LoadFrom(path);
}

bool GlintLibrary::LoadFrom(const MString& path) {
  Unload();
  path_ = path;
  module_ = LoadLibraryExW(W(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module_ == nullptr) {
    error_ = GetLastError();
    return false;
  }
  start_ =
      reinterpret_cast<StartFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "Start")));
  if (start_ == nullptr) {
    error_ = GetLastError();
    Unload();
    return false;
  }
  return true;
}

void GlintLibrary::Unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
  start_ = nullptr;
}
