// Stands in for the system's control-hosting library (atl.dll) in the
// toolkit tests: its initialisation fails with a known error, so that Run
// must report it without showing the window.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI AtlAxWinInit() {
  SetLastError(ERROR_DLL_INIT_FAILED);
  return FALSE;
}
