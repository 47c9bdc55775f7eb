#include "ui/Controls.h"

#include <cstdlib>
#include <new>

#include "engine/GlintBrokerShim.h"
#include "foundation/WideText.h"
#include "ui/MWindow.h"
#include "ui/SkinRegions.h"
#include "ui/ZavuzER.h"

// Buttons, check boxes and radio buttons ------------------------------------

MButton::MButton(MWindow* window, const MSliceSpec* normal, const MSliceSpec* hover,
                 const MSliceSpec* pressed, const MSliceSpec* disabled)
    : MScale3Section(window, normal),
      normal_(normal),
      hover_(hover),
      pressed_(pressed),
      disabled_(disabled) {
  handler = &MButton::Handler;
  handlerContext = this;
}

MButton::~MButton() {
  delete label_;
}

void MButton::AttachLabel(MTextArea* label) {
  label_ = label;
  if (label == nullptr) return;
  AddChild(this, label);
  text = label->Text();
}

void MButton::Layout() {
  MScale3Section::Layout();
  if (label_ == nullptr) return;
  const bool resized = label_->Width() != Width() || label_->Height() != Height();
  SetRectXYWH(label_, 0, 0, Width(), Height());
  if (resized) label_->Layout();
}

void MButton::Show(const MSliceSpec* look) {
  SetSpec(look);
  Layout();
}

void MButton::PostControlEvent(int32_t kind) {
  if (window != nullptr) window->PostEvent(id, kind, 0);
}

void MButton::MoveLabel(int32_t y) {
  if (label_ == nullptr) return;
  MoveRect(label_, 0, y);
  InvalidateElement(window, this);
}

bool MButton::OnMove(bool inside) {
  switch (state_) {
    case kIdle:
      if (!inside) return true;
      CaptureMouse(this);
      Show(HoverLook());
      state_ = kOver;
      PostControlEvent(kControlEntered);
      return true;
    case kOver:
      if (inside) return true;
      ReleaseMouse(this);
      Show(NormalLook());
      state_ = kIdle;
      PostControlEvent(kControlLeft);
      return false;
    case kPressedOver:
      if (inside) return true;
      Show(HoverLook());
      state_ = kPressedOutside;
      MoveLabel(0);
      PostControlEvent(kControlLeft);
      return true;
    default:
      if (!inside) return true;
      Show(PressedLook());
      state_ = kPressedOver;
      MoveLabel(1);
      PostControlEvent(kControlEntered);
      return true;
  }
}

bool MButton::Handler(MRegion*, MWindow* window, POINT, int inside, UINT message, void* context) {
  auto* self = static_cast<MButton*>(context);
  if (!self->enabled) return false;
  switch (message) {
    case WM_MOUSEMOVE:
      return self->OnMove(inside != 0);
    case WM_LBUTTONDOWN:
      self->Show(self->PressedLook());
      self->state_ = kPressedOver;
      self->MoveLabel(1);
      self->PostControlEvent(kControlPressed);
      if (self->proxy != nullptr) window->SetFocusElement(self, window->RingShown());
      return true;
    case WM_LBUTTONUP:
      if (self->state_ == kPressedOver) {
        ReleaseMouse(self);
        self->Clicked();
        self->Show(self->HoverLook());
        self->state_ = kOver;
        self->PostControlEvent(kControlClicked);
      } else if (self->state_ == kPressedOutside) {
        ReleaseMouse(self);
        self->Show(self->NormalLook());
        self->state_ = kIdle;
        self->PostControlEvent(kControlReleasedOutside);
      }
      self->Layout();
      return true;
    default:
      return false;
  }
}

void SetButtonEnabled(MButton* button, bool on) {
  SetEnabled(button, on);
  if (!on) button->state_ = kIdle;
  if (button->label_ != nullptr) button->label_->alpha = on ? 255 : 128;
  const MSliceSpec* look = on ? button->NormalLook() : button->disabled_;
  button->SetSpec(look != nullptr ? look : button->NormalLook());
  button->Layout();
  if (button->label_ != nullptr) button->label_->Layout();
}

MCheckboxButton::MCheckboxButton(MWindow* window, const MSliceSpec* normal, const MSliceSpec* hover,
                                 const MSliceSpec* pressed, const MSliceSpec* checkedNormal,
                                 const MSliceSpec* checkedHover, const MSliceSpec* checkedPressed)
    : MButton(window, normal, hover, pressed, nullptr),
      checkedNormal_(checkedNormal),
      checkedHover_(checkedHover),
      checkedPressed_(checkedPressed) {
  kind_ = ControlKind::CheckBox;
}

void MCheckboxButton::SetChecked(bool on) {
  checked_ = on ? 1 : 0;
  SetSpec(state_ == kOver ? HoverLook() : NormalLook());
  Layout();
}

MRadioButton::MRadioButton(MWindow* window, const MSliceSpec* normal, const MSliceSpec* hover,
                           const MSliceSpec* pressed, const MSliceSpec* checkedNormal,
                           const MSliceSpec* checkedHover, const MSliceSpec* checkedPressed,
                           int32_t value, MRadioGroup* group)
    : MCheckboxButton(window, normal, hover, pressed, checkedNormal, checkedHover, checkedPressed),
      value_(value),
      group_(group) {
  kind_ = ControlKind::RadioButton;
}

void MRadioButton::Clicked() {
  if (group_ != nullptr) {
    group_->Select(this);
  } else {
    checked_ = 1;
  }
}

MRadioGroup::MRadioGroup() = default;

MRadioGroup::~MRadioGroup() {
  std::free(buttons_);
}

bool MRadioGroup::Add(MRadioButton* button) {
  if (count_ == capacity_) {
    const uint32_t grown = capacity_ == 0 ? 3 : capacity_ * 2;
    void* moved = std::realloc(buttons_, grown * sizeof(MRadioButton*));
    if (moved == nullptr) return false;
    buttons_ = static_cast<MRadioButton**>(moved);
    capacity_ = grown;
  }
  buttons_[count_++] = button;
  return true;
}

void MRadioGroup::Select(MRadioButton* button) {
  if (selected_ != nullptr && selected_ != button) {
    MRadioButton* previous = selected_;
    previous->checked_ = 0;
    previous->Show(previous->NormalLook());
  }
  selected_ = button;
  if (button != nullptr) button->checked_ = 1;
}

namespace {

MSliceSpec* OwnLook(std::vector<std::unique_ptr<MSliceSpec>>& looks, const MSliceSpec& look) {
  looks.push_back(std::make_unique<MSliceSpec>(look));
  return looks.back().get();
}

MSliceSpec ButtonLook(MSkinImage* skin, const SkinSlices& slices) {
  return MakeSliceSpec(skin, slices[0], slices[1], slices[2]);
}

}  // namespace

MButton* CreateButton(MWindow* window, MSkinImage* skin, const MString& labelText) {
  std::vector<std::unique_ptr<MSliceSpec>> looks;
  MSliceSpec* normal = OwnLook(looks, ButtonLook(skin, kButtonNormal));
  MSliceSpec* hover = OwnLook(looks, ButtonLook(skin, kButtonHover));
  MSliceSpec* pressed = OwnLook(looks, ButtonLook(skin, kButtonPressed));
  MSliceSpec* disabled = OwnLook(looks, ButtonLook(skin, kButtonDisabled));
  auto* label = new (std::nothrow) MTextArea(window, 16, false, false);
  auto* button = new (std::nothrow) MButton(window, normal, hover, pressed, disabled);
  if (label == nullptr || button == nullptr) {
    delete label;
    delete button;
    return nullptr;
  }
  label->SetProxyFlag();
  label->SetText(labelText);
  label->SetFormat(DT_CENTER | DT_VCENTER);
  button->KeepLooks(std::move(looks));
  button->SetProxyFlag();
  button->AttachLabel(label);
  return button;
}

namespace {

// Six one-slice looks, kept by the control.
template <typename Control, typename... Extra>
Control* CreateToggle(MWindow* window, MSkinImage* skin, const SkinToggleLooks& regions,
                      Extra... extra) {
  std::vector<std::unique_ptr<MSliceSpec>> looks;
  for (const UiSourceRect& r :
       {regions.uncheckedNormal, regions.uncheckedHover, regions.uncheckedPressed,
        regions.checkedNormal, regions.checkedHover, regions.checkedPressed}) {
    looks.push_back(std::make_unique<MSliceSpec>(MakeSliceSpec(skin, r)));
  }
  auto* control =
      new (std::nothrow) Control(window, looks[0].get(), looks[1].get(), looks[2].get(),
                                 looks[3].get(), looks[4].get(), looks[5].get(), extra...);
  if (control == nullptr) return nullptr;
  control->KeepLooks(std::move(looks));
  control->SetProxyFlag();
  return control;
}

}  // namespace

MCheckboxButton* CreateCheckBox(MWindow* window, MSkinImage* skin, bool checked) {
  auto* box = CreateToggle<MCheckboxButton>(window, skin, kCheckBoxLooks);
  if (box != nullptr) box->SetChecked(checked);
  return box;
}

MRadioButton* CreateRadioButton(MWindow* window, MSkinImage* skin, bool checked, int32_t value,
                                MRadioGroup* group) {
  auto* radio = CreateToggle<MRadioButton>(window, skin, kRadioButtonLooks, value, group);
  if (radio == nullptr) return nullptr;
  if (group != nullptr) group->Add(radio);
  if (checked) {
    if (group != nullptr) {
      group->Select(radio);
    }
    radio->SetChecked(true);
  }
  return radio;
}

// Links ----------------------------------------------------------------------

MHTMLLink::MHTMLLink(MWindow* window, const MString& target, COLORREF normal, COLORREF hover)
    : target_(target), normal_(normal), hover_(hover) {
  (void)window;
  id = 1;
  handler = &MHTMLLink::Handler;
  handlerContext = this;
  underline_.SetMode(DrawMode::SolidFill);
  underline_.SetColour(normal);
  AddChild(this, &underline_);
}

MHTMLLink::~MHTMLLink() {
  RemoveChild(this, &underline_);
}

void MHTMLLink::Layout() {
  SetRect(&underline_, 0, Height() - 1, Width(), Height());
  RepositionProxy(this);
  InvalidateElement(window, this);
}

void MHTMLLink::SetColour(COLORREF colour) {
  underline_.SetColour(colour);
}

void MHTMLLink::Open() {
  ZavuzER* ui = window != nullptr ? window->Ui() : nullptr;
  if (ui != nullptr && ui->Shim() != nullptr) ui->Shim()->LaunchBrowser(window, target_.Give());
}

void MNCPLink::Open() {
  ZavuzER* ui = window != nullptr ? window->Ui() : nullptr;
  if (ui != nullptr && ui->Shim() != nullptr) ui->Shim()->OpenControlPanelApplet();
}

bool MHTMLLink::Handler(MRegion*, MWindow* window, POINT, int inside, UINT message, void* context) {
  auto* self = static_cast<MHTMLLink*>(context);
  switch (message) {
    case WM_MOUSEMOVE:
      if (self->state_ == kIdle && inside) {
        CaptureMouse(self);
        SetCursorState(window, 1);
        self->state_ = kOver;
        self->SetColour(self->hover_);
      } else if (self->state_ == kOver && !inside) {
        ReleaseMouse(self);
        SetCursorState(window, 0);
        self->state_ = kIdle;
        self->SetColour(self->normal_);
      } else if (self->state_ == kPressedOver && !inside) {
        self->state_ = kPressedOutside;
        self->SetColour(self->hover_);
      } else if (self->state_ == kPressedOutside && inside) {
        self->state_ = kPressedOver;
        self->SetColour(self->normal_);
      }
      InvalidateElement(window, self);
      return true;
    case WM_LBUTTONDOWN:
      self->state_ = kPressedOver;
      self->SetColour(self->normal_);
      InvalidateElement(window, self);
      if (self->proxy != nullptr) window->SetFocusElement(self, window->RingShown());
      return true;
    case WM_LBUTTONUP:
      if (self->state_ == kPressedOver) {
        self->state_ = kOver;
        self->Open();
        self->SetColour(self->hover_);
      } else if (self->state_ == kPressedOutside) {
        ReleaseMouse(self);
        SetCursorState(window, 0);
        self->state_ = kIdle;
        self->SetColour(self->normal_);
      }
      InvalidateElement(window, self);
      return true;
    default:
      return false;
  }
}

// Progress bar ---------------------------------------------------------------

MProgressBar::MProgressBar(MWindow* window, const MSliceSpec* track, const MSliceSpec* fill)
    : owner_(window), track_(window, track), fill_(window, fill) {
  AddChild(this, &track_);
}

MProgressBar::~MProgressBar() {
  RemoveChild(this, &fill_);
  RemoveChild(this, &track_);
}

void MProgressBar::Layout() {
  const ProgressLayout layout = LayOutProgress(percent_, Width(), Height());
  percent_ = layout.percent;
  if (layout.showFill && !fillLinked_) AddChild(this, &fill_);
  if (!layout.showFill && fillLinked_) RemoveChild(this, &fill_);
  fillLinked_ = layout.showFill;
  track_.rect = layout.track;
  fill_.rect = layout.fill;
  track_.Layout();
  fill_.Layout();
  RepositionProxy(this);
  InvalidateElement(window, this);
}

// Tooltip --------------------------------------------------------------------

MTooltipArea::MTooltipArea(MWindow* window, HWND toolWindow) : owner_(window) {
  INITCOMMONCONTROLSEX init{sizeof init, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&init);
  HINSTANCE module = window != nullptr ? window->Ui()->Module() : nullptr;
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, toolWindow,
                             nullptr, module, nullptr);
  if (tooltip_ != nullptr) {
    SendMessageW(tooltip_, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(100, 0));
    SendMessageW(tooltip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(30000, 0));
  }
  tool_.cbSize = sizeof tool_;
  tool_.uFlags = TTF_SUBCLASS | TTF_CENTERTIP;
  tool_.hwnd = toolWindow;
  tool_.uId = reinterpret_cast<UINT_PTR>(this);
  tool_.hinst = module;
  tool_.lpszText = narrowTip_.data();
}

MTooltipArea::~MTooltipArea() {
  if (tooltip_ != nullptr) DestroyWindow(tooltip_);
}

RECT MTooltipArea::ToolRect() const {
  const UiRect r = AbsoluteRect(this);
  RECT rect{r.left, r.top, r.right, r.bottom};
  if (owner_ != nullptr && owner_->Handle() != nullptr && tool_.hwnd != owner_->Handle()) {
    MapWindowPoints(owner_->Handle(), tool_.hwnd, reinterpret_cast<POINT*>(&rect), 2);
  }
  return rect;
}

void MTooltipArea::SetTipText(const MString& text) {
  tip_ = text;
  const int size = WideCharToMultiByte(CP_ACP, 0, W(text), -1, nullptr, 0, nullptr, nullptr);
  narrowTip_.assign(size > 0 ? size : 1, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_ACP, 0, W(text), -1, narrowTip_.data(), size, nullptr, nullptr);
  tool_.lpszText = narrowTip_.data();
  if (tooltip_ == nullptr) return;
  TOOLINFOW wide{};
  wide.cbSize = sizeof wide;
  wide.hwnd = tool_.hwnd;
  wide.uId = tool_.uId;
  wide.hinst = tool_.hinst;
  wide.lpszText = const_cast<wchar_t*>(W(tip_));
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&wide));
}

void MTooltipArea::SetActive(bool on) {
  if (tooltip_ == nullptr || on == active_) return;
  active_ = on;
  if (on) {
    tool_.rect = ToolRect();
    SendMessageW(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool_));
  } else {
    SendMessageW(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool_));
  }
}

void MTooltipArea::Layout() {
  if (tooltip_ == nullptr || !active_) return;
  tool_.rect = ToolRect();
  SendMessageW(tooltip_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool_));
}
