// Holds a file the way a running program does, until it is ended:
//   file_holder read PATH     opened for reading, others may read it too
//   file_holder module PATH   loaded as a module
// Once it holds the file it creates "PATH.held"; it then waits for good.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: file_holder read|module PATH\n", stderr);
    return 2;
  }
  const bool module = std::wcscmp(argv[1], L"module") == 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  HMODULE loaded = nullptr;
  if (module) {
    loaded = LoadLibraryW(argv[2]);
  } else {
    file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  if (loaded == nullptr && file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "file_holder: cannot hold the file (error %lu)\n", GetLastError());
    return 1;
  }
  const std::wstring marker = std::wstring(argv[2]) + L".held";
  CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  Sleep(INFINITE);
  return 0;
}
