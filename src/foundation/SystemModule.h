// The setup engine's loader of system libraries, and the small system
// queries it relies on. Libraries named without a folder are loaded from the
// system folder, never through the search path.
#pragma once

#include <windows.h>

#include "foundation/MString.h"
#include "foundation/Win32Handles.h"

class SystemModule {
 public:
  SystemModule() = default;
  // Frees any module held; a name without '\' is taken from the system folder.
  bool Load(const MString& name);
  FARPROC Resolve(const char* name) const;
  template <typename Fn>
  Fn ResolveAs(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Resolve(name)));
  }
  void Free() { module_.Reset(); }
  HMODULE Get() const { return module_.Get(); }

 private:
  UniqueModule module_;
};

// The system folder (GetSystemDirectoryW); null when it cannot be read.
MString SystemFolder();
// The WOW64 system folder, looked up at run time; null where the system has none.
MString Wow64SystemFolder();
// Whether this process runs under WOW64; false where the query is absent.
bool RunsUnderWow64();
// The system folder that holds the player's 32-bit files: the WOW64 one
// under WOW64, else the system folder.
MString PlayerSystemFolder();
// SHGetFolderPathW for a CSIDL; null when the folder cannot be had.
MString ShellFolder(int csidl);
