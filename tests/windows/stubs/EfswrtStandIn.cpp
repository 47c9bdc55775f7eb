// Stand-in for efswrt.dll: ProtectFileToEnterpriseIdentity appends
// "path|identity\n" (UTF-8) to the registry's log file and answers the
// configured HRESULT (StandInSettings.h).
#include <windows.h>

#include "StandInSettings.h"
#include "TaskStandInSettings.h"

extern "C" __declspec(dllexport) HRESULT WINAPI
    ProtectFileToEnterpriseIdentity(LPCWSTR path, LPCWSTR identity) {
  standin::Log(standin::Utf8(path) + "|" + standin::Utf8(identity), standin::kProtectLog);
  return standin::ReadResult(standin::kProtectResult, S_OK);
}
