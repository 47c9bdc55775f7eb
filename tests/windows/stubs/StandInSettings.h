// Where the test stand-ins for enterprise data protection and zone marking
// take their answers from. They run inside whichever process loads them (the
// broker is started by COM, not by the test), so a test configures them
// through the registry; every value is read again on each call.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// HKEY_LOCAL_MACHINE\<kKey>
constexpr wchar_t kKey[] = L"Software\\GlintTestStandIns";

// srpapi.dll, SrpGetEnterpriseIds:
// REG_MULTI_SZ, the identities of every token; absent or empty: none.
constexpr wchar_t kEnterpriseIds[] = L"EnterpriseIds";
// REG_MULTI_SZ; when present, replaces kEnterpriseIds for impersonation
// tokens, which is what a server holds while it impersonates its caller.
constexpr wchar_t kClientEnterpriseIds[] = L"ClientEnterpriseIds";
// REG_DWORD, an HRESULT: the answer to a call without a buffer (default
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when there are identities).
// With E_INVALIDARG the caller is expected to guess a buffer size.
constexpr wchar_t kNoBufferResult[] = L"EnterpriseIdsNoBufferResult";
// REG_DWORD, an HRESULT: when present, every call with a buffer fails so.
constexpr wchar_t kFillResult[] = L"EnterpriseIdsFillResult";

// efswrt.dll, ProtectFileToEnterpriseIdentity:
// REG_SZ, a file to which each call appends "path|identity\n" in UTF-8.
constexpr wchar_t kProtectLog[] = L"ProtectLog";
// REG_DWORD, an HRESULT answered by every call (default S_OK).
constexpr wchar_t kProtectResult[] = L"ProtectResult";

// Zone identifier and attachment services (one in-process server):
// REG_DWORD, an HRESULT: when present, both objects' Save fail so and write
// nothing.
constexpr wchar_t kZoneSaveResult[] = L"ZoneSaveResult";
// Wine has no alternate data streams: a file's zone lives beside it, as
// "[ZoneTransfer]\r\nZoneId=<n>\r\n" and, from the attachment services, a
// "HostUrl=<source>\r\n" line.
constexpr wchar_t kZoneSuffix[] = L".zone";

// The system classes the in-process server stands in for.
constexpr CLSID kClsidPersistentZoneIdentifier = {
    0x0968E258, 0x16C7, 0x4DBA, {0xAA, 0x86, 0x46, 0x2D, 0xD6, 0x1E, 0x31, 0xA3}};
constexpr CLSID kClsidAttachmentServices = {
    0x4125DD96, 0xE03A, 0x4103, {0x8F, 0x70, 0xE0, 0x59, 0x7D, 0x80, 0x3B, 0x9C}};
constexpr wchar_t kPersistentZoneIdentifierKey[] =
    L"Software\\Classes\\CLSID\\{0968E258-16C7-4DBA-AA86-462DD61E31A3}";
constexpr wchar_t kAttachmentServicesKey[] =
    L"Software\\Classes\\CLSID\\{4125DD96-E03A-4103-8F70-E0597D803B9C}";

inline bool ReadDword(const wchar_t* name, DWORD* value) {
  DWORD size = sizeof *value;
  return RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, value, &size) ==
         ERROR_SUCCESS;
}

inline HRESULT ReadResult(const wchar_t* name, HRESULT otherwise) {
  DWORD value = 0;
  return ReadDword(name, &value) ? static_cast<HRESULT>(value) : otherwise;
}

// False when the value is absent or has another type.
inline bool ReadText(const wchar_t* name, DWORD type, std::wstring* text) {
  DWORD flags = type == REG_MULTI_SZ ? RRF_RT_REG_MULTI_SZ : RRF_RT_REG_SZ;
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, flags, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  std::wstring buffer(size / sizeof(wchar_t) + 2, L'\0');
  size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, flags, nullptr, buffer.data(), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  buffer.resize(size / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  *text = buffer;  // a list keeps its inner separators
  return true;
}

}  // namespace standin
