#include "ui/MWindow.h"

#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "ui/MSkinImage.h"
#include "ui/ZavuzER.h"

namespace {

constexpr UINT_PTR kTimerId = 0;
constexpr UINT kTimerPeriodMs = 16;

using CreateWindowExWFn = decltype(&::CreateWindowExW);

// The window is created through user32.dll as the system folder holds it,
// so that no library of the same name beside the host takes its place.
HWND CreateToolkitWindow(HINSTANCE instance, DWORD style, MWindow* window) {
  SystemModule user32;
  if (!user32.Load(MString(u"user32.dll"))) return nullptr;
  auto create = user32.ResolveAs<CreateWindowExWFn>("CreateWindowExW");
  if (create == nullptr) return nullptr;
  RECT frame{0, 0, 100, 100};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  return create(WS_EX_DLGMODALFRAME, kToolkitWindowClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                window);
}

struct PaintContext {
  HDC target;
  UiRect update;
  AlphaBlendFn alphaBlend;
};

void PaintList(const PaintContext& paint, MRegion* first, int32_t originX, int32_t originY) {
  for (MRegion* element = first; element != nullptr; element = element->NextSibling()) {
    if (!element->visible) continue;
    if (element->imageOrColour != 0) {
      const UiRect absolute{element->rect.left + originX, element->rect.top + originY,
                            element->rect.right + originX, element->rect.bottom + originY};
      UiRect clip;
      if (ClipToUpdate(absolute, paint.update, &clip)) {
        element->clip = clip;
        const int x = clip.left - paint.update.left, y = clip.top - paint.update.top;
        const int w = clip.Width(), h = clip.Height();
        const DrawMode mode = element->Mode();
        if (mode == DrawMode::SolidFill) {
          HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(element->imageOrColour));
          const RECT area{x, y, x + w, y + h};
          FillRect(paint.target, &area, brush);
          DeleteObject(brush);
        } else {
          const MSkinImage* image = element->Image();
          const UiSourceRect s = SampleSourceRect(absolute, clip, element->source);
          if (image->dc == nullptr) {
            // A skin that failed to load draws nothing.
          } else if (mode == DrawMode::OpaqueCopy) {
            StretchBlt(paint.target, x, y, w, h, image->dc, s.x, s.y, s.width, s.height, SRCCOPY);
          } else if (paint.alphaBlend != nullptr) {
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, element->alpha, AC_SRC_ALPHA};
            paint.alphaBlend(paint.target, x, y, w, h, image->dc, s.x, s.y, s.width, s.height,
                             blend);
          }
        }
      }
    }
    if (element->firstChild != nullptr) {
      PaintList(paint, element->firstChild, originX + element->rect.left,
                originY + element->rect.top);
    }
  }
}

bool DispatchTo(MRegion* element, MWindow* window, POINT p, UINT message, bool force) {
  if (!element->visible) return false;
  for (MRegion* c = element->firstChild; c != nullptr; c = c->NextSibling()) {
    if (DispatchTo(c, window, POINT{p.x - c->rect.left, p.y - c->rect.top}, message, force)) {
      return true;
    }
  }
  const int inside =
      p.x > 0 && p.x < element->Width() && p.y > 0 && p.y < element->Height() ? 1 : 0;
  if (element->handler == nullptr) return false;
  if (!inside && !force) return false;
  return element->handler(element, window, p, inside, message, element->handlerContext);
}

bool BroadcastList(MRegion* first, MWindow* window, UINT message, bool stopAtTrue) {
  for (MRegion* element = first; element != nullptr; element = element->NextSibling()) {
    if (element->handler != nullptr &&
        element->handler(element, window, POINT{0, 0}, 0, message, element->handlerContext) &&
        stopAtTrue) {
      return true;
    }
    if (BroadcastList(element->firstChild, window, message, stopAtTrue)) return true;
  }
  return false;
}

bool Qualifies(HWND candidate) {
  auto* element = reinterpret_cast<MRegion*>(GetWindowLongPtrW(candidate, GWLP_USERDATA));
  return element != nullptr && element->id >= 1 && element->visible && element->enabled;
}

}  // namespace

MWindow::MWindow(ZavuzER* ui) : ui_(ui) {
  WNDCLASSW windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &MWindow::WindowProcedure;
  windowClass.hInstance = ui->Module();
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kToolkitWindowClass;
  atom_ = RegisterClassW(&windowClass);

  DWORD style = WS_CAPTION | WS_SYSMENU;
  if (ui->HasNotifyCallback()) style |= WS_MINIMIZEBOX;
  hwnd_ = CreateToolkitWindow(ui->Module(), style, this);
  if (hwnd_ == nullptr) return;
  SetForegroundWindow(hwnd_);
  SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  HDC windowDc = GetDC(hwnd_);
  backBuffer_ = CreateCompatibleDC(windowDc);
  ReleaseDC(hwnd_, windowDc);
  Resize(false, false);
  SetTimer(hwnd_, kTimerId, kTimerPeriodMs, nullptr);
}

MWindow::~MWindow() {
  if (hwnd_ != nullptr) {
    KillTimer(hwnd_, kTimerId);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  }
  // Elements still in the tree outlive the window only as plain objects. The
  // subclass is gone by now: nothing may ask it to move the focus.
  focused_ = nullptr;
  captured_ = nullptr;
  while (firstRoot_ != nullptr) RemoveRootElement(this, firstRoot_);
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (backBuffer_ != nullptr) {
    HGDIOBJ bitmap = GetCurrentObject(backBuffer_, OBJ_BITMAP);
    DeleteDC(backBuffer_);
    DeleteObject(bitmap);
  }
}

LRESULT MWindow::OnClose() {
  OnEvent(kSourceWindow, kWindowClosing, 0);
  EndSession(1039);
  return 1;
}

void MWindow::PostEvent(int32_t source, int32_t kind, intptr_t value) {
  if (hwnd_ != nullptr) PostMessageW(hwnd_, WM_USER + kind, source, value);
}

void MWindow::EndSession(int32_t code) {
  ui_->Notify(0, code);
  PostQuitMessage(code);
}

void MWindow::SetTitle(const MString& title) {
  title_ = title;
  if (hwnd_ != nullptr) SetWindowTextW(hwnd_, W(title_));
}

void MWindow::Show(bool on) {
  if (hwnd_ != nullptr) ShowWindow(hwnd_, on ? SW_SHOW : SW_HIDE);
}

void MWindow::Resize(bool keepTarget, bool notify) {
  if (!keepTarget) target_ = current_;
  if (hwnd_ == nullptr) return;
  RECT window, client;
  GetWindowRect(hwnd_, &window);
  GetClientRect(hwnd_, &client);
  const int extraWidth = (window.right - window.left) - (client.right - client.left);
  const int extraHeight = (window.bottom - window.top) - (client.bottom - client.top);
  MoveWindow(hwnd_, window.left, window.top, current_.Width() + extraWidth,
             current_.Height() + extraHeight, TRUE);
  HDC windowDc = GetDC(hwnd_);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDc, current_.Width(), current_.Height());
  ReleaseDC(hwnd_, windowDc);
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(backBuffer_, bitmap);
    if (old != nullptr) DeleteObject(old);
  }
  if (!keepTarget && notify) OnEvent(kSourceWindow, kWindowSized, 0);
}

void MWindow::SetClientSize(int32_t width, int32_t height) {
  current_ = UiRect{0, 0, width, height};
  Resize(false, true);
}

void MWindow::SetTargetSize(int32_t width, int32_t height) {
  target_ = UiRect{0, 0, width, height};
}

void MWindow::Tick() {
  const SizeTick tick =
      AnimateSize(current_.Width(), current_.Height(), target_.Width(), target_.Height());
  if (!tick.settled) {
    current_.right = current_.left + tick.width;
    current_.bottom = current_.top + tick.height;
    Resize(true, false);
    OnEvent(kSourceWindow, kWindowSized, 0);
  }
  OnEvent(kSourceWindow, kWindowSettled, 0);
  Broadcast(WM_TIMER, false);
}

bool MWindow::Broadcast(UINT message, bool stopAtTrue) {
  return BroadcastList(firstRoot_, this, message, stopAtTrue);
}

HWND MWindow::FindFocusWindow(HWND start, bool forward) {
  if (start == nullptr) return nullptr;
  HWND candidate = start;
  for (;;) {
    HWND next = GetWindow(candidate, forward ? GW_HWNDNEXT : GW_HWNDPREV);
    if (next == nullptr) next = GetWindow(candidate, forward ? GW_HWNDFIRST : GW_HWNDLAST);
    if (next == nullptr) return nullptr;
    candidate = next;
    if (Qualifies(candidate)) return candidate;
    if (candidate == start) return nullptr;
  }
}

void MWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  if (ps.rcPaint.right != 0 && ps.rcPaint.bottom != 0 && backBuffer_ != nullptr) {
    const UiRect update{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
    HBRUSH brush = CreateSolidBrush(background_);
    const RECT fill{0, 0, update.Width(), update.Height()};
    FillRect(backBuffer_, &fill, brush);
    DeleteObject(brush);
    PaintList(PaintContext{backBuffer_, update, ui_->AlphaBlend()}, firstRoot_, 0, 0);
    BitBlt(dc, update.left, update.top, update.Width(), update.Height(), backBuffer_, 0, 0,
           SRCCOPY);
  }
  EndPaint(hwnd_, &ps);
}

void MWindow::DispatchMouse(UINT message, LPARAM lParam) {
  const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  bool handled = false;
  if (captured_ != nullptr) {
    const UiRect at = AbsoluteRect(captured_);
    handled = DispatchTo(captured_, this, POINT{p.x - at.left, p.y - at.top}, message, true);
  }
  if (!handled) {
    for (MRegion* root = firstRoot_; root != nullptr && !handled; root = root->NextSibling()) {
      handled = DispatchTo(root, this, POINT{p.x - root->rect.left, p.y - root->rect.top}, message,
                           false);
    }
  }
  if (!handled && message == WM_LBUTTONDOWN) SetFocusElement(nullptr, false);
}

LRESULT MWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_ACTIVATE:
      return 0;
    case WM_DRAWITEM:
      return 1;
    case WM_CLOSE:
      return OnClose();
    case WM_PAINT:
      Paint();
      return 0;
    case WM_TIMER:
      Tick();
      return 1;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      DispatchMouse(message, lParam);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTTAB;
    case WM_KEYDOWN:
      if (wParam == VK_TAB) {
        HWND found = FindFocusWindow(GetWindow(hwnd_, GW_CHILD), GetKeyState(VK_SHIFT) < 0);
        SetFocusElement(found != nullptr
                            ? reinterpret_cast<MRegion*>(GetWindowLongPtrW(found, GWLP_USERDATA))
                            : nullptr,
                        true);
        return 0;
      }
      break;
    case WM_KEYUP:
      OutputDebugStringA("window key up\n");
      break;
    case WM_KILLFOCUS:
      cursor_ = 0;
      break;
    default:
      if (message >= WM_USER && message < 0xC000) {
        return OnEvent(static_cast<int32_t>(wParam), static_cast<int32_t>(message - WM_USER),
                       lParam)
                   ? 1
                   : 0;
      }
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK MWindow::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* window = static_cast<MWindow*>(create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    if (window != nullptr) window->hwnd_ = hwnd;
    return 0;
  }
  auto* window = reinterpret_cast<MWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return window->HandleMessage(message, wParam, lParam);
}

bool MWindow::MoveFocus(MRegion* element, bool showRing, MSkinnedSection* ring) {
  if (element != nullptr) {
    if (element->proxy != nullptr) SetFocus(element->proxy);
    focused_ = element;
    if (ring == nullptr) return true;
    InvalidateElement(this, ring);
    if (showRing) {
      ringShown_ = 1;
      const UiRect at = AbsoluteRect(element);
      SetRect(ring, at.left - 2, at.top - 2, at.right + 2, at.bottom + 2);
      ring->Layout();
      SetVisible(ring, true);
      InvalidateElement(this, ring);
    } else {
      SetVisible(ring, false);
    }
    return true;
  }
  if (hwnd_ != nullptr) SetFocus(hwnd_);
  focused_ = nullptr;
  ringShown_ = 0;
  if (ring != nullptr) {
    SetVisible(ring, false);
    InvalidateElement(this, ring);
  }
  return false;
}
