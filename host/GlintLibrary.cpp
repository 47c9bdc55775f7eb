#include "GlintLibrary.h"

#include "foundation/WideText.h"

MString ExecutableFolder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  MString path = FromWide(buffer, static_cast<int32_t>(length));
  SplitAtLast(path, "\\");
  return path;
}

bool GlintLibrary::Load() {
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
