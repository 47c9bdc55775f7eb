// A small add-in application for the add-in tests: it holds its running
// mutex while it runs, and with --stay until the test signals
// "GlintAddInTestQuit" (or a minute passes).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  HANDLE running = CreateMutexA(nullptr, FALSE, "KestrelinkMutexGammaglintaddin");
  if (argc > 1 && std::wcscmp(argv[argc - 1], L"--stay") == 0) {
    HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, L"GlintAddInTestQuit");
    WaitForSingleObject(quit, 60000);
    CloseHandle(quit);
  }
  CloseHandle(running);
  return 0;
}
