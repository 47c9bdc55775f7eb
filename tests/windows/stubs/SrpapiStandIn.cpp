// Stand-in for the system's srpapi.dll: SrpGetEnterpriseIds answers the
// identities listed in the registry (StandInSettings.h), with the system's
// two-call convention: without a buffer it reports the bytes and the count
// needed; with a large enough buffer it fills an array of pointers followed
// by the strings they point to.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "StandInSettings.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& list) {
  std::vector<std::wstring> items;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(L'\0', start);
    if (end == std::wstring::npos) end = list.size();
    if (end > start) items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    SrpGetEnterpriseIds(HANDLE token, PULONG numberOfBytes, PCWSTR* enterpriseIds,
                        PULONG enterpriseIdCount) {
  if (numberOfBytes == nullptr || enterpriseIdCount == nullptr) return E_INVALIDARG;
  TOKEN_TYPE type = TokenPrimary;
  DWORD length = 0;
  if (!GetTokenInformation(token, TokenType, &type, sizeof type, &length)) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  std::wstring list;
  if (type != TokenImpersonation ||
      !standin::ReadText(standin::kClientEnterpriseIds, REG_MULTI_SZ, &list)) {
    if (!standin::ReadText(standin::kEnterpriseIds, REG_MULTI_SZ, &list)) list.clear();
  }
  const std::vector<std::wstring> ids = Split(list);
  ULONG needed = static_cast<ULONG>(ids.size() * sizeof(PCWSTR));
  for (const std::wstring& id : ids) {
    needed += static_cast<ULONG>((id.size() + 1) * sizeof(wchar_t));
  }
  *enterpriseIdCount = static_cast<ULONG>(ids.size());
  if (ids.empty()) {
    *numberOfBytes = 0;
    return S_OK;
  }
  if (enterpriseIds == nullptr) {
    *numberOfBytes = needed;
    return standin::ReadResult(standin::kNoBufferResult,
                               HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  }
  HRESULT fill = standin::ReadResult(standin::kFillResult, S_OK);
  if (FAILED(fill)) return fill;
  if (*numberOfBytes < needed) {
    *numberOfBytes = needed;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  auto* text = reinterpret_cast<wchar_t*>(enterpriseIds + ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    std::memcpy(text, ids[i].c_str(), (ids[i].size() + 1) * sizeof(wchar_t));
    enterpriseIds[i] = text;
    text += ids[i].size() + 1;
  }
  *numberOfBytes = needed;
  return S_OK;
}
