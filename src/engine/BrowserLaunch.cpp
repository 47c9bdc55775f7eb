// Finding a running browser and opening pages in one (shim operations 56 to
// 58).
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include "engine/GlintBrokerShim.h"
#include "engine/HostCallbacks.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"
#include "ui/MWindow.h"

namespace {

constexpr const char16_t* kBrowserImages[] = {
    u"firefox.exe",  u"chrome.exe",  u"safari.exe",    u"opera.exe",
    u"netscape.exe", u"mozilla.exe", u"seamonkey.exe",
};

constexpr DWORD kMaxProcesses = 1024;

bool IsBrowserImage(const MString& image) {
  MString lowered = ToLowerAscii(image);
  for (const char16_t* name : kBrowserImages) {
    if (Equals(lowered, MString(name))) return true;
  }
  return false;
}

// Path of the last running process whose image is a known browser; empty
// when none; "firefox.exe" when the processes cannot be listed.
MString RunningBrowserPath() {
  using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
  using ModuleNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
  SystemModule psapi;
  psapi.Load(MString(u"psapi.dll"));
  auto enumProcesses = psapi.ResolveAs<EnumProcessesFn>("EnumProcesses");
  auto baseName = psapi.ResolveAs<ModuleNameFn>("GetModuleBaseNameW");
  auto fileName = psapi.ResolveAs<ModuleNameFn>("GetModuleFileNameExW");
  DWORD ids[kMaxProcesses];
  DWORD bytes = 0;
  if (enumProcesses == nullptr || !enumProcesses(ids, sizeof ids, &bytes)) {
    return MString(u"firefox.exe");
  }
  MString found(u"");
  if (baseName == nullptr || fileName == nullptr) return found;
  DWORD count = bytes / sizeof(DWORD);
  for (DWORD i = 0; i < count && i < kMaxProcesses; ++i) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
    if (!process) continue;
    wchar_t image[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    DWORD imageLength = baseName(process.Get(), nullptr, image, MAX_PATH);
    DWORD pathLength = fileName(process.Get(), nullptr, path, MAX_PATH);
    if (imageLength == 0 || pathLength == 0) continue;
    if (IsBrowserImage(FromWide(image, static_cast<int32_t>(imageLength)))) {
      found = FromWide(path, static_cast<int32_t>(pathLength));
    }
  }
  return found;
}

// ShellExecuteW "open"; true when it answers more than 32.
bool Open(HWND parent, const MString& file, const MString& parameters) {
  HINSTANCE result =
      ShellExecuteW(parent, L"open", W(file), WOrNull(parameters), nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

constexpr char16_t kInternetExplorer[] = u"c:\\Program Files\\Internet Explorer\\iexplore.exe";
constexpr char16_t kInternetExplorer32[] =
    u"c:\\Program Files (x86)\\Internet Explorer\\iexplore.exe";

}  // namespace

// The native window of the setup window that asks, as the parent of what
// opens; pages asked for without a window open without a parent.
static HWND ParentWindow(MWindow* window) {
  return window != nullptr ? window->Handle() : nullptr;
}

bool GlintBrokerShim::FindBrowser() {
  browserPath_ = RunningBrowserPath();
  return !browserPath_.IsEmpty();
}

bool GlintBrokerShim::LaunchBrowser(MWindow* window, MStringArg urlArg) {
  MString url = MString::Adopt(urlArg);
  HWND parent = ParentWindow(window);
  uint32_t flags = host_ != nullptr ? host_->GetHostFlags() : 0;
  MString program;
  if (flags & kPlayerActiveX) {
    program = MString(kInternetExplorer);
  } else if (flags & kPlayerPlugin) {
    if (browserPath_.IsEmpty() && !FindBrowser()) {
      program = MString(u"firefox.exe");
    } else {
      program = browserPath_;
    }
  }
  bool opened = program.IsEmpty() ? Open(parent, url, MString()) : Open(parent, program, url);
  if (!opened && (flags & kPlayerActiveX)) opened = Open(parent, MString(kInternetExplorer32), url);
  if (!opened) opened = Open(parent, url, MString());
  return opened;
}
