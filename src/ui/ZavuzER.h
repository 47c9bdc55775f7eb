// The toolkit object the host drives: it owns the window's message loop,
// the skins' resource module and the way back to the host. The host calls
// it through its table: one virtual per slot, in slot order, and no virtual
// destructor.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/MString.h"

class GlintBrokerShim;
class HostCallbacks;
class MWindow;
class ZavuzER;

// callback(ui, code, value, context): codes 0 exit (value = exit code),
// 2 install finished, 3 uninstall finished, 4 update choice made, 6 query of
// player kinds (value points to a 32-bit flag word the host fills).
using NotifyCallback = intptr_t (*)(ZavuzER* ui, int32_t code, intptr_t value, void* context);

using AlphaBlendFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);

// Not final: the host calls every slot through the table, and a final class
// would let the compiler call the functions directly, which only the library
// has.
class ZavuzER {
 public:
  // `module` holds the skins (null: the process's main module); `shim` is
  // the shim that created the toolkit, which links ask to open pages.
  ZavuzER(HostCallbacks* host, HMODULE module, GlintBrokerShim* shim = nullptr);
  ~ZavuzER();
  ZavuzER(const ZavuzER&) = delete;
  ZavuzER& operator=(const ZavuzER&) = delete;
  // Frees an object made as exactly this type: the table has no virtual
  // destructor (its slots are a binary interface).
  static void Free(ZavuzER* ui);

  virtual void SetNotifyCallback(NotifyCallback callback, void* context);  // 0
  virtual intptr_t Notify(int32_t code, intptr_t value);                   // 1
  // Stores the window and gives it OnEvent(2, 1, 0) (create).
  virtual void AttachWindow(MWindow* window);  // 2
  // Posts WM_USER + kind (wParam source, lParam value) to the window.
  virtual void PostEvent(int32_t source, int32_t kind, intptr_t value);  // 3
  // The message loop; returns the exit code, or the Windows error when the
  // control-hosting library cannot be initialised (the window stays hidden).
  virtual int32_t Run();  // 4
  // The host's text `id` (its slot 3 with (id, 1)).
  virtual void LoadText(MString* text, uint32_t id);  // 5

  HMODULE Module() const { return module_; }
  HostCallbacks* Host() const { return host_; }
  GlintBrokerShim* Shim() const { return shim_; }
  MWindow* Window() const { return window_; }
  AlphaBlendFn AlphaBlend() const { return alphaBlend_; }
  bool HasNotifyCallback() const { return callback_ != nullptr; }

 private:
  HMODULE msimg32_ = nullptr;
  AlphaBlendFn alphaBlend_ = nullptr;
  HMODULE module_;
  HostCallbacks* host_;
  MWindow* window_ = nullptr;
  NotifyCallback callback_ = nullptr;
  void* callbackContext_ = nullptr;
  GlintBrokerShim* shim_;
};

constexpr uint32_t kZavuzERSlots = 6;
