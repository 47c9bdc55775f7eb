#include "foundation/DynamicLoadLibraryHelper.h"

#include <cstring>

DynamicLoadLibraryHelper::DynamicLoadLibraryHelper(const char* library, bool libraryRequired) {
  char path[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length > MAX_PATH || library == nullptr) return;
  if (length + 1 + std::strlen(library) > MAX_PATH) return;
  std::strcat(path, "\\");
  std::strcat(path, library);
  module_ = LoadLibraryA(path);
  if (libraryRequired && (module_ == nullptr || module_ == reinterpret_cast<HMODULE>(-1))) {
    complete_ = false;
  }
}

DynamicLoadLibraryHelper::~DynamicLoadLibraryHelper() {
  if (module_ != nullptr && module_ != reinterpret_cast<HMODULE>(-1)) FreeLibrary(module_);
}

FARPROC DynamicLoadLibraryHelper::Resolve(const char* name, bool required) {
  FARPROC function = nullptr;
  if (module_ != nullptr && module_ != reinterpret_cast<HMODULE>(-1)) {
    function = GetProcAddress(module_, name);
  }
  if (function == nullptr && required) complete_ = false;
  return function;
}

Advapi32DllHelper::Advapi32DllHelper() : DynamicLoadLibraryHelper("advapi32.dll", true) {
  Bind(RegCreateKeyExW, "RegCreateKeyExW", true);
  Bind(RegOpenKeyExW, "RegOpenKeyExW", true);
  Bind(RegDeleteKeyW, "RegDeleteKeyW", true);
  Bind(RegDeleteKeyExW, "RegDeleteKeyExW", false);
  Bind(RegDeleteValueW, "RegDeleteValueW", true);
  Bind(RegQueryValueExW, "RegQueryValueExW", true);
  Bind(RegSetValueExW, "RegSetValueExW", true);
  Bind(AllocateAndInitializeSid, "AllocateAndInitializeSid", true);
  Bind(GetNamedSecurityInfoA, "GetNamedSecurityInfoA", true);
  Bind(GetNamedSecurityInfoW, "GetNamedSecurityInfoW", false);
  Bind(GetSecurityInfo, "GetSecurityInfo", true);
  Bind(SetEntriesInAclA, "SetEntriesInAclA", true);
  Bind(SetEntriesInAclW, "SetEntriesInAclW", false);
  Bind(SetNamedSecurityInfoA, "SetNamedSecurityInfoA", true);
  Bind(SetNamedSecurityInfoW, "SetNamedSecurityInfoW", false);
  Bind(SetSecurityInfo, "SetSecurityInfo", true);
  Bind(FreeSid, "FreeSid", true);
  Bind(GetAclInformation, "GetAclInformation", true);
  Bind(GetAce, "GetAce", true);
  Bind(EqualSid, "EqualSid", true);
  Bind(DeleteAce, "DeleteAce", true);
  Bind(CreateWellKnownSid, "CreateWellKnownSid", false);
  Bind(OpenProcessToken, "OpenProcessToken", true);
  Bind(GetTokenInformation, "GetTokenInformation", true);
  Bind(GetSidSubAuthority, "GetSidSubAuthority", true);
  Bind(GetSidSubAuthorityCount, "GetSidSubAuthorityCount", true);
}

Kernel32DllHelper::Kernel32DllHelper() : DynamicLoadLibraryHelper("kernel32.dll", true) {
  Bind(CreateDirectoryW, "CreateDirectoryW", true);
  Bind(CreateFileW, "CreateFileW", true);
  Bind(CreateProcessW, "CreateProcessW", true);
  Bind(DeleteFileW, "DeleteFileW", true);
  Bind(GetModuleFileNameW, "GetModuleFileNameW", true);
  Bind(GetUserDefaultUILanguage, "GetUserDefaultUILanguage", false);
  Bind(MoveFileExA, "MoveFileExA", true);
  Bind(MoveFileExW, "MoveFileExW", true);
  Bind(RemoveDirectoryW, "RemoveDirectoryW", true);
  Bind(GetSystemDirectoryW, "GetSystemDirectoryW", true);
  Bind(ExpandEnvironmentStringsW, "ExpandEnvironmentStringsW", true);
  Bind(FindFirstFileW, "FindFirstFileW", true);
  Bind(FindNextFileW, "FindNextFileW", true);
  Bind(GetFileAttributesW, "GetFileAttributesW", true);
  Bind(SetFileAttributesW, "SetFileAttributesW", true);
  Bind(GetFileAttributesExW, "GetFileAttributesExW", true);
  Bind(GetCurrentDirectoryW, "GetCurrentDirectoryW", true);
  Bind(SetCurrentDirectoryW, "SetCurrentDirectoryW", true);
  Bind(GetTempPathW, "GetTempPathW", true);
  Bind(GetTempFileNameW, "GetTempFileNameW", true);
  Bind(CopyFileW, "CopyFileW", true);
  Bind(GetFullPathNameW, "GetFullPathNameW", true);
  Bind(GetVolumeInformationW, "GetVolumeInformationW", true);
  Bind(QueryFullProcessImageNameW, "QueryFullProcessImageNameW", false);
}

Shell32DllHelper::Shell32DllHelper() : DynamicLoadLibraryHelper("shell32.dll", true) {
  Bind(SHGetFolderPathW, "SHGetFolderPathW", false);
  Bind(ShellExecuteExW, "ShellExecuteExW", true);
}

User32DllHelper::User32DllHelper() : DynamicLoadLibraryHelper("user32.dll", true) {
  Bind(CharUpperBuffW, "CharUpperBuffW", true);
}

VersionDllHelper::VersionDllHelper() : DynamicLoadLibraryHelper("version.dll", true) {
  Bind(GetFileVersionInfoSizeW, "GetFileVersionInfoSizeW", true);
  Bind(GetFileVersionInfoW, "GetFileVersionInfoW", true);
  Bind(VerQueryValueW, "VerQueryValueW", true);
}

Dinput8DllHelper::Dinput8DllHelper() : DynamicLoadLibraryHelper("dinput8.dll", true) {
  Bind(DirectInput8Create, "DirectInput8Create", false);
}

Edpwin32DllHelper::Edpwin32DllHelper() : DynamicLoadLibraryHelper("efswrt.dll", false) {
  Bind(ProtectFileToEnterpriseIdentity, "ProtectFileToEnterpriseIdentity", false);
}

SrpapiDllHelper::SrpapiDllHelper() : DynamicLoadLibraryHelper("srpapi.dll", false) {
  Bind(SrpGetEnterpriseIds, "SrpGetEnterpriseIds", false);
}

namespace {
// Created when the library is loaded, before any entry is used, and
// destroyed when it is unloaded.
Kernel32DllHelper g_processKernel32;
}  // namespace

Kernel32DllHelper& ProcessKernel32() {
  return g_processKernel32;
}
