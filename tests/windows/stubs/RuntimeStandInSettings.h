// Where the Windows Runtime stand-in (RuntimeStandIn.cpp) takes its answers
// from: the registry, read again on every call, so that a test can set the
// protection of each file for a broker that COM starts.
#pragma once

#include <windows.h>

namespace standin {

// The stand-in serves these two classes from one library, registered under
// HKEY_LOCAL_MACHINE\<kActivatableClasses>\<class> with DllPath,
// ActivationType 0 (in-process) and Threading 0 (both).
constexpr wchar_t kActivatableClasses[] =
    L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId";
constexpr wchar_t kStorageFileClass[] = L"Windows.Storage.StorageFile";
constexpr wchar_t kProtectionManagerClass[] =
    L"Windows.Security.EnterpriseData.FileProtectionManager";

// HKEY_LOCAL_MACHINE\<kProtectionKey>: one REG_SZ per file, named by the
// file's name (its last path component), holding "<status>|<identity>" with
// the status a number of the protection-status enumeration. Suffixes:
//   "|hold"  the protection query completes only once the named event
//            kReleaseEvent is set;
//   "|error" the protection query completes with the status Error.
// A file without a value is unprotected (status 1). The value "lookup" for a
// file makes the file lookup itself complete with Error.
constexpr wchar_t kProtectionKey[] = L"Software\\GlintTestStandIns\\FileProtection";
constexpr wchar_t kReleaseEvent[] = L"GlintTestProtectionRelease";

}  // namespace standin
