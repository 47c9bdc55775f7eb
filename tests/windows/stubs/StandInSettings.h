// Where the system stand-ins take their answers from: values under
// HKEY_LOCAL_MACHINE\<kKey>, read again on every call (they run in the
// broker COM starts, so a test configures them through the registry).
#pragma once

#include <windows.h>

#include <string>

namespace standin {

constexpr wchar_t kKey[] = L"Software\\GlintTestStandIns";
// srpapi.dll: REG_MULTI_SZ identities of every token (absent or empty: none);
// kClientEnterpriseIds, when present, for impersonation tokens (a caller's).
constexpr wchar_t kEnterpriseIds[] = L"EnterpriseIds";
constexpr wchar_t kClientEnterpriseIds[] = L"ClientEnterpriseIds";
// REG_DWORD HRESULTs: the answer without a buffer (default: insufficient
// buffer; E_INVALIDARG makes the caller guess a size), and of every call with one.
constexpr wchar_t kNoBufferResult[] = L"EnterpriseIdsNoBufferResult";
constexpr wchar_t kFillResult[] = L"EnterpriseIdsFillResult";
// efswrt.dll: REG_SZ file that gets "path|identity\n" per call; REG_DWORD answer.
constexpr wchar_t kProtectLog[] = L"ProtectLog";
constexpr wchar_t kProtectResult[] = L"ProtectResult";
// Zone classes: REG_DWORD HRESULT with which every Save fails. Wine has no
// alternate streams: the zone lives in "<path>.zone" in the stream's format.
constexpr wchar_t kZoneSaveResult[] = L"ZoneSaveResult";
constexpr wchar_t kZoneSuffix[] = L".zone";
constexpr CLSID kClsidPersistentZoneIdentifier = {
    0x0968E258, 0x16C7, 0x4DBA, {0xAA, 0x86, 0x46, 0x2D, 0xD6, 0x1E, 0x31, 0xA3}};
constexpr CLSID kClsidAttachmentServices = {
    0x4125DD96, 0xE03A, 0x4103, {0x8F, 0x70, 0xE0, 0x59, 0x7D, 0x80, 0x3B, 0x9C}};
constexpr wchar_t kPersistentZoneIdentifierKey[] =
    L"Software\\Classes\\CLSID\\{0968E258-16C7-4DBA-AA86-462DD61E31A3}";
constexpr wchar_t kAttachmentServicesKey[] =
    L"Software\\Classes\\CLSID\\{4125DD96-E03A-4103-8F70-E0597D803B9C}";
// Runtime classes, registered under kActivatableClasses\<class>. Per file
// name under kProtectionKey: "<status>|<identity>" ("|hold": the answer waits
// for the event kReleaseEvent; "|error": the query fails), or "lookup": the
// file lookup fails. No value: unprotected.
constexpr wchar_t kActivatableClasses[] =
    L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId";
constexpr wchar_t kStorageFileClass[] = L"Windows.Storage.StorageFile";
constexpr wchar_t kProtectionManagerClass[] =
    L"Windows.Security.EnterpriseData.FileProtectionManager";
constexpr wchar_t kProtectionKey[] = L"Software\\GlintTestStandIns\\FileProtection";
// The audited access request: every request appends "window|source identity|
// target identity|action|data|source|target\n" (UTF-8) to the REG_SZ file
// kAuditLog and is answered with REG_DWORD kAuditAnswer (0 Allowed, 1 Blocked,
// 2 ConsentRequired; default Blocked).
constexpr wchar_t kAuditInfoClass[] = L"Windows.Security.EnterpriseData.ProtectionPolicyAuditInfo";
constexpr wchar_t kPolicyManagerClass[] =
    L"Windows.Security.EnterpriseData.ProtectionPolicyManager";
constexpr wchar_t kAuditLog[] = L"AuditLog";
// The item dialogs' stand-in, made the TreatAs of both dialog classes: every
// call it records appends a line to the REG_SZ file kDialogLog ("types:",
// "options:", "name:", "collected:", "properties:"); REG_MULTI_SZ
// kDialogOwners, when present, is what the dialog's properties answer for
// the encryption owners (the system's dialog answers nothing).
constexpr wchar_t kDialogLog[] = L"DialogLog";
constexpr wchar_t kDialogOwners[] = L"DialogOwners";
constexpr CLSID kClsidDialogStandIn = {
    0x6A0F3C13, 0x52B4, 0x4E0D, {0x9B, 0x61, 0x0C, 0x7E, 0x2A, 0x44, 0x13, 0x90}};
constexpr wchar_t kDialogStandInKey[] =
    L"Software\\Classes\\CLSID\\{6A0F3C13-52B4-4E0D-9B61-0C7E2A441390}";
constexpr wchar_t kFileOpenDialogKey[] =
    L"Software\\Classes\\CLSID\\{DC1C5A9C-E88A-4DDE-A5A1-60F82A20AEF7}";
constexpr wchar_t kFileSaveDialogKey[] =
    L"Software\\Classes\\CLSID\\{C0B4E2F3-BA21-4773-8DBA-335EC946EB8B}";
constexpr wchar_t kAuditAnswer[] = L"AuditAnswer";
constexpr wchar_t kReleaseEvent[] = L"GlintTestProtectionRelease";

inline HRESULT ReadResult(const wchar_t* name, HRESULT otherwise) {
  DWORD value = 0, size = sizeof value;
  return RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                 ERROR_SUCCESS
             ? static_cast<HRESULT>(value)
             : otherwise;
}

// A REG_SZ or REG_MULTI_SZ value of `key` (inner separators kept, trailing
// NULs dropped); false when absent or of another type.
inline bool ReadText(const wchar_t* name, DWORD type, std::wstring* text,
                     const wchar_t* key = kKey) {
  DWORD flags = type == REG_MULTI_SZ ? RRF_RT_REG_MULTI_SZ : RRF_RT_REG_SZ, size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, flags, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::wstring buffer(size / sizeof(wchar_t) + 2, L'\0');
  size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, flags, nullptr, buffer.data(), &size) !=
      ERROR_SUCCESS)
    return false;
  buffer.resize(size / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  *text = buffer;
  return true;
}

}  // namespace standin
