// System functions bound at run time, so that the library starts on every
// supported system and can tell which facilities are present. Each helper
// loads its library from the system folder only and resolves a fixed list of
// functions; a null pointer means the facility is absent. `complete` turns
// false when a required library or function is missing.
#pragma once

#include <windows.h>
#include <aclapi.h>

class DynamicLoadLibraryHelper {
 public:
  DynamicLoadLibraryHelper(const char* library, bool libraryRequired);
  DynamicLoadLibraryHelper(const DynamicLoadLibraryHelper&) = delete;
  DynamicLoadLibraryHelper& operator=(const DynamicLoadLibraryHelper&) = delete;
  virtual ~DynamicLoadLibraryHelper();

  HMODULE Module() const { return module_; }
  bool Complete() const { return complete_; }

 protected:
  // GetProcAddress on a valid module, else null; a missing required
  // function clears `complete`.
  FARPROC Resolve(const char* name, bool required);
  template <typename Fn>
  void Bind(Fn& slot, const char* name, bool required) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(Resolve(name, required)));
  }

 private:
  HMODULE module_ = nullptr;
  bool complete_ = true;
};

class Advapi32DllHelper : public DynamicLoadLibraryHelper {
 public:
  Advapi32DllHelper();
  decltype(&::RegCreateKeyExW) RegCreateKeyExW;
  decltype(&::RegOpenKeyExW) RegOpenKeyExW;
  decltype(&::RegDeleteKeyW) RegDeleteKeyW;
  decltype(&::RegDeleteKeyExW) RegDeleteKeyExW;
  decltype(&::RegDeleteValueW) RegDeleteValueW;
  decltype(&::RegQueryValueExW) RegQueryValueExW;
  decltype(&::RegSetValueExW) RegSetValueExW;
  decltype(&::AllocateAndInitializeSid) AllocateAndInitializeSid;
  decltype(&::GetNamedSecurityInfoA) GetNamedSecurityInfoA;
  decltype(&::GetNamedSecurityInfoW) GetNamedSecurityInfoW;
  decltype(&::GetSecurityInfo) GetSecurityInfo;
  decltype(&::SetEntriesInAclA) SetEntriesInAclA;
  decltype(&::SetEntriesInAclW) SetEntriesInAclW;
  decltype(&::SetNamedSecurityInfoA) SetNamedSecurityInfoA;
  decltype(&::SetNamedSecurityInfoW) SetNamedSecurityInfoW;
  decltype(&::SetSecurityInfo) SetSecurityInfo;
  decltype(&::FreeSid) FreeSid;
  decltype(&::GetAclInformation) GetAclInformation;
  decltype(&::GetAce) GetAce;
  decltype(&::EqualSid) EqualSid;
  decltype(&::DeleteAce) DeleteAce;
  decltype(&::CreateWellKnownSid) CreateWellKnownSid;
  decltype(&::OpenProcessToken) OpenProcessToken;
  decltype(&::GetTokenInformation) GetTokenInformation;
  decltype(&::GetSidSubAuthority) GetSidSubAuthority;
  decltype(&::GetSidSubAuthorityCount) GetSidSubAuthorityCount;
};

class Kernel32DllHelper : public DynamicLoadLibraryHelper {
 public:
  Kernel32DllHelper();
  decltype(&::CreateDirectoryW) CreateDirectoryW;
  decltype(&::CreateFileW) CreateFileW;
  decltype(&::CreateProcessW) CreateProcessW;
  decltype(&::DeleteFileW) DeleteFileW;
  decltype(&::GetModuleFileNameW) GetModuleFileNameW;
  decltype(&::GetUserDefaultUILanguage) GetUserDefaultUILanguage;
  decltype(&::MoveFileExA) MoveFileExA;
  decltype(&::MoveFileExW) MoveFileExW;
  decltype(&::RemoveDirectoryW) RemoveDirectoryW;
  decltype(&::GetSystemDirectoryW) GetSystemDirectoryW;
  decltype(&::ExpandEnvironmentStringsW) ExpandEnvironmentStringsW;
  decltype(&::FindFirstFileW) FindFirstFileW;
  decltype(&::FindNextFileW) FindNextFileW;
  decltype(&::GetFileAttributesW) GetFileAttributesW;
  decltype(&::SetFileAttributesW) SetFileAttributesW;
  decltype(&::GetFileAttributesExW) GetFileAttributesExW;
  decltype(&::GetCurrentDirectoryW) GetCurrentDirectoryW;
  decltype(&::SetCurrentDirectoryW) SetCurrentDirectoryW;
  decltype(&::GetTempPathW) GetTempPathW;
  decltype(&::GetTempFileNameW) GetTempFileNameW;
  decltype(&::CopyFileW) CopyFileW;
  decltype(&::GetFullPathNameW) GetFullPathNameW;
  decltype(&::GetVolumeInformationW) GetVolumeInformationW;
  decltype(&::QueryFullProcessImageNameW) QueryFullProcessImageNameW;
};

class Shell32DllHelper : public DynamicLoadLibraryHelper {
 public:
  Shell32DllHelper();
  HRESULT(WINAPI* SHGetFolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);
  BOOL(WINAPI* ShellExecuteExW)(void* info);
};

class User32DllHelper : public DynamicLoadLibraryHelper {
 public:
  User32DllHelper();
  DWORD(WINAPI* CharUpperBuffW)(LPWSTR, DWORD);
};

class VersionDllHelper : public DynamicLoadLibraryHelper {
 public:
  VersionDllHelper();
  DWORD(WINAPI* GetFileVersionInfoSizeW)(LPCWSTR, LPDWORD);
  BOOL(WINAPI* GetFileVersionInfoW)(LPCWSTR, DWORD, DWORD, LPVOID);
  BOOL(WINAPI* VerQueryValueW)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
};

class Dinput8DllHelper : public DynamicLoadLibraryHelper {
 public:
  Dinput8DllHelper();
  HRESULT(WINAPI* DirectInput8Create)(HINSTANCE, DWORD, REFIID, LPVOID*, LPUNKNOWN);
};

class Edpwin32DllHelper : public DynamicLoadLibraryHelper {
 public:
  Edpwin32DllHelper();
  HRESULT(WINAPI* ProtectFileToEnterpriseIdentity)(LPCWSTR fileOrFolderPath, LPCWSTR identity);
};

class SrpapiDllHelper : public DynamicLoadLibraryHelper {
 public:
  SrpapiDllHelper();
  HRESULT(WINAPI* SrpGetEnterpriseIds)
  (HANDLE token, PULONG numberOfBytes, PCWSTR* enterpriseIds, PULONG enterpriseIdCount);
};

// The process-wide kernel32 helper used by the broker's file operations.
Kernel32DllHelper& ProcessKernel32();
