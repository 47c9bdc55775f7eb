// The player control's stand-in: registers and removes the control's class
// and type-library keys under HKLM, the way the real control does, with no
// player inside. A refused write fails the registration with its error.
#include <windows.h>

#include <shlwapi.h>

#include <string>

#include "engine/KeyTables.h"

namespace {

HMODULE self = nullptr;

std::string MachinePath(const char* entry) {
  KeyRoot root;
  std::string_view path;
  return SplitKeyEntry(entry, &root, &path) && root == KeyRoot::kMachine ? std::string(path) : "";
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  char file[MAX_PATH + 1] = {};
  GetModuleFileNameA(self, file, MAX_PATH);
  for (const char* entry : KeyTableEntries(KeyTable::kControlMachine)) {
    std::string path = MachinePath(entry);
    HKEY key = nullptr;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                 nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
      // Each key gets a value, so that a key whose writes are refused fails.
      bool server = path.ends_with("InprocServer32");
      const char* value = server ? file : "";
      error = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                             static_cast<DWORD>(strlen(value) + 1));
      RegCloseKey(key);
    }
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  }
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
  for (const char* entry : KeyTableEntries(KeyTable::kControlMachine)) {
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, MachinePath(entry).c_str());
  }
  return S_OK;
}
