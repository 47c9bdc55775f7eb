// Stand-in for efswrt.dll: ProtectFileToEnterpriseIdentity appends
// "path|identity\n" (UTF-8) to the registry's log file and answers the
// configured HRESULT (StandInSettings.h).
#include <windows.h>

#include <string>

#include "StandInSettings.h"
#include "foundation/Win32Handles.h"

extern "C" __declspec(dllexport) HRESULT WINAPI
    ProtectFileToEnterpriseIdentity(LPCWSTR path, LPCWSTR identity) {
  std::wstring log;
  if (standin::ReadText(standin::kProtectLog, REG_SZ, &log) && !log.empty()) {
    std::string line;
    for (const wchar_t* text : {path, L"|", identity, L"\n"}) {
      char utf8[4096] = "(null)";
      if (text != nullptr) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, 0, 0);
      line += utf8;
    }
    UniqueHandle file(CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
      WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  return standin::ReadResult(standin::kProtectResult, S_OK);
}
