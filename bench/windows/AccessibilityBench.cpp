// A screen reader's question to the setup window beside a bare cross-process
// call: get_accName on a control's accessible object in glinthost's setup
// window, from this process, against IBenchAnchor::Empty on the anchor
// server, in turns in the same run. The ratio is the figure (target: at most
// 1.5). The anchor must be registered (bench_anchor.exe register).
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>

#include "BenchHarness.h"
#include "bench/BenchAnchor.h"
#include "foundation/ComRef.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr wchar_t kSetupClass[] = L"ArvexGlintPlayerInstaller";

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.rfind(L'\\'));
}

// glinthost showing the installer splash, with a configuration of its own.
UniqueHandle StartHost(const std::wstring& config) {
  UniqueHandle file(CreateFileW(config.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  const char text[] = "HostFlags 0;";
  DWORD written = 0;
  if (!file || !WriteFile(file.Get(), text, sizeof text - 1, &written, nullptr)) return {};
  file.Reset();
  std::wstring line = L"\"" + ProgramFolder() + L"\\glinthost.exe\" --config \"" + config +
                      L"\" setup-window installer";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // the host's own lines stay out of the figures
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return {};
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

// The first shown proxy of the setup window that names itself, once it shows.
bool NamedControl(ComRef<IAccessible>& object) {
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  for (int attempt = 0; attempt < 400; ++attempt, Sleep(50)) {
    HWND window = FindWindowW(kSetupClass, nullptr);
    for (HWND child = window != nullptr ? GetWindow(window, GW_CHILD) : nullptr; child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      if (!IsWindowVisible(child) ||
          FAILED(AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT),
                                            IID_IAccessible, object.Receive()))) {
        continue;
      }
      UniqueBstr name;
      if (object->get_accName(self, name.Receive()) == S_OK && name) return true;
    }
  }
  return false;
}

int Run() {
  ComRef<IBenchAnchor> anchor;
  const HRESULT created = CoCreateInstance(CLSID_BenchAnchor, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IBenchAnchor, anchor.Receive());
  if (FAILED(created)) {
    std::printf("no anchor (0x%08lX): run bench_anchor.exe register\n",
                static_cast<unsigned long>(created));
    return 1;
  }
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring config = std::wstring(temp) + L"glint-accessibility-bench.cfg";
  UniqueHandle host = StartHost(config);
  ComRef<IAccessible> control;
  if (!host || !NamedControl(control)) {
    std::printf("the setup window did not show a named control\n");
    if (host) TerminateProcess(host.Get(), 1);
    DeleteFileW(config.c_str());
    return 1;
  }
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  int failures = 0;
  const bench::Pair figure = bench::PairedMediansNs(
      [&] {
        UniqueBstr name;
        if (control->get_accName(self, name.Receive()) != S_OK) ++failures;
      },
      [&] {
        if (FAILED(anchor->Empty())) ++failures;
      },
      20, 31);
  bench::Report("get_accName, setup window proxy (cross-process)", figure.subject,
                "IBenchAnchor::Empty", figure.anchor);
  std::printf("ratio %.2f (target <= 1.5), failed calls %d\n",
              figure.anchor > 0 ? figure.subject / figure.anchor : 0.0, failures);
  control.Reset();
  PostMessageW(FindWindowW(kSetupClass, nullptr), WM_CLOSE, 0, 0);
  if (WaitForSingleObject(host.Get(), 20000) != WAIT_OBJECT_0) TerminateProcess(host.Get(), 1);
  DeleteFileW(config.c_str());
  return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int status = Run();
  CoUninitialize();
  return status;
}
