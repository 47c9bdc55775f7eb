// The setup window: one top-level window whose client area is painted from
// an element tree into a back buffer, with a 16 ms timer that animates its
// size and drives the controls' animations. Subclasses route the events and
// own the focus ring.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/MString.h"
#include "ui/MRegion.h"

class ZavuzER;

inline constexpr wchar_t kToolkitWindowClass[] = L"ArvexGlintPlayerInstaller";

// Event sources of the window itself, the host and failure reports.
enum : int32_t { kSourceWindow = 2, kSourceHost = 3, kSourceFailure = 4 };
// Window events (source 2).
enum : int32_t { kWindowClosing = 0, kWindowCreate = 1, kWindowSized = 2, kWindowSettled = 4 };

class MWindow : public MLink {
 public:
  // Registers the class, creates the window (hidden, 100 x 100 client),
  // makes it topmost, creates the back buffer and starts timer 0.
  explicit MWindow(ZavuzER* ui);
  MWindow(const MWindow&) = delete;
  MWindow& operator=(const MWindow&) = delete;

  virtual bool OnEvent(int32_t source, int32_t kind, intptr_t value) = 0;
  virtual bool SetFocusElement(MRegion* element, bool showRing) = 0;
  // WM_CLOSE. Without a rule of the subclass: closing steps, then the
  // session ends cancelled.
  virtual LRESULT OnClose();
  virtual ~MWindow();

  void PostEvent(int32_t source, int32_t kind, intptr_t value);
  // Notify(0, code), then PostQuitMessage(code).
  void EndSession(int32_t code);
  void SetTitle(const MString& title);
  void Show(bool on);
  void SetBackground(COLORREF colour) { background_ = colour; }
  // Sizes the window to the current rect (see the window procedure).
  void Resize(bool keepTarget, bool notify);
  // Immediate size, and animated size (the timer moves towards it).
  void SetClientSize(int32_t width, int32_t height);
  void SetTargetSize(int32_t width, int32_t height);
  // One timer tick of the size animation, then the broadcast.
  void Tick();
  // Every element's handler with `message`, depth first; with stopAtTrue the
  // walk ends at the first handler that returns true.
  bool Broadcast(UINT message, bool stopAtTrue);

  HWND Handle() const { return hwnd_; }
  ZavuzER* Ui() const { return ui_; }
  HDC BackBuffer() const { return backBuffer_; }
  MRegion* FirstRoot() const { return firstRoot_; }
  MRegion* Captured() const { return captured_; }
  MRegion* Focused() const { return focused_; }
  bool RingShown() const { return ringShown_ != 0; }
  const UiRect& Current() const { return current_; }
  const UiRect& Target() const { return target_; }
  int CursorState() const { return cursor_; }

  // The focus search over the proxy windows beside `start`.
  static HWND FindFocusWindow(HWND start, bool forward);
  static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Keyboard focus to `element` (to the window itself for none), with the
  // focus ring placed around it when `showRing` and hidden otherwise;
  // answers whether an element has the focus. For SetFocusElement.
  bool MoveFocus(MRegion* element, bool showRing, MSkinnedSection* ring);
  void Paint();
  void DispatchMouse(UINT message, LPARAM lParam);

  COLORREF background_ = 0;
  MRegion* firstRoot_ = nullptr;
  MRegion* captured_ = nullptr;
  UiRect current_{0, 0, 100, 100};
  UiRect target_{0, 0, 100, 100};
  MString title_;
  MRegion* focused_ = nullptr;
  uint8_t ringShown_ = 0;
  ZavuzER* ui_;
  ATOM atom_ = 0;
  HWND hwnd_ = nullptr;
  HDC backBuffer_ = nullptr;
  int cursor_ = 0;
  uint8_t closeAfterUninstall_ = 0;

  friend void AddRootElement(MWindow*, MRegion*);
  friend void RemoveRootElement(MWindow*, MRegion*);
  friend void CaptureMouse(MRegion*);
  friend void ReleaseMouse(MRegion*);
  friend void SetCursorState(MWindow*, int);
  friend void SetVisible(MRegion*, bool);
  friend void SetEnabled(MRegion*, bool);
};
