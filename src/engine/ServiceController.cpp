#include "engine/ServiceController.h"

#include <windows.h>

#include <string>
#include <utility>

#include "engine/HostCallbacks.h"
#include "engine/StatusDetail.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"
#include "update/NotifierTask.h"

namespace {

constexpr DWORD kStopLimitMs = 30000;
constexpr DWORD kUninstallWaitMs = 6000;
constexpr DWORD kCommandWaitMs = 600000;

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                              sizeof *status, &needed) != FALSE;
}

// How long to sleep before asking again: a tenth of the service's own hint,
// between 50 ms and 1 s, and never past the limit.
DWORD PollDelay(const SERVICE_STATUS_PROCESS& status, DWORD elapsed, DWORD limit) {
  DWORD delay = status.dwWaitHint / 10;
  if (delay < 50) delay = 50;
  if (delay > 1000) delay = 1000;
  return elapsed >= limit ? 0 : (limit - elapsed < delay ? limit - elapsed : delay);
}

}  // namespace

ServiceController::ServiceController(HostCallbacks* host, MString program, MString serviceName,
                                     MString displayName)
    : host_(host),
      program_(std::move(program)),
      serviceName_(std::move(serviceName)),
      displayName_(std::move(displayName)) {}

bool ServiceController::ServiceExists() const {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ReportStatus(host_, kStatusError, kStatusNoManager);
    return false;
  }
  return UniqueScHandle(OpenServiceW(manager.Get(), W(serviceName_), SERVICE_ALL_ACCESS)).Valid();
}

bool ServiceController::StopService() const {
  if (!ServiceExists()) return true;
  const DWORD start = GetTickCount();
  auto elapsed = [&] { return GetTickCount() - start; };
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ReportStatus(host_, kStatusError, kStatusNoManager);
    return false;
  }
  UniqueScHandle service(OpenServiceW(manager.Get(), W(serviceName_), SERVICE_ALL_ACCESS));
  if (!service) {
    ReportStatus(host_, kStatusError, kStatusNoService);
    return false;
  }
  SERVICE_STATUS_PROCESS status = {};
  if (!Query(service.Get(), &status) || status.dwCurrentState == SERVICE_STOPPED) return true;
  // A stop already under way: follow it, up to the limit.
  while (status.dwCurrentState == SERVICE_STOP_PENDING) {
    if (elapsed() > kStopLimitMs) return true;
    Sleep(PollDelay(status, elapsed(), kStopLimitMs + 1));
    if (!Query(service.Get(), &status) || status.dwCurrentState == SERVICE_STOPPED) return true;
  }
  SERVICE_STATUS stop = {};
  if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &stop)) {
    // A service that stops while it answers can end its process before the
    // answer is read: the call fails, and the service is stopped all the same.
    if (Query(service.Get(), &status) && status.dwCurrentState == SERVICE_STOPPED) {
      ReportStatus(host_, kStatusProgress, kStatusServiceStopped);
      return true;
    }
    ReportStatus(host_, kStatusError, kStatusStopRefused);
    return false;
  }
  if (!Query(service.Get(), &status)) {
    ReportStatus(host_, kStatusError, kStatusNoStatus);
    return true;
  }
  if (status.dwCurrentState == SERVICE_STOPPED) {
    ReportStatus(host_, kStatusProgress, kStatusServiceStopped);
    return true;
  }
  // Follow the stop as the service reports it instead of sleeping blindly.
  for (;;) {
    if (elapsed() > kStopLimitMs) {
      ReportStatus(host_, kStatusError, kStatusNeverStopped);
      return true;
    }
    Sleep(PollDelay(status, elapsed(), kStopLimitMs + 1));
    if (!Query(service.Get(), &status)) {
      ReportStatus(host_, kStatusError, kStatusStatusLost);
      return true;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
      ReportStatus(host_, kStatusError, kStatusStoppedLate);
      ReportStatus(host_, kStatusProgress, kStatusServiceStopped);
      return true;
    }
  }
}

bool ServiceController::UninstallService() const {
  return Run(MString(u"-uninstall"), kUninstallWaitMs, kStatusCannotStartUninstall);
}

bool ServiceController::RunCommand(const MString& argument) const {
  return Run(argument, kCommandWaitMs, kStatusCannotStart);
}

bool ServiceController::Run(const MString& argument, uint32_t waitMs, uint32_t failureCode) const {
  std::wstring line = std::wstring(W(program_)) + L" " + W(argument);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    ReportStatus(host_, kStatusError, failureCode, DecimalError(GetLastError()));
    return false;
  }
  UniqueHandle thread(process.hThread), owner(process.hProcess);
  if (WaitForSingleObject(owner.Get(), waitMs) != WAIT_OBJECT_0) return false;
  DWORD code = 1;
  return GetExitCodeProcess(owner.Get(), &code) && code == 0;
}

bool ServiceController::SetUpdateMode(uint32_t mode) const {
  const MString notify(u"-setNotifyAutoUpdate"), disable(u"-setDisableAutoUpdate");
  bool result = false;
  uint32_t notifyTypes = 0;  // the types whose notification step runs
  switch (mode) {
    case 0:
      result = RunCommand(MString(u"-setSilentAutoUpdate"));
      notifyTypes = kPlayerPepper | kPlayerPlugin;
      break;
    case 1:
      result = RunCommand(MString(u"-uninstall"));
      result = RunCommand(notify) && result;  // both run, in order
      notifyTypes = kPlayerPepper | kPlayerPlugin;
      break;
    case 2:
      result = RunCommand(MString(u"-uninstall"));
      result = RunCommand(disable) && result;
      break;
    case 3:
    case 4:
      result = RunCommand(mode == 3 ? notify : disable);
      notifyTypes = kPlayerPepper;
      break;
    case 5:
    case 6:
      result = RunCommand(mode == 5 ? notify : disable);
      notifyTypes = kPlayerPlugin;
      break;
    default:
      ReportStatus(host_, kStatusError, kStatusCannotStart);
      return false;
  }
  const uint32_t flags = host_ != nullptr ? host_->GetHostFlags() : 0;
  for (uint32_t type : {kPlayerPepper, kPlayerPlugin}) {
    if (!(notifyTypes & type) || !(flags & type)) continue;
    MString checkPath;
    host_->GetServiceCheckPath(&checkPath, type);
    RegisterNotifierTask(checkPath,
                         MString(type == kPlayerPepper ? u"-check pepperplugin" : u"-check plugin"),
                         host_, type);
  }
  return result;
}

ServiceController UpdateServiceController(HostCallbacks* host, const MString& program) {
  return ServiceController(host, program, MString(u"ArvexGlintPlayerUpdateSvc"),
                           MString(u"Arvex Glint Player Update Service"));
}
