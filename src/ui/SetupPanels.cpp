#include "ui/SetupPanels.h"

#include <memory>

#include "engine/GlintBrokerShim.h"
#include "engine/HostCallbacks.h"
#include "engine/HostErrorLog.h"
#include "engine/Uninstall.h"
#include "foundation/MConfigNode.h"
#include "foundation/MStringList.h"
#include "foundation/Registry.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "ui/SkinRegions.h"
#include "ui/ZavuzER.h"

namespace {

// Texts of the setup table.
enum : uint32_t {
  kTextInstalling = 5,
  kTextInstalled = 7,
  kTextFailureHeading = 8,
  kTextUninstallMessage = 11,
  kTextUninstalling = 12,
  kTextConflictsHeading = 14,
  kTextPercent = 15,
  kTextDone = 16,
  kTextQuitLabel = 17,
  kTextLicenceLink = 19,
  kTextReinstall = 20,
  kTextUninstall = 21,
  kTextUpgrade = 24,
  kTextNoticeHeading = 25,
  kTextNoticeFallback = 26,
  kTextMore = 28,
  kTextSetupTitle = 29,
  kTextUninstallTitle = 30,
  kTextAgreement = 4,
  kTextAgreeFirst = 38,
  kTextNoErrorInformation = 51,
  kTextRealPlayerNote = 72,
  kTextRestartToUninstall = 74,
  kTextUninstallerAttention = 75,
  kTextInstallerAttention = 76,
  kTextPreferencesTitle = 92,
  kTextPreferencesDescription = 94,
  kTextPreferencesLink = 85,
  kTextUpdateDownloadSite = 88,
  kTextNoticeTitle = 104,
};
constexpr uint32_t kPreferenceChoiceTexts[3] = {82, 83, 84};
constexpr const char16_t* kBuildVersion = u"34.0";
constexpr int32_t kCheckBoxId = 200;
constexpr int32_t kReinstallId = 200, kUninstallId = 201;
constexpr int32_t kSourceTimer = 1, kTimerTick = 4, kConflictPoll = 200;
constexpr uint32_t kHostFlagOrdinary = kHostFlagOrdinaryBuild;
constexpr uint32_t kVectorSilentNotice = 12;
constexpr int32_t kNoticeWidth = 500, kNoticeHeight = 270;
constexpr UINT kWrapped = DT_WORDBREAK | DT_SINGLELINE;

LCID ThreadLocale() {
  return GetThreadLocale();
}

MSkinnedSection* NewElement() {
  return new MSkinnedSection();
}

uint32_t PlayerKindsOf(MInstallerWindow* owner) {
  uint32_t flags = 0;
  if (owner->Ui() != nullptr) owner->Ui()->Notify(6, reinterpret_cast<intptr_t>(&flags));
  return flags;
}

void LayOutText(MTextArea* text, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (text == nullptr) return;
  SetRectXYWH(text, x, y, width, height);
  text->Layout();
}

void SetTextOf(MTextArea* text, const MString& value) {
  if (text == nullptr) return;
  text->SetText(value);
  text->Layout();
}

}  // namespace

// Shared pieces -----------------------------------------------------------------

MSkinnedSection* CreatePicture(MSkinImage* image, UiSourceRect source, DrawMode mode) {
  MSkinnedSection* picture = NewElement();
  picture->SetImage(image);
  picture->source = source;
  picture->SetMode(mode);
  return picture;
}

MSkinnedSection* CreateLogo(MInstallerWindow* owner, int32_t x) {
  MSkinnedSection* logo = CreatePicture(owner->Skin(), kMakerLogo, DrawMode::AlphaBlend);
  SetRectXYWH(logo, x, 1, kMakerLogo.width, kMakerLogo.height);
  return logo;
}

MTextArea* CreateText(MInstallerWindow* owner, int32_t size, bool markup, bool bold, bool proxy,
                      UINT format, const MString& text) {
  auto* area = new MTextArea(owner, size, markup, bold);
  if (proxy) area->SetProxyFlag();
  area->SetFormat(format);
  area->SetText(text);
  area->text = text;
  return area;
}

void Attach(MRegion* parent, MRegion* child) {
  if (parent == nullptr || child == nullptr || child->parent != nullptr) return;
  AddChild(parent, child);
}

void Detach(MRegion* child) {
  if (child != nullptr && child->parent != nullptr) RemoveChild(child->parent, child);
}

bool IsCjkTextLocale(bool withKorean) {
  const LCID locale = ThreadLocale();
  return locale == 1028 || locale == 1041 || locale == 2052 || (withKorean && locale == 1042);
}

// Installer splash --------------------------------------------------------------

MUIPanelInstallerSplash::MUIPanelInstallerSplash(MInstallerWindow* owner) : MUIPanel(owner) {
  MSkinImage* skin = owner->Skin();
  backgroundSpec_ = MakeNineSliceSpec(
      skin, kInstallerSplashBackground.x, kInstallerSplashBackground.y,
      kInstallerSplashBackground.columns, kInstallerSplashBackground.rows, DrawMode::OpaqueCopy);
  background_ = new MScale9Section(owner, &backgroundSpec_);
  AddChild(this, background_);
  picture_ = CreatePicture(owner->SplashSkin(), kSplashPicture, DrawMode::AlphaBlend);
  AddChild(this, picture_);
  logo_ = CreateLogo(owner, 10);
  AddChild(this, logo_);
  licence_ =
      CreateText(owner, 16, true, false, true, DT_WORD_ELLIPSIS, owner->Text(kTextLicenceLink));
  licence_->SetLinkColours(0xFFFFFF, 0xC0C0C0, 0xFFFFFF);
  agreement_ =
      CreateText(owner, 16, false, false, true, DT_WORD_ELLIPSIS, owner->Text(kTextAgreement));
  checkBox_ = CreateCheckBox(owner, skin, false);
  checkBox_->id = kCheckBoxId;
  checkBox_->text = owner->Text(kTextAgreement);
  // The sentence toggles the box as the box itself does.
  agreement_->handler = checkBox_->handler;
  agreement_->handlerContext = checkBox_->handlerContext;
}

MUIPanelInstallerSplash::~MUIPanelInstallerSplash() {
  DestroyElements();
}

void MUIPanelInstallerSplash::DestroyElements() {
  delete tooltip_;
  tooltip_ = nullptr;
  for (MSkinnedSection** element : {reinterpret_cast<MSkinnedSection**>(&checkBox_),
                                    reinterpret_cast<MSkinnedSection**>(&agreement_),
                                    reinterpret_cast<MSkinnedSection**>(&licence_), &logo_,
                                    &picture_, reinterpret_cast<MSkinnedSection**>(&background_)}) {
    delete *element;
    *element = nullptr;
  }
}

bool MUIPanelInstallerSplash::OnEvent(int32_t source, int32_t kind, intptr_t value) {
  MInstallerWindow* w = owner_;
  HostCallbacks* host = w->Host();
  if (source == kSourceWindow && kind == kPanelActivate) {
    if (checkBox_ == nullptr) return false;  // a splash is shown once
    Attach(this, checkBox_);
    Attach(this, licence_);
    Attach(this, agreement_);
    w->SetTitle(w->Text(kTextSetupTitle, kBuildVersion));
    if (tooltip_ == nullptr && w->RightButton() != nullptr) {
      tooltip_ = new MTooltipArea(w, w->RightButton()->proxy);
      tooltip_->SetTipText(w->Text(kTextAgreeFirst));
    }
    w->ShowButton(w->LeftButton(), true);
    w->ShowButton(w->RightButton(), true);
    OnEvent(kCheckBoxId, kControlClicked, 0);
    w->ApplySetupSize();
    const MConfigNode* config = host != nullptr ? host->GetConfiguration() : nullptr;
    if (FindConfigNodeInTexts(config, MString(u"ExpressInstallerURL")) != nullptr) {
      SetForegroundWindow(w->Handle());
      SetWindowPos(w->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    w->Show(true);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelLayOut) {
    if (background_ == nullptr) return false;
    const int32_t width = Width(), height = Height();
    SetRect(background_, 0, 0, width, height);
    background_->Layout();
    SetRectXYWH(picture_, 115, 55, kSplashPicture.width, kSplashPicture.height);
    SetRectXYWH(logo_, 10, 1, kMakerLogo.width, kMakerLogo.height);
    const int32_t offset = IsCjkTextLocale(false) ? 3 : 0;
    licence_->SetVerticalOffset(offset);
    agreement_->SetVerticalOffset(offset);
    LayOutText(licence_, 117, height - 30, width - 48, 20);
    SetRectXYWH(checkBox_, 96, height - 49, 15, 15);
    checkBox_->Layout();
    if (tooltip_ != nullptr && w->RightButton() != nullptr) {
      tooltip_->rect = AbsoluteRect(w->RightButton());
      tooltip_->Layout();
    }
    LayOutText(agreement_, 115, height - 50, width - 48, 20);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    DestroyElements();
    return false;
  }
  if (source == kLeftButton && kind == kControlClicked) {
    w->DestroyTransientPanels();
    w->EndSession(kExitCancelled);
    return true;
  }
  if (source == kCheckBoxId && kind == kControlClicked) {
    const bool checked = checkBox_ != nullptr && checkBox_->Checked();
    SetButtonEnabled(w->RightButton(), checked);
    if (tooltip_ != nullptr) tooltip_->SetActive(!checked);
    return true;
  }
  if (source == kRightButton && kind == kControlClicked) {
    const MConfigNode* config = host != nullptr ? host->GetConfiguration() : nullptr;
    const MConfigNode* delay = FindConfigNodeInTexts(config, MString(u"AutoExitDelay"));
    hasCountdown_ = delay != nullptr;
    if (hasCountdown_) {
      const uint32_t ms = ConfigValueCount(delay) > 0 ? ParseUnsigned(ConfigValue(delay, 0)) : 1000;
      countdown_ = ms / 16;
    }
    MUIPanelProgress* progress = w->Progress();
    progress->Start(&MUIPanelInstallerSplash::Completion, this, 0.0f, 100.0f, 2.0f);
    progress->SetStatus(w->Text(kTextInstalling));
    w->SwitchPanel(w->Conflicts());
    if (hasCountdown_) w->ShowButton(w->RightButton(), false);
    return true;
  }
  (void)value;
  return false;
}

void MUIPanelInstallerSplash::Finish() {
  MInstallerWindow* w = owner_;
  GlintBrokerShim* shim = w->Shim();
  if (shim != nullptr) shim->OpenExpressInstallPage(w);
  w->DestroyTransientPanels();
  w->EndSession(kExitFinished);
}

bool MUIPanelInstallerSplash::Completion(MUIPanelProgress* progress, int32_t code, intptr_t,
                                         void* context) {
  auto* splash = static_cast<MUIPanelInstallerSplash*>(context);
  MInstallerWindow* w = splash->owner_;
  HostCallbacks* host = w->Host();
  switch (code) {
    case kCompletionFinished: {
      if (w->Ui() != nullptr) w->Ui()->Notify(2, 0);
      const bool hide = host != nullptr && !host->HideInstallStatus() &&
                        (host->GetHostFlags() & kHostFlagOrdinary) != 0;
      progress->SetStatus(hide ? MString(u"") : w->Text(kTextInstalled, kBuildVersion));
      GlintBrokerShim* shim = w->Shim();
      if (shim != nullptr && shim->IsRealPlayer6() && w->RealPlayerNote() != nullptr) {
        SetTextOf(w->RealPlayerNote(), w->Text(kTextRealPlayerNote));
        SetVisible(w->RealPlayerNote(), true);
        InvalidateElement(w, w->RealPlayerNote());
      }
      if (host != nullptr && host->NeedsBrowserRestart()) {
        w->ShowBrowserNote(true, IsCjkTextLocale(true) ? 1 : 0);
      }
      if (!splash->hasCountdown_) SetButtonEnabled(w->RightButton(), true);
      return true;
    }
    case kCompletionIdle:
      if (splash->countdown_ > 0 && --splash->countdown_ == 0) splash->Finish();
      return true;
    case kCompletionDone:
      splash->Finish();
      return true;
    default:
      return false;
  }
}

// Uninstaller splash ------------------------------------------------------------

namespace {

bool UninstallCompletion(MUIPanelProgress* progress, int32_t code, intptr_t, void* context) {
  auto* w = static_cast<MInstallerWindow*>(context);
  switch (code) {
    case kCompletionDone:
      w->EndSession(kExitFinished);
      return true;
    case kCompletionFinished:
      if (w->Host() != nullptr) w->Host()->UninstallCompleted();
      if (w->Ui() != nullptr) w->Ui()->Notify(3, 0);
      progress->SetStatus(w->Text(kTextRestartToUninstall));
      SetButtonEnabled(w->RightButton(), true);
      return true;
    default:
      return false;
  }
}

void StartUninstall(MInstallerWindow* w) {
  // The completion needs only the window, which the panel knows.
  w->Progress()->Start(&UninstallCompletion, w, 100.0f, 0.0f, -2.0f);
  w->Progress()->SetStatus(w->Text(kTextUninstalling));
}

void CheckForUpdateOnQuit(MInstallerWindow* w) {
  HostCallbacks* host = w->Host();
  GlintBrokerShim* shim = w->Shim();
  if (host != nullptr && shim != nullptr && host->IsRunFinished()) {
    shim->CheckForUpdate(kUpdateCheckFullProduct, kVectorQuitBeforeRun, 0, 0);
  }
}

}  // namespace

MUIPanelUninstallerSplash::MUIPanelUninstallerSplash(MInstallerWindow* owner) : MUIPanel(owner) {
  backgroundSpec_ =
      MakeNineSliceSpec(owner->Skin(), kUninstallerSplashBackground.x,
                        kUninstallerSplashBackground.y, kUninstallerSplashBackground.columns,
                        kUninstallerSplashBackground.rows, DrawMode::OpaqueCopy);
  background_ = new MScale9Section(owner, &backgroundSpec_);
  AddChild(this, background_);
  picture_ = CreatePicture(owner->SplashSkin(), kSplashPicture, DrawMode::AlphaBlend);
  AddChild(this, picture_);
  logo_ = CreateLogo(owner, 10);
  AddChild(this, logo_);
  message_ =
      CreateText(owner, 17, false, false, true, kWrapped, owner->Text(kTextUninstallMessage));
}

MUIPanelUninstallerSplash::~MUIPanelUninstallerSplash() {
  delete message_;
  delete logo_;
  delete picture_;
  delete background_;
}

bool MUIPanelUninstallerSplash::OnEvent(int32_t source, int32_t kind, intptr_t) {
  MInstallerWindow* w = owner_;
  if (source == kSourceWindow && kind == kPanelActivate) {
    Attach(this, message_);
    w->SetTitle(w->Text(kTextUninstallTitle));
    w->ShowButton(w->LeftButton(), true);
    w->ShowButton(w->RightButton(), true);
    w->SetButtonLabel(w->RightButton(), w->Text(kTextUninstall));
    w->ApplySetupSize();
    w->Show(true);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelLayOut) {
    SetRect(background_, 0, 0, Width(), Height());
    background_->Layout();
    SetRectXYWH(logo_, 10, 1, kMakerLogo.width, kMakerLogo.height);
    SetRectXYWH(picture_, 115, 55, kSplashPicture.width, kSplashPicture.height);
    LayOutText(message_, 96, 220, Width() - 29, Height() - 115);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    Detach(message_);
    return false;
  }
  if (source == kLeftButton && kind == kControlClicked) {
    CheckForUpdateOnQuit(w);
    w->EndSession(kExitFinished);
    return true;
  }
  if (source == kRightButton && kind == kControlClicked) {
    w->SetCloseAfterUninstall(true);
    StartUninstall(w);
    w->SwitchPanel(w->Conflicts());
    return true;
  }
  return false;
}

// Maintenance -------------------------------------------------------------------

MUIPanelMaintain::MUIPanelMaintain(MInstallerWindow* owner) : MUIPanel(owner) {
  reinstallText_ = CreateText(owner, 13, false, false, true, DT_VCENTER, owner->Text(kTextUpgrade));
  SetRectXYWH(reinstallText_, 169, 19, 228, 33);
  uninstallText_ =
      CreateText(owner, 13, false, false, true, DT_VCENTER, owner->Text(kTextUninstallMessage));
  SetRectXYWH(uninstallText_, 169, 69, 228, 33);
  reinstall_ = CreateButton(owner, owner->Skin(), owner->Text(kTextReinstall));
  reinstall_->id = kReinstallId;
  SetRectXYWH(reinstall_, 19, 19, 140, 33);
  uninstall_ = CreateButton(owner, owner->Skin(), owner->Text(kTextUninstall));
  uninstall_->id = kUninstallId;
  SetRectXYWH(uninstall_, 19, 69, 140, 33);
}

MUIPanelMaintain::~MUIPanelMaintain() {
  delete uninstall_;
  delete reinstall_;
  delete uninstallText_;
  delete reinstallText_;
}

bool MUIPanelMaintain::OnEvent(int32_t source, int32_t kind, intptr_t) {
  MInstallerWindow* w = owner_;
  if (source == kSourceWindow && kind == kPanelActivate) {
    for (MSkinnedSection* element :
         {static_cast<MSkinnedSection*>(reinstallText_),
          static_cast<MSkinnedSection*>(uninstallText_), static_cast<MSkinnedSection*>(reinstall_),
          static_cast<MSkinnedSection*>(uninstall_)}) {
      Attach(this, element);
      element->Layout();
    }
    for (MButton* button : {reinstall_, uninstall_}) button->Label()->Layout();
    w->ShowButton(w->LeftButton(), false);
    w->ShowButton(w->RightButton(), true);
    w->SetButtonLabel(w->RightButton(), w->Text(kTextDone));
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    for (MRegion* element :
         {static_cast<MRegion*>(reinstallText_), static_cast<MRegion*>(uninstallText_),
          static_cast<MRegion*>(reinstall_), static_cast<MRegion*>(uninstall_)}) {
      Detach(element);
    }
    return false;
  }
  if (source == kRightButton && kind == kControlClicked) {
    w->EndSession(kExitFinished);
    return true;
  }
  if (source == kReinstallId && kind == kControlClicked) return true;
  if (source == kUninstallId && kind == kControlClicked) {
    StartUninstall(w);
    w->SwitchPanel(w->Progress());
    return true;
  }
  return false;
}

// Conflicts ---------------------------------------------------------------------

MUIPanelConflicts::offendingApp::offendingApp(MInstallerWindow* owner) : owner_(owner) {
  icon_.SetImage(owner->Skin());
  icon_.source = kConflictRowIcon;
  AddChild(this, &icon_);
  name_ = CreateText(owner, 20, false, false, true, DT_VCENTER, MString());
  visible = 0;
}

MUIPanelConflicts::offendingApp::~offendingApp() {
  delete name_;
  Detach(&icon_);
}

void MUIPanelConflicts::offendingApp::SetName(const MString& name) {
  Attach(this, name_);
  name_->SetText(name);
  SetElementText(name_, name);
  SetRectXYWH(name_, 18, 2, owner_->Current().Width() - rect.left - 20, Height() - 4);
  name_->Layout();
  SetRectXYWH(&icon_, 2, (Height() - 11) / 2, 13, 13);
  Layout();
  SetVisible(this, true);
  SetVisible(name_, true);
}

MUIPanelConflicts::MUIPanelConflicts(MInstallerWindow* owner) : MUIPanel(owner) {
  heading_ = CreateText(owner, 17, false, true, true, kWrapped, owner->Text(kTextConflictsHeading));
  logo_ = CreateLogo(owner, 10);
  for (int32_t i = 0; i < kRows; ++i) {
    rows_[i] = new offendingApp(owner);
    if (i < 3) {
      SetRectXYWH(rows_[i], 85, 90 + 32 * i, 180, 28);
    } else {
      SetRectXYWH(rows_[i], 283, 70 + 32 * (i - 3), 180, 28);
    }
  }
  handler = &MUIPanelConflicts::Handler;
  handlerContext = this;
}

MUIPanelConflicts::~MUIPanelConflicts() {
  for (offendingApp* row : rows_) delete row;
  delete logo_;
  delete heading_;
}

bool MUIPanelConflicts::Handler(MRegion*, MWindow*, POINT, int, UINT message, void* context) {
  auto* panel = static_cast<MUIPanelConflicts*>(context);
  if (message != WM_TIMER) return false;
  if (++panel->ticks_ > panel->tickLimit_) {
    panel->ticks_ = 0;
    panel->owner_->PostEvent(kSourceTimer, kConflictPoll, 0);
  }
  return false;
}

uint32_t MUIPanelConflicts::PlayerKinds() {
  return PlayerKindsOf(owner_);
}

bool MUIPanelConflicts::UtilityInUse() {
  HostCallbacks* host = owner_->Host();
  GlintBrokerShim* shim = owner_->Shim();
  if (host == nullptr || shim == nullptr) return false;
  MString name;
  host->GetSecondUtilityFileName(&name);
  if (name.IsEmpty()) return false;
  MString path = PlayerSystemFolder();
  if (path.IsNull()) return false;
  path.JoinPath(u'\\', name);
  return CheckFileInUse(shim, 512, path) != 0;
}

bool MUIPanelConflicts::List(uint32_t kinds) {
  MInstallerWindow* w = owner_;
  GlintBrokerShim* shim = w->Shim();
  std::unique_ptr<MStringList> names(shim != nullptr ? shim->FindConflictingProcesses(kinds)
                                                     : nullptr);
  int32_t shown = 0;
  uint32_t rest = 0;
  if (names != nullptr) {
    for (MStringList::MStringNode* node = names->Head(); node != nullptr; node = node->next) {
      if (shown < kRows - 1) {
        rows_[shown++]->SetName(node->value);
      } else {
        ++rest;
      }
    }
  }
  for (int32_t i = shown; i < kRows - 1; ++i) SetVisible(rows_[i], false);
  if (rest > 0) {
    rows_[kRows - 1]->SetName(w->Text(kTextMore, FormatNumber(rest, 10).CStr()));
  } else {
    SetVisible(rows_[kRows - 1], false);
  }
  return shown > 0;
}

bool MUIPanelConflicts::OnEvent(int32_t source, int32_t kind, intptr_t) {
  MInstallerWindow* w = owner_;
  HostCallbacks* host = w->Host();
  if (source == kSourceWindow && kind == kPanelActivate) {
    Attach(this, logo_);
    Attach(this, heading_);
    for (offendingApp* row : rows_) Attach(this, row);
    ticks_ = 0;
    const uint32_t kinds = PlayerKinds();
    const bool forced = host != nullptr && host->ForceConflictListing();
    const bool interactive = host != nullptr && host->IsInteractive();
    if (!forced && interactive && !UtilityInUse()) {
      w->SwitchPanel(w->Progress());
      return false;
    }
    hadConflicts_ = List(kinds);
    if (!hadConflicts_) {
      if (host != nullptr) host->ConflictsCleared(0);
      w->SwitchPanel(w->Progress());
    } else {
      w->SetTargetSize(w->Target().Width(), kSetupHeight);
      w->ShowButton(w->RightButton(), false);
    }
    return false;
  }
  if (source == kSourceTimer && kind == kConflictPoll) {
    const uint32_t kinds = PlayerKinds();
    const bool forced = host != nullptr && host->ForceConflictListing();
    const bool interactive = host != nullptr && host->IsInteractive();
    bool listed = false;
    if (forced || !interactive || UtilityInUse()) listed = List(kinds);
    if (hadConflicts_ && !listed) {
      w->ShowButton(w->RightButton(), true);
      if (host != nullptr) host->ConflictsCleared(0);
      hadConflicts_ = false;
      w->SwitchPanel(w->Progress());
      return true;
    }
    hadConflicts_ = listed;
    InvalidateRect(w->Handle(), nullptr, FALSE);
    return true;
  }
  if (source == kSourceWindow && kind == kPanelLayOut) {
    LayOutText(heading_, 85, 35, Width() - 90, 50);
    SetRectXYWH(logo_, 10, 1, kMakerLogo.width, kMakerLogo.height);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    for (offendingApp* row : rows_) {
      Detach(row->Name());
      Detach(row);
    }
    Detach(heading_);
    return false;
  }
  if (source == kLeftButton && kind == kControlClicked) {
    CheckForUpdateOnQuit(w);
    w->EndSession(kExitQuit);
    return true;
  }
  return false;
}

// Progress ----------------------------------------------------------------------

MUIPanelProgress::MUIPanelProgress(MInstallerWindow* owner) : MUIPanel(owner) {
  MSkinImage* skin = owner->Skin();
  trackSpec_ = MakeSliceSpec(skin, kProgressTrackSlices[0], kProgressTrackSlices[1],
                             kProgressTrackSlices[2]);
  fillSpec_ =
      MakeSliceSpec(skin, kProgressFillSlices[0], kProgressFillSlices[1], kProgressFillSlices[2]);
  handler = &MUIPanelProgress::Handler;
  handlerContext = this;
  preferenceTexts_[0] =
      CreateText(owner, 16, false, true, true, 0, owner->Text(kTextPreferencesTitle));
  preferenceTexts_[1] =
      CreateText(owner, 14, false, false, true, kWrapped, owner->Text(kTextPreferencesDescription));
  preferenceTexts_[2] =
      CreateText(owner, 14, true, false, true, 0, owner->Text(kTextPreferencesLink));
  for (int32_t i = 0; i < 3; ++i) {
    preferenceChoices_[i] = CreateRadioButton(owner, skin, i == 0, i, &preferenceGroup_);
    preferenceChoices_[i]->id = 300 + i;
    preferenceLabels_[i] =
        CreateText(owner, 14, false, false, true, 0, owner->Text(kPreferenceChoiceTexts[i]));
    preferenceLabels_[i]->handler = preferenceChoices_[i]->handler;
    preferenceLabels_[i]->handlerContext = preferenceChoices_[i]->handlerContext;
  }
}

MUIPanelProgress::~MUIPanelProgress() {
  DestroyElements();
  for (int32_t i = 0; i < 3; ++i) {
    delete preferenceLabels_[i];
    delete preferenceChoices_[i];
    delete preferenceTexts_[i];
  }
}

void MUIPanelProgress::Build() {
  if (bar_ != nullptr) return;
  MInstallerWindow* w = owner_;
  detail_ = CreateText(w, 15, true, false, true, DT_WORD_ELLIPSIS, MString());
  status_ = CreateText(w, 16, false, false, true, 0, statusText_);
  percentage_ = CreateText(w, 14, false, false, false, DT_RIGHT, MString(u""));
  bar_ = new MProgressBar(w, &trackSpec_, &fillSpec_);
  logo_ = CreateLogo(w, 10);
}

void MUIPanelProgress::DestroyElements() {
  for (MSkinnedSection** element : {reinterpret_cast<MSkinnedSection**>(&detail_),
                                    reinterpret_cast<MSkinnedSection**>(&status_),
                                    reinterpret_cast<MSkinnedSection**>(&percentage_),
                                    reinterpret_cast<MSkinnedSection**>(&bar_), &logo_}) {
    delete *element;
    *element = nullptr;
  }
}

void MUIPanelProgress::Start(ProgressCompletion completion, void* context, float current,
                             float target, float step) {
  completion_ = completion;
  context_ = context;
  current_ = current;
  target_ = target;
  step_ = step;
  running_ = true;
}

void MUIPanelProgress::SetStatus(const MString& text) {
  statusText_ = text;
  if (status_ == nullptr) return;
  status_->SetText(text);
  SetElementText(status_, text);
  status_->Layout();
  InvalidateElement(owner_, status_);
}

bool MUIPanelProgress::Handler(MRegion*, MWindow* window, POINT, int, UINT message, void*) {
  if (message == WM_TIMER) window->PostEvent(kSourceTimer, kTimerTick, 0);
  return false;
}

bool MUIPanelProgress::Complete(int32_t code) {
  return completion_ != nullptr && completion_(this, code, 0, context_);
}

bool MUIPanelProgress::OnEvent(int32_t source, int32_t kind, intptr_t) {
  MInstallerWindow* w = owner_;
  if (source == kSourceWindow && kind == kPanelActivate) {
    Build();
    for (MRegion* element : {static_cast<MRegion*>(detail_), static_cast<MRegion*>(status_),
                             static_cast<MRegion*>(percentage_), static_cast<MRegion*>(bar_),
                             static_cast<MRegion*>(logo_)}) {
      Attach(this, element);
    }
    w->ShowButton(w->LeftButton(), false);
    w->ShowButton(w->RightButton(), true);
    w->SetButtonLabel(w->RightButton(), w->Text(kTextDone));
    SetButtonEnabled(w->RightButton(), false);
    w->SetTargetSize(w->Target().Width(), kSetupHeight);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelLayOut) {
    if (bar_ == nullptr) return false;
    const int32_t width = Width();
    SetRectXYWH(bar_, 94, 87, width - 111, 33);
    bar_->Layout();
    status_->SetVerticalOffset(1);
    LayOutText(status_, 97, 40, width - 85, 25);
    LayOutText(detail_, 20, 230, width - 85, 40);
    LayOutText(percentage_, width - 80, 126, 60, 20);
    SetRectXYWH(logo_, 10, 1, kMakerLogo.width, kMakerLogo.height);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    DestroyElements();
    return false;
  }
  if (source == kSourceTimer && kind == kTimerTick) {
    if (!running_) {
      Complete(kCompletionIdle);
      return false;
    }
    const bool short_ = step_ > 0.0f ? current_ < target_ : current_ > target_;
    if (short_) {
      current_ += step_;
      const int32_t percent = static_cast<int32_t>(current_);
      if (bar_ != nullptr) {
        bar_->SetPercentage(percent);
        bar_->Layout();
      }
      SetTextOf(percentage_, w->Text(kTextPercent, FormatSignedNumber(percent, 10).CStr()));
      InvalidateElement(w, percentage_);
      return true;
    }
    running_ = false;
    if (status_ != nullptr) {
      // The finished status is drawn bold: a new text in the old one's place.
      MTextArea* bold = CreateText(w, 16, true, true, true, 0, statusText_);
      bold->rect = status_->rect;
      bold->visible = status_->visible;
      delete status_;
      status_ = bold;
      AddChild(this, status_);
      status_->Layout();
    }
    Complete(kCompletionFinished);
    SetTextOf(percentage_, MString(u""));
    if (status_ != nullptr) {
      status_->SetVerticalOffset(1);
      status_->Layout();
      InvalidateElement(w, status_);
    }
    return true;
  }
  if (source == kRightButton && kind == kControlClicked) {
    Complete(kCompletionDone);
    return true;
  }
  return false;
}

// Failure -----------------------------------------------------------------------

MUIPanelFailure::MUIPanelFailure(MInstallerWindow* owner) : MUIPanel(owner) {
  heading_ = CreateText(owner, 17, false, true, true, 0, owner->Text(kTextFailureHeading));
  message_ =
      CreateText(owner, 18, true, false, true, kWrapped, owner->Text(kTextNoErrorInformation));
  icon_ = CreatePicture(owner->Skin(), kFailureIcon, DrawMode::AlphaBlend);
  SetRectXYWH(icon_, 22, 26, kFailureIcon.width, kFailureIcon.height);
  AddChild(this, icon_);
  logo_ = CreateLogo(owner, 10);
  AddChild(this, logo_);
}

MUIPanelFailure::~MUIPanelFailure() {
  delete message_;
  delete heading_;
  delete logo_;
  delete icon_;
}

void MUIPanelFailure::Report() {
  MInstallerWindow* w = owner_;
  HostCallbacks* host = w->Host();
  HostErrorLog* log = host != nullptr ? host->GetErrorLog() : nullptr;
  const uint32_t count = log != nullptr ? log->Count() : 0;
  if (count == 0) return;
  int32_t severity = 0;
  uint32_t code = 0;
  MString detail;
  bool found = false;
  for (uint32_t i = count; i-- > 0 && !found;) {
    MString d;
    int32_t s = 0;
    uint32_t c = 0;
    if (log->Entry(i, &s, &c, &d) && s >= kLogSeverityShown) {
      severity = s, code = c, detail = d, found = true;
    }
  }
  if (!found && !log->Entry(0, &severity, &code, &detail)) return;
  MString text;
  log->Format(&text, host, severity, code, detail.Give(), 0);
  message_->SetText(text);
  SetElementText(message_, text);
  if (code == 1048 || code == 1047) {
    SetTextOf(heading_, w->Text(kTextUninstallerAttention));
    SetElementText(heading_, heading_->Text());
    w->SetTitle(w->Text(kTextUninstallTitle));
  } else if (code == 1040 || code == 1044) {
    SetTextOf(heading_, w->Text(kTextInstallerAttention));
    SetElementText(heading_, heading_->Text());
  }
  heading_->SetVerticalOffset(3);
  message_->SetVerticalOffset(3);
  LayOutText(heading_, 85, 35, Width() - 114, 45);
  LayOutText(message_, 85, 80, Width() - 114, Height() - 90);
  SetButtonEnabled(w->RightButton(), true);
  InvalidateRect(w->Handle(), nullptr, FALSE);
}

bool MUIPanelFailure::OnEvent(int32_t source, int32_t kind, intptr_t) {
  MInstallerWindow* w = owner_;
  if (source == kSourceWindow && kind == kPanelActivate) {
    w->ApplySetupSize();
    w->SetTitle(w->Text(kTextSetupTitle, kBuildVersion));
    Attach(this, heading_);
    Attach(this, message_);
    w->ShowButton(w->LeftButton(), true);
    w->ShowButton(w->RightButton(), false);
    w->SetButtonLabel(w->LeftButton(), w->Text(kTextQuitLabel));
    SetButtonEnabled(w->LeftButton(), true);
    w->Show(true);
    w->ShowBrowserNote(false, 0);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelLayOut) {
    LayOutText(heading_, 85, 35, Width() - 114, 45);
    LayOutText(message_, 85, 80, Width() - 114, Height() - 90);
    SetRectXYWH(logo_, 10, 1, kMakerLogo.width, kMakerLogo.height);
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    Detach(heading_);
    Detach(message_);
    return false;
  }
  if (source == kSourceFailure && kind == 8) {
    Report();
    return true;
  }
  if (source == kLeftButton && kind == kControlClicked) {
    w->EndSession(kExitQuit);
    return true;
  }
  return false;
}

// Update notice -----------------------------------------------------------------

MUIPanelAutoUpdate::MUIPanelAutoUpdate(MInstallerWindow* owner) : MUIPanel(owner) {
  backgroundSpec_ =
      MakeNineSliceSpec(owner->Skin(), kUninstallerSplashBackground.x,
                        kUninstallerSplashBackground.y, kUninstallerSplashBackground.columns,
                        kUninstallerSplashBackground.rows, DrawMode::OpaqueCopy);
  background_ = new MScale9Section(owner, &backgroundSpec_);
  AddChild(this, background_);
  logo_ = CreateLogo(owner, 21);
  AddChild(this, logo_);
  heading_ = CreateText(owner, 16, false, false, true, kWrapped, owner->Text(kTextNoticeHeading));
  message_ = CreateText(owner, 16, true, false, true, kWrapped, MString());
  message_->SetLinkColours(0xFBCB9C, 0xFBCB9C, 0xFFE1C3);
}

MUIPanelAutoUpdate::~MUIPanelAutoUpdate() {
  delete message_;
  delete heading_;
  delete logo_;
  delete background_;
}

namespace {

// The notice's size: what it asks for within what a screen can show, the
// default where it asks for nothing usable.
int32_t NoticeSide(const MConfigNode* size, uint32_t index, int32_t fallback, int32_t least,
                   int32_t most) {
  if (ConfigValueCount(size) <= index) return fallback;
  const uint32_t value = ParseUnsigned(ConfigValue(size, index));
  if (value == 0) return fallback;
  if (value < static_cast<uint32_t>(least)) return least;
  if (value > static_cast<uint32_t>(most)) return most;
  return static_cast<int32_t>(value);
}

}  // namespace

void MUIPanelAutoUpdate::Activate() {
  MInstallerWindow* w = owner_;
  HostCallbacks* host = w->Host();
  Attach(this, heading_);
  Attach(this, message_);
  w->SetTitle(w->Text(kTextNoticeTitle));
  MButton* left = w->LeftButton();
  if (left != nullptr) {
    SetRectXYWH(left, left->rect.left, left->rect.top, 200, left->Height());
    left->Layout();
    left->Label()->Layout();
  }
  w->ShowButton(left, host == nullptr || !host->HideInstallStatus());
  w->ShowButton(w->RightButton(), true);
  const uint32_t vector = host != nullptr ? host->GetInstallVector() : 0;
  int32_t width = kNoticeWidth, height = kNoticeHeight;
  MConfigNode* texts = nullptr;
  if (host != nullptr && host->GetUpdateNotice(&texts)) {
    message_->SetText(ConfigValue(FindConfigNodeInTexts(texts, MString(u"message")), 0));
    const MConfigNode* size = FindConfigNodeInTexts(texts, MString(u"size"));
    width = NoticeSide(size, 0, kNoticeWidth, 300, 1600);
    height = NoticeSide(size, 1, kNoticeHeight, 200, 1200);
    if (vector == kVectorSilentNotice) {
      host->StoreAutoUpdateChoice(0);
    } else {
      const MConfigNode* mode = FindConfigNodeInTexts(texts, MString(u"autoUpdateMode"));
      if (mode != nullptr) {
        const uint32_t value = ParseUnsigned(ConfigValue(mode, 0));
        host->StoreAutoUpdateChoice(value == 1 || value == 2 ? static_cast<int32_t>(value) : 0);
      }
    }
  } else {
    message_->SetText(w->Text(kTextNoticeFallback));
  }
  FreeConfigNodes(texts);
  SetElementText(message_, message_->Text());
  if (vector == kVectorSilentNotice) {
    w->Show(false);
    if (w->Ui() != nullptr) w->Ui()->Notify(4, 0);
    return;
  }
  w->SetClientSize(width, height);
  w->Show(true);
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  RegKey key;
  if (length > 0 &&
      key.Create(HKEY_CURRENT_USER, MString(u"Software\\Kestrelink\\GlintPlayerUpdate"),
                 KEY_SET_VALUE) == ERROR_SUCCESS) {
    key.WriteString(MString(u"proc"), FromWide(path, static_cast<int32_t>(length)));
  }
}

void MUIPanelAutoUpdate::LayOut() {
  const int32_t offset = IsCjkTextLocale(true) ? 3 : 0;
  heading_->SetVerticalOffset(offset);
  message_->SetVerticalOffset(offset);
  SetRect(background_, 0, 0, Width(), Height());
  background_->Layout();
  SetRectXYWH(logo_, 21, 1, kMakerLogo.width, kMakerLogo.height);
  LayOutText(heading_, 110, 18, Width() - 130, 46);
  SetRect(message_, 110, 45, Width() - 20, Height() - 32);
  message_->Layout();
}

void MUIPanelAutoUpdate::Download() {
  MInstallerWindow* w = owner_;
  const uint32_t kinds = PlayerKindsOf(w);
  MString url = w->Text(kTextUpdateDownloadSite);
  if (kinds & kPlayerActiveX) {
    url += MString(u"activex");
  } else if (kinds & kPlayerPlugin) {
    url += MString(u"plugin");
  } else if (kinds & kPlayerPepper) {
    url += MString(u"ppapi");
  }
  if (w->Shim() != nullptr) w->Shim()->LaunchBrowser(w, url.Give());
  w->EndSession(kExitFinished);
  w->DestroyTransientPanels();
}

bool MUIPanelAutoUpdate::OnEvent(int32_t source, int32_t kind, intptr_t) {
  MInstallerWindow* w = owner_;
  if (source == kSourceWindow && kind == kPanelActivate) {
    Activate();
    LayOut();
    return false;
  }
  if (source == kSourceWindow && kind == kPanelLayOut) {
    LayOut();
    return false;
  }
  if (source == kSourceWindow && kind == kPanelDeactivate) {
    Detach(heading_);
    Detach(message_);
    return false;
  }
  if (source == kLeftButton && kind == kControlClicked) {
    w->EndSession(kExitQuit);
    return true;
  }
  if (source == kRightButton && kind == kControlClicked) {
    HostCallbacks* host = w->Host();
    if (host != nullptr && host->GetRightButtonMode() == 2) {
      Download();
    } else if (w->Ui() != nullptr) {
      w->Ui()->Notify(4, 0);
    }
    return true;
  }
  if (source == kMiddleButton && kind == kControlClicked) {
    Download();
    return true;
  }
  return false;
}
