// A stand-in for the player's background services. Started by the service
// control manager with "service MODE" (stop-now, stop-and-end, stop-after MS,
// refuse-stop, never-stop), it answers a stop as its mode says. Run as a
// command, it appends its command line to "<own path>.log", with "-uninstall"
// also stops and deletes the update service that runs it, and exits with the
// number in "<own path>.exitcode" (0 without that file).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
HANDLE stopped = nullptr;
std::wstring mode;
DWORD stopAfter = 0;

std::wstring Self() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

void Report(DWORD state, DWORD hint = 0) {
  status.dwCurrentState = state;
  status.dwWaitHint = hint;
  status.dwControlsAccepted = mode == L"refuse-stop" ? 0 : SERVICE_ACCEPT_STOP;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control != SERVICE_CONTROL_STOP) return NO_ERROR;
  // stop-now is stopped before the control returns, so that the caller's
  // first look after asking already sees it, however busy the machine is.
  if (mode == L"stop-now" || mode == L"stop-and-end") {
    Report(SERVICE_STOPPED);
    // stop-and-end ends before it answers: the caller's control fails.
    if (mode == L"stop-and-end") ExitProcess(0);
  } else {
    Report(SERVICE_STOP_PENDING, mode == L"stop-after" ? stopAfter : 60000);
  }
  if (mode != L"never-stop") SetEvent(stopped);
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t** names) {
  statusHandle = RegisterServiceCtrlHandlerExW(names[0], Control, nullptr);
  Report(SERVICE_RUNNING);
  WaitForSingleObject(stopped, INFINITE);
  Sleep(stopAfter);  // 0 but in stop-after
  Report(SERVICE_STOPPED);
}

// Stops and deletes the update service when its program is this program,
// as the service's own uninstaller does.
void DeleteOwnService() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceW(manager, L"ArvexGlintPlayerUpdateSvc", SERVICE_ALL_ACCESS);
  BYTE buffer[8192];
  DWORD needed = 0;
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
  if (service != nullptr && QueryServiceConfigW(service, config, sizeof buffer, &needed) &&
      std::wcsstr(config->lpBinaryPathName, Self().c_str()) != nullptr) {
    SERVICE_STATUS state = {};
    ControlService(service, SERVICE_CONTROL_STOP, &state);
    for (int i = 0;
         i < 100 && QueryServiceStatus(service, &state) && state.dwCurrentState != SERVICE_STOPPED;
         ++i) {
      Sleep(50);
    }
    DeleteService(service);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"service") == 0) {
    mode = argv[2];
    stopAfter = argc >= 4 ? static_cast<DWORD>(_wtoi(argv[3])) : 0;
    stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L""), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
  }
  const std::wstring self = Self();
  if (FILE* log = _wfopen((self + L".log").c_str(), L"ab")) {
    std::fprintf(log, "%ls\n", GetCommandLineW());
    std::fclose(log);
  }
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"-uninstall") == 0) DeleteOwnService();
  }
  int code = 0;
  if (FILE* exit = _wfopen((self + L".exitcode").c_str(), L"rb")) {
    if (std::fscanf(exit, "%d", &code) != 1) code = 0;
    std::fclose(exit);
  }
  return code;
}
