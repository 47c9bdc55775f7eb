// Stand-in for the system's efswrt.dll: ProtectFileToEnterpriseIdentity
// records each call as a "path|identity" line in the file the registry names
// and answers the configured HRESULT (StandInSettings.h).
#include <windows.h>

#include <string>

#include "StandInSettings.h"
#include "foundation/Win32Handles.h"

namespace {

std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return "(null)";
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

void Record(const wchar_t* path, const wchar_t* identity) {
  std::wstring log;
  if (!standin::ReadText(standin::kProtectLog, REG_SZ, &log) || log.empty()) return;
  UniqueHandle file(CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  std::string line = Utf8(path) + "|" + Utf8(identity) + "\n";
  DWORD written = 0;
  WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    ProtectFileToEnterpriseIdentity(LPCWSTR fileOrFolderPath, LPCWSTR identity) {
  Record(fileOrFolderPath, identity);
  return standin::ReadResult(standin::kProtectResult, S_OK);
}
