// The add-in application of the add-in tests: it holds its running mutex while
// it runs, with --stay until "GlintAddInTestQuit" is signalled (or a minute passes).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  HANDLE running = CreateMutexA(nullptr, FALSE, "KestrelinkMutexGammaglintaddin");
  HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, L"GlintAddInTestQuit");
  if (argc > 1 && std::wcscmp(argv[argc - 1], L"--stay") == 0) WaitForSingleObject(quit, 60000);
  CloseHandle(quit);
  CloseHandle(running);
  return 0;
}
