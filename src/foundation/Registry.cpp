#include "foundation/Registry.h"

#include <vector>

#include "foundation/WideText.h"

LONG RegKey::Open(HKEY root, const MString& path, REGSAM access) {
  return RegOpenKeyExW(root, W(path), 0, access, key_.Receive());
}

LONG RegKey::Create(HKEY root, const MString& path, REGSAM access) {
  return RegCreateKeyExW(root, W(path), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key_.Receive(), nullptr);
}

LONG RegKey::ReadDword(const MString& name, DWORD* value) const {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  LONG error = RegQueryValueExW(key_.Get(), WOrNull(name), nullptr, &type,
                                reinterpret_cast<BYTE*>(&data), &size);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_DWORD || size != sizeof data) return ERROR_INVALID_DATATYPE;
  *value = data;
  return ERROR_SUCCESS;
}

LONG RegKey::ReadString(const MString& name, MString* value) const {
  DWORD type = 0;
  DWORD size = 0;
  LONG error = RegQueryValueExW(key_.Get(), WOrNull(name), nullptr, &type, nullptr, &size);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATATYPE;
  // Room for a missing terminator; the value may change between the calls.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    error = RegQueryValueExW(key_.Get(), WOrNull(name), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (error == ERROR_MORE_DATA) {
      size = bytes;
      continue;
    }
    if (error != ERROR_SUCCESS) return error;
    *value = FromWide(buffer.data());
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

LONG RegKey::WriteDword(const MString& name, DWORD value) const {
  return RegSetValueExW(key_.Get(), WOrNull(name), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG RegKey::WriteString(const MString& name, const MString& value) const {
  return RegSetValueExW(key_.Get(), WOrNull(name), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(W(value)),
                        (value.Length() + 1) * sizeof(wchar_t));
}

LONG RegKey::DeleteValue(const MString& name) const {
  return RegDeleteValueW(key_.Get(), WOrNull(name));
}

LONG ReadRegistryDword(HKEY root, const MString& path, const MString& name, DWORD* value) {
  RegKey key;
  LONG error = key.Open(root, path);
  return error != ERROR_SUCCESS ? error : key.ReadDword(name, value);
}

LONG ReadRegistryString(HKEY root, const MString& path, const MString& name, MString* value) {
  RegKey key;
  LONG error = key.Open(root, path);
  return error != ERROR_SUCCESS ? error : key.ReadString(name, value);
}
