// Registry access for the engine and the broker. Every call answers the
// Windows error (ERROR_SUCCESS on success) so callers can report it.
#pragma once

#include <windows.h>

#include "foundation/MString.h"
#include "foundation/Win32Handles.h"

class RegKey {
 public:
  RegKey() = default;
  LONG Open(HKEY root, const MString& path, REGSAM access = KEY_READ);
  LONG Create(HKEY root, const MString& path, REGSAM access = KEY_READ | KEY_WRITE);
  bool IsOpen() const { return key_.Valid(); }
  HKEY Get() const { return key_.Get(); }

  LONG ReadDword(const MString& name, DWORD* value) const;
  // REG_SZ or REG_EXPAND_SZ (not expanded); the text stops at its first NUL.
  LONG ReadString(const MString& name, MString* value) const;
  LONG WriteDword(const MString& name, DWORD value) const;
  LONG WriteString(const MString& name, const MString& value) const;
  LONG DeleteValue(const MString& name) const;

 private:
  UniqueRegKey key_;
};

// One-call forms for a single value.
LONG ReadRegistryDword(HKEY root, const MString& path, const MString& name, DWORD* value);
LONG ReadRegistryString(HKEY root, const MString& path, const MString& name, MString* value);
