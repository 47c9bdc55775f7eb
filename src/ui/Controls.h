// The setup window's controls: push buttons, check boxes and radio buttons
// drawn from skin slices, the text element with its small mark-up and link
// regions, the progress bar and the native tooltip. Controls report what
// happens to them by posting (id, kind, 0) to their window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/MRegion.h"
#include "ui/MSkinImage.h"
#include "ui/TextMarkup.h"

// Events posted by buttons, check boxes and radio buttons.
enum : int32_t {
  kControlEntered = 0,
  kControlLeft = 1,
  kControlClicked = 2,
  kControlPressed = 3,
  kControlReleasedOutside = 4,
};

// Tracking state of buttons and links.
enum : uint8_t { kIdle = 0, kOver = 1, kPressedOver = 2, kPressedOutside = 3 };

enum class ControlKind : int32_t { Button = 1, CheckBox = 2, RadioButton = 3 };

class MTextArea;
class MRadioGroup;

class MButton : public MScale3Section {
 public:
  // The looks are not owned; `label` (optional) becomes the last child.
  MButton(MWindow* window, const MSliceSpec* normal, const MSliceSpec* hover,
          const MSliceSpec* pressed, const MSliceSpec* disabled);
  ~MButton() override;
  void Layout() override;

  void AttachLabel(MTextArea* label);
  MTextArea* Label() const { return label_; }
  uint8_t State() const { return state_; }
  ControlKind Kind() const { return kind_; }
  // The look the handler shows in a tracking state.
  const MSliceSpec* LookFor(uint8_t state) const {
    return state == kOver ? HoverLook() : state == kPressedOver ? PressedLook() : NormalLook();
  }
  void KeepLooks(std::vector<std::unique_ptr<MSliceSpec>> looks) { ownedLooks_ = std::move(looks); }

 protected:
  virtual const MSliceSpec* NormalLook() const { return normal_; }
  virtual const MSliceSpec* HoverLook() const { return hover_; }
  virtual const MSliceSpec* PressedLook() const { return pressed_; }
  // Button up over the control, before the click is posted.
  virtual void Clicked() {}
  void Show(const MSliceSpec* look);
  bool OnMove(bool inside);
  void PostControlEvent(int32_t kind);
  void MoveLabel(int32_t y);
  static bool Handler(MRegion* element, MWindow* window, POINT point, int inside, UINT message,
                      void* context);

  const MSliceSpec* normal_;
  const MSliceSpec* hover_;
  const MSliceSpec* pressed_;
  const MSliceSpec* disabled_;
  uint8_t state_ = kIdle;
  MTextArea* label_ = nullptr;  // owned
  ControlKind kind_ = ControlKind::Button;
  // The looks the factories build, kept with the control.
  std::vector<std::unique_ptr<MSliceSpec>> ownedLooks_;

  friend void SetButtonEnabled(MButton*, bool);
  friend MButton* CreateButton(MWindow*, MSkinImage*, const MString&);
  friend class MCheckboxButton;
  friend class MRadioGroup;
};

class MCheckboxButton : public MButton {
 public:
  MCheckboxButton(MWindow* window, const MSliceSpec* normal, const MSliceSpec* hover,
                  const MSliceSpec* pressed, const MSliceSpec* checkedNormal,
                  const MSliceSpec* checkedHover, const MSliceSpec* checkedPressed);
  bool Checked() const { return checked_ != 0; }
  void SetChecked(bool on);

 protected:
  const MSliceSpec* NormalLook() const override { return checked_ ? checkedNormal_ : normal_; }
  const MSliceSpec* HoverLook() const override { return checked_ ? checkedHover_ : hover_; }
  // Check boxes and radio buttons show their normal look while pressed.
  const MSliceSpec* PressedLook() const override { return NormalLook(); }
  void Clicked() override { SetChecked(!checked_); }

  const MSliceSpec* checkedNormal_;
  const MSliceSpec* checkedHover_;
  const MSliceSpec* checkedPressed_;
  uint8_t checked_ = 0;
  friend class MRadioGroup;
};

class MRadioButton : public MCheckboxButton {
 public:
  MRadioButton(MWindow* window, const MSliceSpec* normal, const MSliceSpec* hover,
               const MSliceSpec* pressed, const MSliceSpec* checkedNormal,
               const MSliceSpec* checkedHover, const MSliceSpec* checkedPressed, int32_t value,
               MRadioGroup* group);
  int32_t Value() const { return value_; }
  MRadioGroup* Group() const { return group_; }

 protected:
  void Clicked() override;

 private:
  int32_t value_;
  MRadioGroup* group_;
};

class MRadioGroup {
 public:
  MRadioGroup();
  ~MRadioGroup();
  MRadioGroup(const MRadioGroup&) = delete;
  MRadioGroup& operator=(const MRadioGroup&) = delete;

  // Appends in creation order; the array starts at 3 and doubles when full.
  bool Add(MRadioButton* button);
  // The previous selection is unchecked and redrawn normal; `button` checked.
  void Select(MRadioButton* button);
  MRadioButton* Selected() const { return selected_; }
  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }
  MRadioButton* At(uint32_t i) const { return i < count_ ? buttons_[i] : nullptr; }

 private:
  MRadioButton* selected_ = nullptr;
  MRadioButton** buttons_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
};

class MHTMLLink : public MSkinnedSection {
 public:
  MHTMLLink(MWindow* window, const MString& target, COLORREF normal, COLORREF hover);
  ~MHTMLLink() override;
  void Layout() override;
  const MString& Target() const { return target_; }
  uint8_t State() const { return state_; }
  MSkinnedSection& Underline() { return underline_; }

 protected:
  // A click: the shim opens the target with the window as parent.
  virtual void Open();
  void SetColour(COLORREF colour);
  static bool Handler(MRegion* element, MWindow* window, POINT point, int inside, UINT message,
                      void* context);

  MString target_;
  uint8_t state_ = kIdle;
  COLORREF normal_, hover_;
  MSkinnedSection underline_;
};

// A link whose click opens the player's Control Panel applet.
class MNCPLink : public MHTMLLink {
 public:
  using MHTMLLink::MHTMLLink;

 protected:
  void Open() override;
};

class MTextArea : public MSkinnedSection {
 public:
  MTextArea(MWindow* window, int32_t size, bool markup, bool bold);
  ~MTextArea() override;
  void Layout() override { Render(); }
  // Draws the text into the bitmap and returns the number of lines.
  virtual int32_t Render();

  void SetText(const MString& text);
  const MString& Text() const { return text_; }
  void SetFormat(UINT format) { format_ = format; }
  void SetVerticalOffset(int32_t offset) { verticalOffset_ = offset; }
  void SetLinkColours(COLORREF text, COLORREF underline, COLORREF hover) {
    linkText_ = text, linkUnderline_ = underline, linkHover_ = hover;
  }
  HFONT Font(bool bold) const { return bold ? boldFont_ : regularFont_; }
  HDC Dc() const { return surface_.dc; }
  const uint8_t* Bits() const { return surface_.bits; }
  int32_t BitmapWidth() const { return bitmapWidth_; }
  int32_t BitmapHeight() const { return bitmapHeight_; }
  const std::vector<TextRun>& Runs() const { return runs_; }
  const std::vector<MHTMLLink*>& Links() const { return links_; }

 private:
  class Painter;
  bool EnsureBitmap(int32_t width, int32_t height);
  void RemoveLinks();

  UINT format_ = 0;
  COLORREF linkText_ = 0xFF982E, linkUnderline_ = 0xD88127, linkHover_ = 0xFF982E;
  MWindow* owner_;
  int32_t bitmapWidth_ = 256, bitmapHeight_ = 128;
  MSkinImage surface_;  // the element's image: its own DC and DIB section
  MString text_;
  HFONT regularFont_ = nullptr, boldFont_ = nullptr;
  bool bold_;
  bool markup_;
  bool reparse_ = false;
  std::vector<TextRun> runs_;
  int32_t verticalOffset_ = 0;
  std::vector<MHTMLLink*> links_;
};

class MProgressBar : public MSkinnedSection {
 public:
  MProgressBar(MWindow* window, const MSliceSpec* track, const MSliceSpec* fill);
  ~MProgressBar() override;
  void Layout() override;
  void SetPercentage(int32_t percent) { percent_ = percent; }
  int32_t Percentage() const { return percent_; }
  MScale3Section& Track() { return track_; }
  MScale3Section& Fill() { return fill_; }

 private:
  int32_t percent_ = 0;
  MWindow* owner_;
  MScale3Section track_;
  MScale3Section fill_;
  bool fillLinked_ = false;
};

class MTooltipArea : public MSkinnedSection {
 public:
  MTooltipArea(MWindow* window, HWND toolWindow);
  ~MTooltipArea() override;
  void Layout() override;
  void SetTipText(const MString& text);
  void SetActive(bool on);
  HWND Tooltip() const { return tooltip_; }
  bool Active() const { return active_; }

 private:
  RECT ToolRect() const;
  MWindow* owner_;
  MString tip_;
  std::string narrowTip_;
  HWND tooltip_ = nullptr;
  TOOLINFOA tool_{};
  bool active_ = false;
};

// Factories over skin image 161.
MButton* CreateButton(MWindow* window, MSkinImage* skin, const MString& label);
MCheckboxButton* CreateCheckBox(MWindow* window, MSkinImage* skin, bool checked);
MRadioButton* CreateRadioButton(MWindow* window, MSkinImage* skin, bool checked, int32_t value,
                                MRadioGroup* group);
// Disabling resets the state to idle; the label fades to alpha 128.
void SetButtonEnabled(MButton* button, bool on);

// The font face and height the text elements use under a thread locale.
struct TextFontChoice {
  const char* face;
  int32_t height;
};
TextFontChoice TextFontFor(LCID locale, int32_t size);
