// The one setup window of the installer, the uninstaller, the maintenance
// dialog and the update notice: a footer bar with up to three buttons and
// two notes, a content area showing one panel at a time, a focus ring, and
// the routing of events between the host, the window and the current panel.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/Controls.h"
#include "ui/MSkinImage.h"
#include "ui/MWindow.h"

class HostCallbacks;
class GlintBrokerShim;
class MUIPanel;
class MUIPanelConflicts;
class MUIPanelProgress;
class MUIPanelFailure;

// Footer button ids.
enum : int32_t { kLeftButton = 100, kMiddleButton = 101, kRightButton = 102 };
// The first panel the host selects with (3, 6, n).
enum : int32_t {
  kPanelInstallerSplash = 0,
  kPanelUninstallerSplash = 1,
  kPanelMaintenance = 2,
  kPanelUpdateNotice = 3,
};
enum : int32_t { kHostEndRequest = 5, kHostSelectPanel = 6 };
// Panel lifecycle events (source 2).
enum : int32_t { kPanelActivate = 1, kPanelLayOut = 2, kPanelDeactivate = 3 };

// Exit codes that reach the host.
inline constexpr int32_t kExitFinished = 0;
inline constexpr int32_t kExitCancelled = 1039;
inline constexpr int32_t kExitQuit = -1;
// The update check's code for the whole product, and the install vectors
// the setup window reports with it.
inline constexpr uint32_t kUpdateCheckFullProduct = 0x7FEFB;
inline constexpr uint32_t kVectorClosedAfterRun = 31;
inline constexpr uint32_t kVectorQuitBeforeRun = 30;

inline constexpr COLORREF kSetupBackground = 0x333332;
inline constexpr int32_t kFooterHeight = 68;
inline constexpr int32_t kContentInset = 66;  // the content area ends this far above the bottom
inline constexpr int32_t kSetupHeight = 345;

class MInstallerWindow : public MWindow {
 public:
  explicit MInstallerWindow(ZavuzER* ui);
  ~MInstallerWindow() override;

  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;
  bool SetFocusElement(MRegion* element, bool showRing) override;
  LRESULT OnClose() override;

  // Shows `panel` in the content area (the previous one is deactivated and
  // kept), then repaints the whole client area.
  void SwitchPanel(MUIPanel* panel);
  // The failure and update-notice panels leave the window; they are freed
  // with it (a panel may be running the action that retires it).
  void DestroyTransientPanels();
  void SetCloseAfterUninstall(bool on) { closeAfterUninstall_ = on ? 1 : 0; }
  bool CloseAfterUninstall() const { return closeAfterUninstall_ != 0; }

  // The text with `id`, "^" replaced by `with` when given.
  MString Text(uint32_t id, const char16_t* with = nullptr) const;
  // The width from text 71 (450 when it says nothing) by 345, at once.
  void ApplySetupSize();
  void ShowButton(MButton* button, bool on);
  void SetButtonLabel(MButton* button, const MString& label);
  void ShowBrowserNote(bool on, int32_t verticalOffset);

  HostCallbacks* Host() const;
  GlintBrokerShim* Shim() const;

  MSkinImage* Skin() { return &skin161_; }
  MSkinImage* SplashSkin() { return &skin164_; }
  MButton* LeftButton() const { return left_; }
  MButton* MiddleButton() const { return middle_; }
  MButton* RightButton() const { return right_; }
  MScale3Section* FooterBar() const { return footer_; }
  MSkinnedSection* ContentRoot() const { return content_; }
  MScale9Section* FocusRing() const { return ring_; }
  MTextArea* BrowserNote() const { return browserNote_; }
  MTextArea* RealPlayerNote() const { return realPlayerNote_; }
  MSkinnedSection* NoteIcon() const { return noteIcon_; }
  MUIPanel* CurrentPanel() const { return shown_; }
  MUIPanelConflicts* Conflicts() const { return conflicts_; }
  MUIPanelProgress* Progress() const { return progress_; }
  // Created again when a failure arrives after the closing steps freed it.
  MUIPanelFailure* Failure();
  MUIPanel* Panel(int32_t selector);

 private:
  void BuildFooter();
  void LayOut();
  void ClosingSteps();
  void Retire(MUIPanel* panel);
  void OpenThankYouPage();

  MSkinImage skin161_;
  MSkinImage skin164_;
  MSkinnedSection* content_ = nullptr;
  MScale3Section* footer_ = nullptr;
  MButton* left_ = nullptr;
  MButton* middle_ = nullptr;
  MButton* right_ = nullptr;
  MUIPanel* installerSplash_ = nullptr;
  MUIPanel* uninstallerSplash_ = nullptr;
  MUIPanel* maintenance_ = nullptr;
  MUIPanelConflicts* conflicts_ = nullptr;
  MUIPanelProgress* progress_ = nullptr;
  MUIPanelFailure* failure_ = nullptr;
  MUIPanel* notice_ = nullptr;
  MNineSliceSpec ringSpec_{};
  MSliceSpec footerSpec_{};
  MTextArea* browserNote_ = nullptr;
  MTextArea* realPlayerNote_ = nullptr;
  MSkinnedSection* noteIcon_ = nullptr;
  MScale9Section* ring_ = nullptr;
  MUIPanel* shown_ = nullptr;
  MUIPanel* retired_[2] = {nullptr, nullptr};
  int32_t noteOffsetX_ = 0, noteOffsetY_ = 0;
};
