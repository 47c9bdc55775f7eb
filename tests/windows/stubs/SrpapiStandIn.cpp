// Stand-in for srpapi.dll: SrpGetEnterpriseIds answers the registry's
// identities (StandInSettings.h) with the system's two-call convention: the
// bytes and count without a buffer, then pointers followed by the strings.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "StandInSettings.h"

extern "C" __declspec(dllexport) HRESULT WINAPI
    SrpGetEnterpriseIds(HANDLE token, PULONG bytes, PCWSTR* ids, PULONG count) {
  TOKEN_TYPE type = TokenPrimary;
  DWORD length = 0;
  if (!GetTokenInformation(token, TokenType, &type, sizeof type, &length))
    return HRESULT_FROM_WIN32(GetLastError());
  std::wstring list;
  if (type != TokenImpersonation ||
      !standin::ReadText(standin::kClientEnterpriseIds, REG_MULTI_SZ, &list)) {
    if (!standin::ReadText(standin::kEnterpriseIds, REG_MULTI_SZ, &list)) list.clear();
  }
  std::vector<std::wstring> items;
  for (size_t start = 0, end; start < list.size(); start = end + 1) {
    end = std::min(list.find(L'\0', start), list.size());
    if (end > start) items.push_back(list.substr(start, end - start));
  }
  ULONG needed = static_cast<ULONG>(items.size() * sizeof(PCWSTR));
  for (const std::wstring& id : items) needed += static_cast<ULONG>((id.size() + 1) * 2);
  *count = static_cast<ULONG>(items.size());
  if (items.empty()) {
    *bytes = 0;
    return S_OK;
  }
  if (ids == nullptr) {
    *bytes = needed;
    return standin::ReadResult(standin::kNoBufferResult,
                               HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  }
  HRESULT fill = standin::ReadResult(standin::kFillResult, S_OK);
  if (FAILED(fill)) return fill;
  bool fits = *bytes >= needed;
  *bytes = needed;
  if (!fits) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  auto* text = reinterpret_cast<wchar_t*>(ids + items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    std::memcpy(text, items[i].c_str(), (items[i].size() + 1) * sizeof(wchar_t));
    ids[i] = text;
    text += items[i].size() + 1;
  }
  return S_OK;
}
