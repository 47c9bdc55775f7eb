// A stand-in for programs the library starts (browsers, control panel): it
// appends its command line, as UTF-8, to "<its own path>.log". With the
// argument --stay it then waits (up to two minutes) so that it can be found
// among the running processes.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {
std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0) return 1;
  std::wstring logPath = std::wstring(self, length) + L".log";
  // Several instances may write at once: append under a retry loop.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE log = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      std::string line = Utf8(GetCommandLineW()) + "\n";
      DWORD written = 0;
      WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(log);
      break;
    }
    Sleep(20);
  }
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--stay") == 0) Sleep(120000);
  }
  return 0;
}
