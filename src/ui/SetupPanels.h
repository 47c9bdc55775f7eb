// The pages of the setup window: installer and uninstaller splash,
// maintenance, conflicts, progress, failure and the update notice. The
// window gives each its controls' events and its lifecycle events
// (activate, lay out, deactivate); a panel moves the window on to the next
// panel or ends the run.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/Controls.h"
#include "ui/MInstallerWindow.h"

class MUIPanel : public MSkinnedSection {
 public:
  explicit MUIPanel(MInstallerWindow* owner) : owner_(owner) {}
  virtual bool OnEvent(int32_t source, int32_t kind, intptr_t value) {
    (void)source, (void)kind, (void)value;
    return false;
  }
  MInstallerWindow* Owner() const { return owner_; }

 protected:
  MInstallerWindow* owner_;
};

// Progress completion codes.
enum : int32_t { kCompletionDone = 0, kCompletionIdle = 1, kCompletionFinished = 5 };
class MUIPanelProgress;
using ProgressCompletion = bool (*)(MUIPanelProgress* panel, int32_t code, intptr_t, void* context);

class MUIPanelInstallerSplash : public MUIPanel {
 public:
  explicit MUIPanelInstallerSplash(MInstallerWindow* owner);
  ~MUIPanelInstallerSplash() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;
  MCheckboxButton* CheckBox() const { return checkBox_; }
  MTooltipArea* Tooltip() const { return tooltip_; }
  uint32_t Countdown() const { return countdown_; }

 private:
  static bool Completion(MUIPanelProgress* panel, int32_t code, intptr_t, void* context);
  void DestroyElements();
  void Finish();

  MNineSliceSpec backgroundSpec_{};
  MScale9Section* background_ = nullptr;
  MSkinnedSection* picture_ = nullptr;
  MSkinnedSection* logo_ = nullptr;
  MTextArea* licence_ = nullptr;
  MTextArea* agreement_ = nullptr;
  MCheckboxButton* checkBox_ = nullptr;
  MTooltipArea* tooltip_ = nullptr;
  uint32_t countdown_ = 0;
  bool hasCountdown_ = false;
};

class MUIPanelUninstallerSplash : public MUIPanel {
 public:
  explicit MUIPanelUninstallerSplash(MInstallerWindow* owner);
  ~MUIPanelUninstallerSplash() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;

 private:
  MNineSliceSpec backgroundSpec_{};
  MScale9Section* background_ = nullptr;
  MSkinnedSection* picture_ = nullptr;
  MSkinnedSection* logo_ = nullptr;
  MTextArea* message_ = nullptr;
};

class MUIPanelMaintain : public MUIPanel {
 public:
  explicit MUIPanelMaintain(MInstallerWindow* owner);
  ~MUIPanelMaintain() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;

 private:
  MTextArea* reinstallText_ = nullptr;
  MTextArea* uninstallText_ = nullptr;
  MButton* reinstall_ = nullptr;
  MButton* uninstall_ = nullptr;
};

class MUIPanelConflicts : public MUIPanel {
 public:
  class offendingApp : public MSkinnedSection {
   public:
    explicit offendingApp(MInstallerWindow* owner);
    ~offendingApp() override;
    void SetName(const MString& name);
    MTextArea* Name() const { return name_; }

   private:
    MInstallerWindow* owner_;
    MSkinnedSection icon_;
    MTextArea* name_;
  };

  static constexpr int32_t kRows = 6;
  static constexpr uint32_t kTickLimit = 30;
  explicit MUIPanelConflicts(MInstallerWindow* owner);
  ~MUIPanelConflicts() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;
  offendingApp* Row(int32_t i) const { return rows_[i]; }
  MTextArea* Heading() const { return heading_; }

 private:
  static bool Handler(MRegion*, MWindow*, POINT, int, UINT message, void* context);
  uint32_t PlayerKinds();
  // Whether the host's shared utility file in the system folder is held.
  bool UtilityInUse();
  // Shows the applications that hold the player files of `kinds`; whether
  // any was shown.
  bool List(uint32_t kinds);

  MTextArea* heading_ = nullptr;
  MSkinnedSection* logo_ = nullptr;
  offendingApp* rows_[kRows] = {};
  uint32_t ticks_ = 0;
  uint32_t tickLimit_ = kTickLimit;
  bool hadConflicts_ = false;
};

class MUIPanelProgress : public MUIPanel {
 public:
  explicit MUIPanelProgress(MInstallerWindow* owner);
  ~MUIPanelProgress() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;

  // Sets the animation and the completion that follows it; running.
  void Start(ProgressCompletion completion, void* context, float current, float target, float step);
  void SetStatus(const MString& text);
  MTextArea* Status() const { return status_; }
  MTextArea* Percentage() const { return percentage_; }
  MProgressBar* Bar() const { return bar_; }
  bool Running() const { return running_; }
  float Current() const { return current_; }

 private:
  static bool Handler(MRegion*, MWindow*, POINT, int, UINT message, void* context);
  void Build();
  void DestroyElements();
  bool Complete(int32_t code);

  MSliceSpec trackSpec_{}, fillSpec_{};
  MProgressBar* bar_ = nullptr;
  MSkinnedSection* logo_ = nullptr;
  MTextArea* status_ = nullptr;
  MTextArea* detail_ = nullptr;
  MTextArea* percentage_ = nullptr;
  MString statusText_;
  bool running_ = false;
  float current_ = 0.0f, target_ = 0.0f, step_ = 0.0f;
  ProgressCompletion completion_ = nullptr;
  void* context_ = nullptr;
  // The update-preferences group: built, never laid out or shown.
  MTextArea* preferenceTexts_[3] = {};
  MRadioGroup preferenceGroup_;
  MRadioButton* preferenceChoices_[3] = {};
  MTextArea* preferenceLabels_[3] = {};
};

class MUIPanelFailure : public MUIPanel {
 public:
  explicit MUIPanelFailure(MInstallerWindow* owner);
  ~MUIPanelFailure() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;
  MTextArea* Heading() const { return heading_; }
  MTextArea* Message() const { return message_; }

 private:
  void Report();

  MTextArea* heading_;
  MTextArea* message_;
  MSkinnedSection* icon_;
  MSkinnedSection* logo_;
};

class MUIPanelAutoUpdate : public MUIPanel {
 public:
  explicit MUIPanelAutoUpdate(MInstallerWindow* owner);
  ~MUIPanelAutoUpdate() override;
  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;
  MTextArea* Message() const { return message_; }

 private:
  void Activate();
  void LayOut();
  void Download();

  MNineSliceSpec backgroundSpec_{};
  MScale9Section* background_;
  MSkinnedSection* logo_;
  MTextArea* heading_;
  MTextArea* message_;
};

// The logo every panel shows: sheet 161's maker logo at (x, 1), 47 x 71.
MSkinnedSection* CreateLogo(MInstallerWindow* owner, int32_t x);
// A picture element cut from a skin sheet.
MSkinnedSection* CreatePicture(MSkinImage* image, UiSourceRect source, DrawMode mode);
// A text element of the setup window: size, mark-up, bold, with or without a
// proxy window, a DrawText format and text `id`.
MTextArea* CreateText(MInstallerWindow* owner, int32_t size, bool markup, bool bold, bool proxy,
                      UINT format, const MString& text);
// Adds a child that is not yet in a tree; a child already in one stays.
void Attach(MRegion* parent, MRegion* child);
void Detach(MRegion* child);
// Vertical text offset for the CJK locales the fonts need it under.
bool IsCjkTextLocale(bool withKorean);
