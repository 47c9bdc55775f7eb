#include "ui/MRegion.h"

#include <oleacc.h>

#include <new>

#include "foundation/WideText.h"
#include "ui/MAccProxyObject.h"
#include "ui/MWindow.h"
#include "ui/ZavuzER.h"

namespace {

// Points inside a proxy go to the main window in its client coordinates.
LPARAM ToParentPoint(HWND proxy, int x, int y) {
  POINT point{x, y};
  MapWindowPoints(proxy, GetParent(proxy), &point, 1);
  return MAKELPARAM(point.x, point.y);
}

using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);

LresultFromObjectFn LresultFromObjectEntry() {
  static HMODULE oleacc = LoadLibraryW(L"OLEAcc.dll");
  static auto entry =
      oleacc != nullptr ? reinterpret_cast<LresultFromObjectFn>(
                              reinterpret_cast<void*>(GetProcAddress(oleacc, "LresultFromObject")))
                        : nullptr;
  return entry;
}

void FocusFound(HWND from, bool forward) {
  HWND found = MWindow::FindFocusWindow(from, forward);
  auto* element = found != nullptr
                      ? reinterpret_cast<MRegion*>(GetWindowLongPtrW(found, GWLP_USERDATA))
                      : nullptr;
  auto* owner = reinterpret_cast<MRegion*>(GetWindowLongPtrW(from, GWLP_USERDATA));
  if (owner != nullptr && owner->window != nullptr) owner->window->SetFocusElement(element, true);
}

LRESULT CALLBACK ProxyProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND parent = GetParent(hwnd);
  const bool keyClick = wParam == VK_RETURN || wParam == VK_SPACE;
  switch (message) {
    case WM_GETOBJECT: {
      auto* object = static_cast<IUnknown*>(GetPropW(hwnd, MAKEINTATOM(AccessiblePropertyAtom())));
      LresultFromObjectFn entry = object != nullptr ? LresultFromObjectEntry() : nullptr;
      if (entry != nullptr) return entry(IID_IAccessible, wParam, object);
      break;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTTAB;
    case WM_KEYDOWN:
      if (wParam == VK_TAB) {
        FocusFound(hwnd, GetKeyState(VK_SHIFT) >= 0);
        return 0;
      }
      if (keyClick) {
        return MWindow::WindowProcedure(parent, WM_LBUTTONDOWN, 1, ToParentPoint(hwnd, 2, 2));
      }
      return MWindow::WindowProcedure(parent, message, wParam, lParam);
    case WM_KEYUP:
      if (wParam == VK_TAB) return 0;
      if (keyClick) {
        return MWindow::WindowProcedure(parent, WM_LBUTTONUP, 0, ToParentPoint(hwnd, 2, 2));
      }
      return MWindow::WindowProcedure(parent, message, wParam, lParam);
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return MWindow::WindowProcedure(parent, message, wParam,
                                      ToParentPoint(hwnd, static_cast<short>(LOWORD(lParam)),
                                                    static_cast<short>(HIWORD(lParam))));
    default:
      if (message >= WM_USER) return MWindow::WindowProcedure(parent, message, wParam, lParam);
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void CreateProxy(MRegion* element) {
  MWindow* window = element->window;
  if (window == nullptr || window->Handle() == nullptr || element->proxy != nullptr) return;
  const UiRect at = AbsoluteRect(element);
  HWND proxy = CreateWindowExW(
      0, L"BUTTON", W(element->text), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, at.left,
      at.top, at.Width(), at.Height(), window->Handle(),
      reinterpret_cast<HMENU>(static_cast<intptr_t>(element->id)), window->Ui()->Module(), nullptr);
  if (proxy == nullptr) return;
  element->proxy = proxy;
  if (element->accessible == nullptr) element->accessible = NewAccProxyObject(element);
  if (element->accessible != nullptr) {
    SetPropW(proxy, MAKEINTATOM(AccessiblePropertyAtom()), element->accessible);
  }
  SetWindowLongPtrW(proxy, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(element));
  SetWindowLongPtrW(proxy, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProxyProcedure));
  if (!element->visible) ShowWindow(proxy, SW_HIDE);
}

void DestroyProxy(MRegion* element) {
  if (element->proxy == nullptr) return;
  RemovePropW(element->proxy, MAKEINTATOM(AccessiblePropertyAtom()));
  DestroyWindow(element->proxy);
  element->proxy = nullptr;
}

// Entering a window's tree gives the whole subtree the window and the
// proxies it asks for; leaving takes both away.
void JoinWindow(MRegion* element, MWindow* window) {
  element->window = window;
  if (element->HasProxyFlag()) CreateProxy(element);
  for (MRegion* c = element->firstChild; c != nullptr; c = c->NextSibling()) JoinWindow(c, window);
}

void LeaveWindow(MRegion* element) {
  for (MRegion* c = element->firstChild; c != nullptr; c = c->NextSibling()) LeaveWindow(c);
  MWindow* window = element->window;
  if (window != nullptr) {
    if (window->Captured() == element) ReleaseMouse(element);
    if (window->Focused() == element) window->SetFocusElement(nullptr, false);
  }
  DestroyProxy(element);
  element->window = nullptr;
}

void Append(MRegion** first, MRegion* child) {
  child->previous = child->next = nullptr;
  if (*first == nullptr) {
    *first = child;
    return;
  }
  MRegion* last = *first;
  while (last->next != nullptr) last = last->NextSibling();
  last->next = child;
  child->previous = last;
}

void Unlink(MRegion** first, MRegion* child) {
  if (*first == child) *first = child->NextSibling();
  if (child->previous != nullptr) child->previous->next = child->next;
  if (child->next != nullptr) child->next->previous = child->previous;
  child->previous = child->next = nullptr;
}

bool InTree(MRegion* first, const MRegion* child) {
  for (MRegion* c = first; c != nullptr; c = c->NextSibling()) {
    if (c == child) return true;
  }
  return false;
}

}  // namespace

ATOM AccessiblePropertyAtom() {
  static ATOM atom = GlobalAddAtomW(L"ACC_PROP");
  return atom;
}

UiRect AbsoluteRect(const MRegion* element) {
  UiRect r = element->rect;
  for (const MRegion* p = element->parent; p != nullptr; p = p->parent) {
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
  }
  return r;
}

void AddChild(MRegion* parent, MRegion* child) {
  if (parent == nullptr || child == nullptr) return;
  Append(&parent->firstChild, child);
  child->parent = parent;
  if (parent->window != nullptr) JoinWindow(child, parent->window);
}

void AddRootElement(MWindow* window, MRegion* child) {
  if (window == nullptr || child == nullptr) return;
  Append(&window->firstRoot_, child);
  child->parent = nullptr;
  JoinWindow(child, window);
}

void RemoveChild(MRegion* parent, MRegion* child) {
  if (parent == nullptr || child == nullptr || !InTree(parent->firstChild, child)) return;
  LeaveWindow(child);
  Unlink(&parent->firstChild, child);
  child->parent = nullptr;
}

void RemoveRootElement(MWindow* window, MRegion* child) {
  if (window == nullptr || child == nullptr || !InTree(window->firstRoot_, child)) return;
  LeaveWindow(child);
  Unlink(&window->firstRoot_, child);
}

void SetVisible(MRegion* element, bool on) {
  MWindow* window = element->window;
  if (!on && window != nullptr && window->focused_ == element) {
    window->SetFocusElement(nullptr, false);
  }
  element->visible = on ? 1 : 0;
  if (element->proxy != nullptr) ShowWindow(element->proxy, on ? SW_SHOW : SW_HIDE);
}

void SetEnabled(MRegion* element, bool on) {
  MWindow* window = element->window;
  if (!on && window != nullptr && element->proxy != nullptr && GetFocus() == element->proxy) {
    window->SetFocusElement(nullptr, false);
  }
  element->enabled = on ? 1 : 0;
}

void InvalidateElement(MWindow* window, const MRegion* element) {
  if (window == nullptr || window->Handle() == nullptr || element == nullptr) return;
  const UiRect r = AbsoluteRect(element);
  const RECT area{r.left, r.top, r.right, r.bottom};
  InvalidateRect(window->Handle(), &area, FALSE);
}

void SetElementText(MRegion* element, const MString& text) {
  element->text = text;
  if (element->proxy != nullptr) SetWindowTextW(element->proxy, W(text));
}

void RepositionProxy(MRegion* element) {
  if (element->proxy == nullptr) return;
  const UiRect r = AbsoluteRect(element);
  MoveWindow(element->proxy, r.left, r.top, r.Width(), r.Height(), FALSE);
}

void CaptureMouse(MRegion* element) {
  MWindow* window = element->window;
  if (window == nullptr) return;
  window->captured_ = element;
  SetCapture(window->Handle());
}

void ReleaseMouse(MRegion* element) {
  MWindow* window = element->window;
  if (window == nullptr) return;
  window->captured_ = nullptr;
  ReleaseCapture();
}

void SetCursorState(MWindow* window, int state) {
  if (window == nullptr) return;
  window->cursor_ = state;
  SetCursor(LoadCursorW(nullptr, state == 1 ? IDC_HAND : IDC_ARROW));
}

void SetRect(MRegion* element, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  element->rect = UiRect{left, top, right, bottom};
}

void SetRectXYWH(MRegion* element, int32_t x, int32_t y, int32_t width, int32_t height) {
  element->rect = UiRect{x, y, x + width, y + height};
}

void MoveRect(MRegion* element, int32_t left, int32_t top) {
  element->rect = UiRect{left, top, left + element->rect.Width(), top + element->rect.Height()};
}

void OffsetRect(MRegion* element, POINT by) {
  element->rect.left += by.x;
  element->rect.right += by.x;
  element->rect.top += by.y;
  element->rect.bottom += by.y;
}

MSkinnedSection::~MSkinnedSection() {
  if (parent != nullptr) {
    RemoveChild(parent, this);
  } else if (window != nullptr) {
    RemoveRootElement(window, this);
  }
  DestroyProxy(this);
  ReleaseAccProxyObject(accessible);
  accessible = nullptr;
}

MScale3Section::MScale3Section(MWindow* window, const MSliceSpec* spec)
    : spec_(spec), owner_(window) {
  for (MSkinnedSection& slice : slices_) AddChild(this, &slice);
  SetSpec(spec);
}

MScale3Section::~MScale3Section() {
  for (MSkinnedSection& slice : slices_) RemoveChild(this, &slice);
}

void MScale3Section::SetSpec(const MSliceSpec* spec) {
  spec_ = spec;
  if (spec == nullptr) return;
  const UiSourceRect* regions[3] = {&spec->left, &spec->middle, &spec->right};
  for (int i = 0; i < 3; ++i) {
    slices_[i].SetImage(spec->image);
    slices_[i].source = *regions[i];
    slices_[i].SetMode(spec->mode);
  }
}

void MScale3Section::Layout() {
  if (spec_ != nullptr) {
    SetSpec(spec_);
    const std::array<UiRect, 3> rects = ThreeSliceRects(*spec_, Width(), Height());
    for (int i = 0; i < 3; ++i) {
      slices_[i].rect = rects[i];
      slices_[i].alpha = alpha;
    }
  }
  RepositionProxy(this);
  InvalidateElement(window, this);
}

MScale9Section::MScale9Section(MWindow* window, const MNineSliceSpec* spec) : spec_(spec) {
  for (int i = 0; i < 3; ++i) {
    rows_[i] = new (std::nothrow) MScale3Section(window, spec != nullptr ? &(*spec)[i] : nullptr);
    AddChild(this, rows_[i]);
  }
}

MScale9Section::~MScale9Section() {
  for (MScale3Section* row : rows_) delete row;
}

void MScale9Section::Layout() {
  if (spec_ == nullptr) return;
  const std::array<UiRect, 3> rects = NineSliceRowRects(*spec_, Width(), Height());
  for (int i = 0; i < 3; ++i) {
    if (rows_[i] == nullptr) continue;
    rows_[i]->rect = rects[i];
    rows_[i]->alpha = alpha;
    rows_[i]->Layout();
  }
}
