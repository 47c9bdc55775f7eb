// A stand-in for the terminal-session library (wtsapi32.dll): the sessions
// and their states come from the stand-in settings, so that tests can choose
// a console user and make each query fail. Session <id> is "DOMAIN<id>\user<id>".
//   WtsSessions  "0:4 3:0 5:0 7:4"   session id:connection state (0 = active)
//   WtsFail      "enumerate=1722 state3=21 user=5 domain=6": calls that fail
//                with that Windows error
// Built twice: the second build lacks WTSQuerySessionInformationA, which in
// the first only records that it was called (the host must not call it).
#include <cstring>
#include <sstream>
#include <vector>

#include "TaskStandInSettings.h"

namespace {

// The library's own types, without its header (which declares the
// functions as imports).
enum InfoClass : DWORD { kUserName = 5, kDomainName = 7, kConnectState = 8 };
struct SessionInfoA {
  DWORD SessionId;
  char* pWinStationName;
  DWORD State;
};

// The "name<separator>number" entries of a setting, in order.
std::vector<std::pair<std::wstring, DWORD>> Entries(const wchar_t* setting, wchar_t separator) {
  std::wistringstream in(standin::Text(setting));
  std::vector<std::pair<std::wstring, DWORD>> entries;
  for (std::wstring entry; in >> entry;) {
    const size_t at = entry.find(separator);
    if (at == std::wstring::npos) continue;
    entries.emplace_back(entry.substr(0, at), static_cast<DWORD>(std::stoul(entry.substr(at + 1))));
  }
  return entries;
}

// The Windows error the settings give this call, or 0.
DWORD Failure(const std::wstring& call) {
  for (const auto& [name, error] : Entries(L"WtsFail", L'=')) {
    if (name == call) return error;
  }
  return 0;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

void* Copy(const void* data, size_t size, DWORD* bytes) {
  void* block = LocalAlloc(LMEM_FIXED, size);
  if (block != nullptr) std::memcpy(block, data, size);
  *bytes = static_cast<DWORD>(size);
  return block;
}

}  // namespace

extern "C" {

__declspec(dllexport) void WINAPI WTSFreeMemory(void* memory) {
  LocalFree(memory);
}

__declspec(dllexport) BOOL WINAPI
    WTSQuerySessionInformationW(HANDLE, DWORD session, DWORD infoClass, wchar_t** wide,
                                DWORD* bytes) {
  void** buffer = reinterpret_cast<void**>(wide);
  *buffer = nullptr;
  *bytes = 0;
  const std::wstring id = std::to_wstring(session);
  if (infoClass == kConnectState) {
    if (DWORD error = Failure(L"state" + id)) return Fail(error);
    for (const auto& [name, state] : Entries(L"WtsSessions", L':')) {
      if (std::stoul(name) == session) {
        *buffer = Copy(&state, sizeof state, bytes);
        return TRUE;
      }
    }
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  std::wstring text;
  if (infoClass == kUserName) {
    if (DWORD error = Failure(L"user")) return Fail(error);
    text = L"user" + id;
  } else if (infoClass == kDomainName) {
    if (DWORD error = Failure(L"domain")) return Fail(error);
    text = L"DOMAIN" + id;
  } else {
    return Fail(ERROR_NOT_SUPPORTED);
  }
  *buffer = Copy(text.c_str(), (text.size() + 1) * sizeof(wchar_t), bytes);
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    WTSEnumerateSessionsA(HANDLE, DWORD, DWORD, SessionInfoA** sessions, DWORD* count) {
  *sessions = nullptr;
  *count = 0;
  if (DWORD error = Failure(L"enumerate")) return Fail(error);
  const auto list = Entries(L"WtsSessions", L':');
  static char station[] = "Console";
  auto* block =
      static_cast<SessionInfoA*>(LocalAlloc(LMEM_FIXED, (list.size() + 1) * sizeof(SessionInfoA)));
  if (block == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  for (size_t i = 0; i < list.size(); ++i) {
    block[i] = {static_cast<DWORD>(std::stoul(list[i].first)), station, list[i].second};
  }
  *sessions = block;
  *count = static_cast<DWORD>(list.size());
  return TRUE;
}

#ifndef GLINT_WTS_WITHOUT_NARROW_QUERY
__declspec(dllexport) BOOL WINAPI
    WTSQuerySessionInformationA(HANDLE, DWORD, DWORD, char** buffer, DWORD* bytes) {
  standin::Log("WTSQuerySessionInformationA");
  *buffer = nullptr;
  *bytes = 0;
  return Fail(ERROR_NOT_SUPPORTED);
}
#endif

}  // extern "C"
