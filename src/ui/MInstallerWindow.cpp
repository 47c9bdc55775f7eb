#include "ui/MInstallerWindow.h"

#include "engine/GlintBrokerShim.h"
#include "engine/HostCallbacks.h"
#include "engine/Uninstall.h"
#include "foundation/WideText.h"
#include "ui/SetupPanels.h"
#include "ui/SkinRegions.h"
#include "ui/ZavuzER.h"

namespace {

constexpr uint32_t kTextQuit = 17, kTextInstall = 18, kTextDownload = 39;
constexpr uint32_t kTextRemindLater = 34, kTextBrowserRestart = 89, kTextThankYouPage = 103;
constexpr uint32_t kTextSetupWidth = 71;
constexpr uint32_t kFlagsRemindLater = 130, kVectorRemindLater = 4;
constexpr int32_t kButtonWidth = 140, kButtonHeight = 33, kButtonTop = 18;

}  // namespace

MInstallerWindow::MInstallerWindow(ZavuzER* ui) : MWindow(ui) {
  SetBackground(kSetupBackground);
}

MInstallerWindow::~MInstallerWindow() {
  if (shown_ != nullptr) Detach(shown_);
  shown_ = nullptr;
  for (MUIPanel* panel : {installerSplash_, uninstallerSplash_, maintenance_, notice_,
                          static_cast<MUIPanel*>(conflicts_), static_cast<MUIPanel*>(progress_),
                          static_cast<MUIPanel*>(failure_), retired_[0], retired_[1]}) {
    delete panel;
  }
  delete browserNote_;
  delete realPlayerNote_;
  delete noteIcon_;
  delete left_;
  delete middle_;
  delete right_;
  delete footer_;
  delete content_;
  // The ring goes last: removing focused elements above hides it.
  delete ring_;
  ring_ = nullptr;
}

HostCallbacks* MInstallerWindow::Host() const {
  return ui_ != nullptr ? ui_->Host() : nullptr;
}

GlintBrokerShim* MInstallerWindow::Shim() const {
  return ui_ != nullptr ? ui_->Shim() : nullptr;
}

MString MInstallerWindow::Text(uint32_t id, const char16_t* with) const {
  MString text;
  if (ui_ != nullptr) ui_->LoadText(&text, id);
  if (with != nullptr) text = ReplaceAll(text, MString(u"^"), MString(with));
  return text;
}

void MInstallerWindow::ApplySetupSize() {
  uint32_t width = ParseUnsigned(Text(kTextSetupWidth));
  if (width == 0) width = 450;
  SetClientSize(static_cast<int32_t>(width), kSetupHeight);
}

// A button's label has a proxy of its own: it follows the button, so that a
// hidden button offers no control to the keyboard or a screen reader.
void MInstallerWindow::ShowButton(MButton* button, bool on) {
  if (button == nullptr) return;
  SetVisible(button, on);
  if (button->Label() != nullptr) SetVisible(button->Label(), on);
  InvalidateElement(this, button);
}

void MInstallerWindow::SetButtonLabel(MButton* button, const MString& label) {
  if (button == nullptr || button->Label() == nullptr) return;
  button->Label()->SetText(label);
  button->Label()->Layout();
  SetElementText(button, label);
  InvalidateElement(this, button);
}

void MInstallerWindow::ShowBrowserNote(bool on, int32_t verticalOffset) {
  if (browserNote_ == nullptr) return;
  browserNote_->SetVerticalOffset(verticalOffset);
  browserNote_->Layout();
  SetVisible(browserNote_, on);
  SetVisible(noteIcon_, on);
  InvalidateElement(this, browserNote_);
  InvalidateElement(this, noteIcon_);
}

MUIPanelFailure* MInstallerWindow::Failure() {
  if (failure_ == nullptr) failure_ = new MUIPanelFailure(this);
  return failure_;
}

MUIPanel* MInstallerWindow::Panel(int32_t selector) {
  switch (selector) {
    case kPanelInstallerSplash:
      if (installerSplash_ == nullptr) installerSplash_ = new MUIPanelInstallerSplash(this);
      return installerSplash_;
    case kPanelUninstallerSplash:
      if (uninstallerSplash_ == nullptr) uninstallerSplash_ = new MUIPanelUninstallerSplash(this);
      return uninstallerSplash_;
    case kPanelMaintenance:
      if (maintenance_ == nullptr) maintenance_ = new MUIPanelMaintain(this);
      return maintenance_;
    case kPanelUpdateNotice:
      if (notice_ == nullptr) notice_ = new MUIPanelAutoUpdate(this);
      return notice_;
    default:
      return nullptr;
  }
}

void MInstallerWindow::BuildFooter() {
  LoadSkinImage(this, &skin161_, kSkinSheetMain, 0);
  LoadSkinImage(this, &skin164_, kSkinSheetSplash, 0);
  MSkinImage* skin = &skin161_;

  content_ = new MSkinnedSection();
  AddRootElement(this, content_);

  footerSpec_ = MakeSliceSpec(skin, kFooterBarSlices[0], kFooterBarSlices[1], kFooterBarSlices[2]);
  footer_ = new MScale3Section(this, &footerSpec_);
  AddRootElement(this, footer_);

  ringSpec_ = MakeNineSliceSpec(skin, kFocusRing.x, kFocusRing.y, kFocusRing.columns,
                                kFocusRing.rows, DrawMode::AlphaBlend);
  ring_ = new MScale9Section(this, &ringSpec_);
  SetRectXYWH(ring_, 230, 192, 25, 25);
  ring_->Layout();
  AddRootElement(this, ring_);
  ringShown_ = 0;
  SetVisible(ring_, false);

  HostCallbacks* host = Host();
  const bool remindLater = host != nullptr && host->GetHostFlags() == kFlagsRemindLater &&
                           host->GetInstallVector() == kVectorRemindLater;
  struct ButtonPlace {
    MButton** button;
    uint32_t label;
    int32_t id;
  };
  for (const ButtonPlace& place :
       {ButtonPlace{&left_, remindLater ? kTextRemindLater : kTextQuit, kLeftButton},
        ButtonPlace{&right_, kTextInstall, kRightButton},
        ButtonPlace{&middle_, kTextInstall, kMiddleButton}}) {
    MButton* button = CreateButton(this, skin, Text(place.label));
    button->id = place.id;
    SetRectXYWH(button, 94, kButtonTop, kButtonWidth, kButtonHeight);
    button->visible = 0;
    button->Label()->visible = 0;
    AddChild(footer_, button);
    button->Layout();
    button->Label()->Layout();
    *place.button = button;
  }

  conflicts_ = new MUIPanelConflicts(this);
  progress_ = new MUIPanelProgress(this);
  failure_ = new MUIPanelFailure(this);

  GlintBrokerShim* shim = Shim();
  if (shim != nullptr && shim->IsRealPlayer6()) noteOffsetX_ = 250, noteOffsetY_ = 20;
  browserNote_ = CreateText(this, 16, false, false, true, 0, Text(kTextBrowserRestart));
  browserNote_->visible = 0;
  AddChild(footer_, browserNote_);
  SetRect(browserNote_, noteOffsetX_ + 117, noteOffsetY_ + 25, noteOffsetX_ + 400,
          noteOffsetY_ + 42);
  browserNote_->Layout();

  realPlayerNote_ = CreateText(this, 16, true, false, true, 0, MString());
  realPlayerNote_->visible = 0;
  AddChild(footer_, realPlayerNote_);
  SetRect(realPlayerNote_, 117, 10, 550, 82);

  noteIcon_ = CreatePicture(skin, kNoteIcon, DrawMode::AlphaBlend);
  noteIcon_->visible = 0;
  AddChild(footer_, noteIcon_);
  SetRect(noteIcon_, noteOffsetX_ + 97, noteOffsetY_ + 25, noteOffsetX_ + 112, noteOffsetY_ + 40);
}

void MInstallerWindow::LayOut() {
  if (footer_ == nullptr) return;
  const int32_t width = current_.Width(), height = current_.Height();
  SetRectXYWH(footer_, 0, height - kFooterHeight, width, kFooterHeight - 1);
  SetRectXYWH(right_, footer_->Width() - 156, kButtonTop, kButtonWidth, kButtonHeight);
  SetRectXYWH(middle_, footer_->Width() - 326, kButtonTop, kButtonWidth, kButtonHeight);
  SetRectXYWH(content_, 0, 0, width, height - kContentInset);
  HostCallbacks* host = Host();
  const int32_t mode = host != nullptr ? host->GetRightButtonMode() : 0;
  if (mode == 1 || mode == 2) SetButtonLabel(right_, Text(kTextDownload));
  for (MButton* button : {right_, middle_, left_}) {
    button->Label()->Layout();
    button->Layout();
  }
  footer_->Layout();
  // The notes and the icon sit in the footer: their proxies move with it.
  for (MRegion* note :
       {static_cast<MRegion*>(browserNote_), static_cast<MRegion*>(realPlayerNote_)}) {
    RepositionProxy(note);
  }
  if (shown_ != nullptr) {
    shown_->rect = content_->rect;
    shown_->OnEvent(kSourceWindow, kPanelLayOut, 0);
  }
  if (ringShown_ != 0) SetFocusElement(focused_, true);
}

bool MInstallerWindow::OnEvent(int32_t source, int32_t kind, intptr_t value) {
  if (source == kSourceWindow) {
    switch (kind) {
      case kWindowClosing:
        ClosingSteps();
        break;
      case kWindowCreate:
        BuildFooter();
        LayOut();
        break;
      case kWindowSized:
        LayOut();
        break;
      default:
        break;
    }
    return true;
  }
  if (source == kSourceHost) {
    if (kind == kHostEndRequest) {
      if (shown_ == nullptr || !shown_->OnEvent(source, kind, value)) {
        EndSession(static_cast<int32_t>(value));
      }
    } else if (kind == kHostSelectPanel) {
      MUIPanel* panel = Panel(static_cast<int32_t>(value));
      if (panel != nullptr) SwitchPanel(panel);
    }
    return true;
  }
  if (source == kSourceFailure) {
    MUIPanelFailure* failure = Failure();
    SwitchPanel(failure);
    failure->OnEvent(source, kind, value);
    return true;
  }
  return shown_ != nullptr && shown_->OnEvent(source, kind, value);
}

void MInstallerWindow::SwitchPanel(MUIPanel* panel) {
  if (panel != nullptr && panel != shown_ && content_ != nullptr) {
    MUIPanel* previous = shown_;
    if (previous != nullptr) {
      previous->OnEvent(kSourceWindow, kPanelDeactivate, 0);
      RemoveChild(content_, previous);
    }
    shown_ = panel;
    AddChild(content_, panel);
    SetRectXYWH(panel, 0, 0, current_.Width(), current_.Height() - kContentInset);
    panel->OnEvent(kSourceWindow, kPanelActivate, 0);
    // A panel that keeps the window's size gets no size event: it is laid
    // out here (unless its activation already moved on to another panel).
    if (shown_ == panel) {
      panel->rect = content_->rect;
      panel->OnEvent(kSourceWindow, kPanelLayOut, 0);
    }
  }
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void MInstallerWindow::Retire(MUIPanel* panel) {
  if (panel == nullptr) return;
  if (panel == shown_) {
    panel->OnEvent(kSourceWindow, kPanelDeactivate, 0);
    RemoveChild(content_, panel);
    shown_ = nullptr;
  }
  for (MUIPanel*& slot : retired_) {
    if (slot == nullptr) {
      slot = panel;
      return;
    }
  }
  // Both places taken: the older one is no longer running anything.
  delete retired_[0];
  retired_[0] = retired_[1];
  retired_[1] = panel;
}

void MInstallerWindow::DestroyTransientPanels() {
  Retire(failure_);
  failure_ = nullptr;
  Retire(notice_);
  notice_ = nullptr;
}

bool MInstallerWindow::SetFocusElement(MRegion* element, bool showRing) {
  return MoveFocus(element, showRing, ring_);
}

void MInstallerWindow::OpenThankYouPage() {
  GlintBrokerShim* shim = Shim();
  if (shim != nullptr) shim->LaunchBrowser(nullptr, Text(kTextThankYouPage).Give());
}

void MInstallerWindow::ClosingSteps() {
  HostCallbacks* host = Host();
  const bool finished = host != nullptr && host->IsRunFinished();
  const bool removal = host != nullptr && host->IsRemovalRun();
  GlintBrokerShim* shim = Shim();
  if (finished && !removal && shim != nullptr) {
    shim->CheckForUpdate(kUpdateCheckFullProduct, kVectorClosedAfterRun, 0, 0);
  }
  if (!finished && removal) {
    OpenThankYouPage();
    // The uninstaller leaves with the run: its own file goes at the restart.
    MString own;
    host->GetOwnPath(&own);
    if (!own.IsEmpty()) ScheduleDeleteAtRestart(host, own);
  }
  DestroyTransientPanels();
}

LRESULT MInstallerWindow::OnClose() {
  HostCallbacks* host = Host();
  int32_t code = kExitCancelled;
  if (host != nullptr && host->IsRunFinished() && closeAfterUninstall_ != 0) {
    if (host->IsRemovalRun()) {
      OpenThankYouPage();
      code = kExitFinished;
    }
  }
  OnEvent(kSourceWindow, kWindowClosing, 0);
  EndSession(code);
  return 1;
}
