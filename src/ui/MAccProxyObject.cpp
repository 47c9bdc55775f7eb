#include "ui/MAccProxyObject.h"

#include "foundation/WideText.h"
#include "ui/Controls.h"
#include "ui/MRegion.h"
#include "ui/MWindow.h"

namespace {

bool IsSelf(const VARIANT& child) {
  return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// 1 button, 2 check box, 3 radio button; 0 for every other element.
int32_t ControlKindOf(MRegion* element) {
  // Only sections get proxy windows, and so accessible objects.
  auto* button = dynamic_cast<MButton*>(static_cast<MSkinnedSection*>(element));
  return button != nullptr ? static_cast<int32_t>(button->Kind()) : 0;
}

bool IsChecked(MRegion* element) {
  auto* box = dynamic_cast<MCheckboxButton*>(static_cast<MSkinnedSection*>(element));
  return box != nullptr && box->Checked();
}

bool IsLink(MRegion* element) {
  return dynamic_cast<MHTMLLink*>(static_cast<MSkinnedSection*>(element)) != nullptr;
}

}  // namespace

IUnknown* NewAccProxyObject(MRegion* element) {
  return new MAccProxyObject(element);
}

void ReleaseAccProxyObject(IUnknown* object) {
  if (object == nullptr) return;
  static_cast<MAccProxyObject*>(object)->Disconnect();
  object->Release();
}

void MAccProxyObject::Disconnect() {
  element_ = nullptr;
  deletable_ = 1;
}

HRESULT MAccProxyObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IAccessible) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<IAccessible*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG MAccProxyObject::AddRef() {
  return static_cast<ULONG>(++count_);
}

// The element keeps its object alive while it lives; once disconnected, the
// last release frees it.
ULONG MAccProxyObject::Release() {
  const LONG left = --count_;
  if (left == 0 && deletable_) delete this;
  return static_cast<ULONG>(left);
}

HRESULT MAccProxyObject::get_accParent(IDispatch** parent) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (parent != nullptr) *parent = nullptr;
  return S_OK;
}

HRESULT MAccProxyObject::get_accChildCount(LONG* count) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (count == nullptr) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}

HRESULT MAccProxyObject::get_accChild(VARIANT child, IDispatch** out) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (out == nullptr) return E_INVALIDARG;
  if (!IsSelf(child)) {
    *out = nullptr;
    return S_FALSE;
  }
  // The object itself, without a reference of its own.
  *out = static_cast<IAccessible*>(this);
  return S_OK;
}

HRESULT MAccProxyObject::get_accName(VARIANT child, BSTR* name) {
  MRegion* element = element_;
  if (element == nullptr) return CO_E_OBJNOTCONNECTED;
  if (name == nullptr || !IsSelf(child)) return E_INVALIDARG;
  if (element->text.IsEmpty()) return S_OK;  // the result is left as it was
  *name = SysAllocStringLen(W(element->text), element->text.Length());
  return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT MAccProxyObject::get_accValue(VARIANT, BSTR* value) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (value != nullptr) *value = nullptr;
  return S_OK;
}

HRESULT MAccProxyObject::get_accDescription(VARIANT, BSTR* text) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (text != nullptr) *text = nullptr;
  return S_OK;
}

HRESULT MAccProxyObject::get_accDefaultAction(VARIANT, BSTR* action) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (action != nullptr) *action = nullptr;
  return S_OK;
}

HRESULT MAccProxyObject::get_accRole(VARIANT, VARIANT* role) {
  MRegion* element = element_;
  if (element == nullptr) return CO_E_OBJNOTCONNECTED;
  if (role == nullptr) return E_INVALIDARG;
  static constexpr LONG kRoles[] = {ROLE_SYSTEM_STATICTEXT, ROLE_SYSTEM_PUSHBUTTON,
                                    ROLE_SYSTEM_CHECKBUTTON, ROLE_SYSTEM_RADIOBUTTON};
  const int32_t kind = ControlKindOf(element);
  role->vt = VT_I4;
  role->lVal = kRoles[kind >= 0 && kind <= 3 ? kind : 0];
  return S_OK;
}

// A control is focusable (and focused, and checked, as it is); a disabled
// control is also unavailable, so a screen reader says it cannot be used.
// Every other element is read-only text.
HRESULT MAccProxyObject::get_accState(VARIANT, VARIANT* state) {
  MRegion* element = element_;
  if (element == nullptr) return CO_E_OBJNOTCONNECTED;
  if (state == nullptr) return E_INVALIDARG;
  LONG bits = 0;
  if (ControlKindOf(element) != 0) {
    bits |= STATE_SYSTEM_FOCUSABLE;
    if (element->window != nullptr && element->window->Focused() == element)
      bits |= STATE_SYSTEM_FOCUSED;
    if (IsChecked(element)) bits |= STATE_SYSTEM_CHECKED;
    if (!element->enabled) bits |= STATE_SYSTEM_UNAVAILABLE;
  } else {
    bits |= STATE_SYSTEM_READONLY;
  }
  state->vt = VT_I4;
  state->lVal = bits;
  return S_OK;
}

HRESULT MAccProxyObject::get_accKeyboardShortcut(VARIANT, BSTR* shortcut) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (shortcut == nullptr) return E_INVALIDARG;
  *shortcut = SysAllocString(L"");
  return S_OK;
}

HRESULT MAccProxyObject::get_accSelection(VARIANT* selection) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (selection == nullptr) return E_INVALIDARG;
  VariantInit(selection);
  return S_OK;
}

HRESULT MAccProxyObject::accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                     VARIANT child) {
  MRegion* element = element_;
  if (element == nullptr) return CO_E_OBJNOTCONNECTED;
  if (left == nullptr || top == nullptr || width == nullptr || height == nullptr ||
      !IsSelf(child)) {
    return E_INVALIDARG;
  }
  const UiRect at = AbsoluteRect(element);
  POINT corners[2] = {{at.left, at.top}, {at.right, at.bottom}};
  HWND window = element->window != nullptr ? element->window->Handle() : nullptr;
  if (window != nullptr) {
    ClientToScreen(window, &corners[0]);
    ClientToScreen(window, &corners[1]);
  }
  *left = corners[0].x;
  *top = corners[0].y;
  *width = corners[1].x - corners[0].x;
  *height = corners[1].y - corners[0].y;
  return S_OK;
}

HRESULT MAccProxyObject::accHitTest(LONG, LONG, VARIANT* found) {
  if (element_ == nullptr) return CO_E_OBJNOTCONNECTED;
  if (found != nullptr) VariantInit(found);
  return S_FALSE;
}

// A button or link is pressed the way the keyboard presses it: Space down
// and up on its proxy window, so the control's own handler decides (a
// disabled one ignores it). Other elements have no action.
HRESULT MAccProxyObject::accDoDefaultAction(VARIANT child) {
  MRegion* element = element_;
  if (element == nullptr) return CO_E_OBJNOTCONNECTED;
  if (!IsSelf(child)) return E_INVALIDARG;
  if (ControlKindOf(element) == 0 && !IsLink(element)) return DISP_E_MEMBERNOTFOUND;
  if (element->proxy == nullptr || !element->enabled || !element->visible) return E_FAIL;
  const bool posted = PostMessageW(element->proxy, WM_KEYDOWN, VK_SPACE, 1) &&
                      PostMessageW(element->proxy, WM_KEYUP, VK_SPACE, 0xC0000001);
  return posted ? S_OK : E_FAIL;
}
