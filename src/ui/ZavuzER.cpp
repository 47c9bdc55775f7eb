#include "ui/ZavuzER.h"

#include <string>

#include "engine/HostCallbacks.h"
#include "ui/MWindow.h"

ZavuzER::ZavuzER(HostCallbacks* host, HMODULE module, GlintBrokerShim* shim)
    : module_(module != nullptr ? module : GetModuleHandleW(nullptr)), host_(host), shim_(shim) {
  msimg32_ = LoadLibraryW(L"Msimg32.dll");
  if (msimg32_ != nullptr) {
    alphaBlend_ = reinterpret_cast<AlphaBlendFn>(
        reinterpret_cast<void*>(GetProcAddress(msimg32_, "AlphaBlend")));
  }
}

ZavuzER::~ZavuzER() {
  if (msimg32_ != nullptr) FreeLibrary(msimg32_);
}

void ZavuzER::SetNotifyCallback(NotifyCallback callback, void* context) {
  callback_ = callback;
  callbackContext_ = context;
}

intptr_t ZavuzER::Notify(int32_t code, intptr_t value) {
  return callback_ != nullptr ? callback_(this, code, value, callbackContext_) : 0;
}

void ZavuzER::AttachWindow(MWindow* window) {
  window_ = window;
  if (window != nullptr) window->OnEvent(kSourceWindow, kWindowCreate, 0);
}

void ZavuzER::PostEvent(int32_t source, int32_t kind, intptr_t value) {
  if (window_ != nullptr) window_->PostEvent(source, kind, value);
}

int32_t ZavuzER::Run() {
  // The control-hosting library as the system folder holds it.
  char system[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(system, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return static_cast<int32_t>(GetLastError());
  std::string path(system, length);
  path += "\\atl.dll";
  HMODULE atl = LoadLibraryA(path.c_str());
  if (atl == nullptr) return static_cast<int32_t>(GetLastError());
  using AtlAxWinInitFn = BOOL(WINAPI*)();
  auto init = reinterpret_cast<AtlAxWinInitFn>(
      reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
  if (init == nullptr || !init()) {
    DWORD error = GetLastError();
    FreeLibrary(atl);
    return static_cast<int32_t>(error);
  }
  HWND hwnd = window_ != nullptr ? window_->Handle() : nullptr;
  if (hwnd != nullptr) {
    const UiRect& r = window_->Current();
    const RECT area{r.left, r.top, r.right, r.bottom};
    InvalidateRect(hwnd, &area, FALSE);
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (hwnd != nullptr) ShowWindow(hwnd, SW_HIDE);
  FreeLibrary(atl);
  return static_cast<int32_t>(message.wParam);
}

void ZavuzER::LoadText(MString* text, uint32_t id) {
  if (text == nullptr || host_ == nullptr) return;
  host_->LoadHostString(text, id, 1);
}

void ZavuzER::Free(ZavuzER* ui) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
  delete ui;
#pragma GCC diagnostic pop
}
