#include "engine/GlintBrokerShim.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>
#include <new>
#include <string>

#include "broker/server/BrokerServer.h"
#include "engine/ConflictScan.h"
#include "engine/FileRemoval.h"
#include "engine/HostCallbacks.h"
#include "engine/KeyTableActions.h"
#include "engine/ProductNames.h"
#include "engine/Registration.h"
#include "engine/SetupRules.h"
#include "engine/Uninstall.h"
#include "update/NotifierTask.h"
#include "update/UpdateCheckWin32.h"
#include "ui/MInstallerWindow.h"
#include "ui/ZavuzER.h"
#include "update/UpdateNotice.h"
#include "update/UpdateNoticeWin32.h"
#include "engine/SetupEngine.h"
#include "engine/StatusDetail.h"
#include "engine/StringTablesWin32.h"
#include "engine/VersionCompare.h"
#include "foundation/Registry.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {
// Deleting a registry key or value failed, or there was none to delete.

// Operations whose work has not been built yet still take over their string
// arguments, so that nothing the host hands in is leaked.
void Drop(MStringArg a) {
  MString::Adopt(a);
}
}  // namespace

GlintBrokerShim::GlintBrokerShim(HostCallbacks* host)
    : host_(host), engine_(new (std::nothrow) SetupEngine(this)) {}

GlintBrokerShim::~GlintBrokerShim() {
  delete engine_;
}

void GlintBrokerShim::Destroy() {
  this->GlintBrokerShim::~GlintBrokerShim();
  ::operator delete(this);
}

void GlintBrokerShim::LoadLocalizedString(MString* text, uint32_t id, bool hostFallback) {
  if (text == nullptr) return;
  HMODULE module = host_ != nullptr ? static_cast<HMODULE>(host_->ResourceModule()) : nullptr;
  MString found = LoadTableString(module, id);
  if (!found.IsNull()) {
    *text = found;
    return;
  }
  // The host's slot 3 answers through the out string alone; whatever it
  // leaves there is the result.
  *text = MString(u"MISSING LOCALIZATION");
  if (hostFallback && host_ != nullptr) host_->LoadHostString(text, id, 0);
}

// The toolkit takes its skins and texts from the host's resource module.
ZavuzER* GlintBrokerShim::CreateSetupWindow() {
  if (host_ == nullptr) return nullptr;
  auto* ui = new (std::nothrow) ZavuzER(host_, static_cast<HMODULE>(host_->ResourceModule()), this);
  if (ui == nullptr) return nullptr;
  auto* window = new (std::nothrow) MInstallerWindow(ui);
  if (window == nullptr) {
    ZavuzER::Free(ui);
    return nullptr;
  }
  ui->AttachWindow(window);
  return ui;
}
void GlintBrokerShim::DestroySetupWindow(ZavuzER* ui) {
  if (ui == nullptr) return;
  delete ui->Window();
  ZavuzER::Free(ui);
}
// The check is a one-way report: its result says only that it was sent.
bool GlintBrokerShim::CheckForUpdate(uint32_t playerType, uint32_t installVector,
                                     uint32_t errorCode, uint32_t windowsError) {
  if (engine_ == nullptr) return false;
  SendUpdateCheck(UpdateCheckUrl(host_, engine_->ownVersion,
                                 {playerType, installVector, errorCode, windowsError}));
  return true;
}
bool GlintBrokerShim::IsReleaseType(uint32_t mask, uint32_t releaseType) {
  if (releaseType == 1) return true;
  MString keyPath = ReleaseTypeKey(mask);
  RegKey key;
  if (keyPath.IsNull() || key.Open(HKEY_LOCAL_MACHINE, keyPath) != ERROR_SUCCESS) return true;
  DWORD release = 0;
  return key.ReadDword(MString(u"Release"), &release) == ERROR_SUCCESS && release == releaseType;
}

namespace {
// The installed ActiveX control counts as newer than this build when its
// safe-version marker for 34.0 reaches the next revision.
bool ActiveXInstalledIsNewer() {
  DWORD safe = 0;
  return ReadRegistryDword(HKEY_LOCAL_MACHINE, MString(kSafeVersionsKey), MString(u"34.0"),
                           &safe) == ERROR_SUCCESS &&
         safe >= 385;
}
}  // namespace

bool GlintBrokerShim::CheckInstallable(uint32_t mask, uint32_t* error, uint32_t releaseType) {
  for (uint32_t type : {kPlayerActiveX, kPlayerPlugin, kPlayerPepper}) {
    if ((mask & type) == 0) continue;
    uint32_t failure = 0;
    if (!IsReleaseType(type, releaseType)) {
      failure = 1161;
    } else if (type == kPlayerActiveX ? ActiveXInstalledIsNewer()
                                      : CompareInstalledVersion(type) == kVersionNewer) {
      failure = releaseType == 1 ? 1013 : 1162;
    }
    if (failure != 0) {
      if (error != nullptr) *error = failure;
      return false;
    }
  }
  return true;
}

bool GlintBrokerShim::IsUacEnabled() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  DWORDLONG condition = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
  if (!VerifyVersionInfoW(&version, VER_MAJORVERSION, condition)) return false;
  DWORD enabled = 0;
  return ReadRegistryDword(HKEY_LOCAL_MACHINE, MString(kUacPolicyKey), MString(u"EnableLUA"),
                           &enabled) == ERROR_SUCCESS &&
         enabled > 0;
}

bool GlintBrokerShim::PrepareUninstall(uint32_t type, MStringArg dirArg, bool removeSafeVersions) {
  const MString dir = MString::Adopt(dirArg);
  if (engine_ == nullptr) return false;
  switch (type) {
    case kPlayerActiveX: {
      UnregisterActiveXControl(removeSafeVersions, 0);
      const bool broker = UnregisterBroker();
      RemoveArpEntries(*engine_, dir, type);
      return broker;
    }
    case kPlayerPlugin: {
      const bool deleted =
          SHDeleteKeyW(HKEY_LOCAL_MACHINE, W(MString(kPluginRegistrationKey))) == ERROR_SUCCESS;
      RemoveArpEntries(*engine_, dir, type);
      return deleted;
    }
    case kPlayerPepper:
      RemoveArpEntries(*engine_, dir, type);
      return true;
    default:
      return false;
  }
}

bool GlintBrokerShim::RegisterPlayer(uint32_t type, MStringArg playerPathArg,
                                     MStringArg uninstallerPathArg, uint32_t, bool writeArpEntry) {
  const MString playerPath = MString::Adopt(playerPathArg);
  const MString uninstallerPath = MString::Adopt(uninstallerPathArg);
  registered_ = false;
  if (!PrepareRegistration(MString(uninstallerPath).Give(), type)) return false;
  if (type == kPlayerActiveX) {
    if (!RegisterActiveXControl(MString(playerPath).Give())) return false;
  } else if (type == kPlayerPlugin) {
    RegisterPluginEntry(MString(playerPath).Give());
  }
  registered_ = true;
  if (writeArpEntry) WriteArpEntry(host_, type, uninstallerPath);
  if (engine_ != nullptr) WriteInstallRecord(host_, *engine_, playerPath, uninstallerPath, type);
  return true;
}

bool GlintBrokerShim::RemoveSystemUpdateService(uint32_t, MStringArg systemDir) {
  return ::RemoveSystemUpdateService(host_, MString::Adopt(systemDir));
}

bool GlintBrokerShim::UninstallPlayer(uint32_t type, MStringArg systemDirArg,
                                      bool removeSafeVersions, bool setNotify,
                                      bool skipPartnerCheck, uint32_t* code) {
  const MString systemDir = MString::Adopt(systemDirArg);
  bool result = true;
  auto fail = [&](uint32_t status) {
    result = false;
    ReportStatus(host_, kStatusError, status);
  };
  auto hostText = [&](void (HostCallbacks::*get)(MString*)) {
    MString text(u"");
    if (host_ != nullptr) (host_->*get)(&text);
    return text;
  };
  const InstallRecord record = ReadInstallRecord(this, type, true);
  PrepareUninstall(type, MString(systemDir).Give(), removeSafeVersions);
  if (record.player.IsEmpty()) {
    fail(kStatusNoPlayerPath);
  } else {
    const uint32_t error = RemovePlayerFile(this, record.player, type);
    if (code != nullptr) *code = error;
  }
  if (record.uninstaller.IsEmpty()) {
    fail(kStatusNoUninstallerPath);
  } else {
    RemovePlayerFile(this, record.uninstaller, type);
    if (type == kPlayerActiveX) {
      RemovePlayerFile(this, WithExtension(record.uninstaller, MString(u".dll")), type);
    }
  }
  if (record.found && !RemoveInstalledMarker(type)) fail(kStatusMarkerKept);
  if (!CleanTypeRegistry(this, type)) fail(kStatusTypeRegistryKept);

  // The shared utility files, kept while another type is installed; a host
  // that names none has none (its folder is never taken for one).
  const MString separator(u"\\");
  const MString utilityName = hostText(&HostCallbacks::GetUtilityFileName);
  const MString utility = systemDir + separator + utilityName;
  if (!utilityName.IsEmpty() && !RemoveSharedUtilityFile(this, utility)) {
    fail(kStatusSharedFileKept);
    switch (CheckFileInUse(this, 512, utility)) {
      case 1:
        ReportStatus(host_, kStatusAtRestart, kStatusSharedFileKept, utility);
        break;
      case 2:
        ScheduleDeleteAtRestart(host_, utility);
        ReportStatus(host_, kStatusAtRestart, kStatusDeletedAtRestart, utility);
        break;
      default:
        break;
    }
  }
  const MString secondName = hostText(&HostCallbacks::GetSecondUtilityFileName);
  if (!secondName.IsEmpty()) RemoveSharedUtilityFile(this, systemDir + separator + secondName);

  // The services, from the folder of the player file.
  MString playerFolder = record.player;
  SplitAtLast(playerFolder, "\\/");
  const MString update =
      playerFolder + separator + hostText(&HostCallbacks::GetUpdateServiceFileName);
  const MString feedback =
      playerFolder + separator + hostText(&HostCallbacks::GetFeedbackServiceFileName);
  if (!::RemoveFeedbackService(host_, feedback, update, false)) fail(kStatusFeedbackKept);
  if (!::RemoveUpdateService(host_, update, setNotify)) fail(kStatusUpdateServiceKept);
  if (type == kPlayerPlugin || type == kPlayerPepper) DeleteNotifierTask(host_, type);
  const MString helper = hostText(&HostCallbacks::GetHelperServiceFolder) + separator +
                         hostText(&HostCallbacks::GetHelperServiceFileName);
  const DWORD helperAttributes = GetFileAttributesW(W(helper));
  if (helperAttributes != INVALID_FILE_ATTRIBUTES &&
      !(helperAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !::RemoveHelperService(host_, helper, skipPartnerCheck)) {
    fail(kStatusHelperKept);
  }
  if (!::UninstallAssistant(this)) fail(kStatusAssistantKept);
  return result;
}

bool GlintBrokerShim::RemoveListedFiles(uint32_t mask, MStringArg dir) {
  const MString folder = MString::Adopt(dir);
  return engine_ != nullptr && ::RemoveListedFiles(this, mask, folder);
}

bool GlintBrokerShim::RemoveUpdateService(MStringArg path, bool setNotify) {
  if (::RemoveUpdateService(host_, MString::Adopt(path), setNotify)) return true;
  ReportStatus(host_, kStatusError, kStatusUpdateServiceKept);
  return false;
}

bool GlintBrokerShim::RemoveNamedFile(MStringArg name, MStringArg path) {
  const MString fileName = MString::Adopt(name);
  return ::RemoveNamedFile(this, fileName, MString::Adopt(path));
}

bool GlintBrokerShim::RemoveFilesByPattern(uint32_t mask, MStringArg dir) {
  const MString folder = MString::Adopt(dir);
  return engine_ != nullptr && ::RemoveFilesByPattern(this, mask, folder);
}

bool GlintBrokerShim::RefreshIEElevationPolicy() {
  return RefreshElevationPoliciesInProcess();
}

bool GlintBrokerShim::RemoveHelperService(MStringArg path, bool skipPartnerCheck) {
  return ::RemoveHelperService(host_, MString::Adopt(path), skipPartnerCheck);
}

bool GlintBrokerShim::UninstallAssistant() {
  return ::UninstallAssistant(this);
}

bool GlintBrokerShim::RemoveFeedbackService(MStringArg feedbackPath, MStringArg updatePath,
                                            bool forced) {
  return ::RemoveFeedbackService(host_, MString::Adopt(feedbackPath), MString::Adopt(updatePath),
                                 forced);
}

bool GlintBrokerShim::RemovePerUserData() {
  ::RemovePerUserData(this);
  return true;
}
namespace {
// The path less its last `count` components; null when it has too few.
MString WithoutLastComponents(MString path, int count) {
  for (int i = 0; i < count; ++i) {
    if (FromLastOf(path, "\\").IsNull()) return MString();
    SplitAtLast(path, "\\");
  }
  return path;
}
}  // namespace

bool GlintBrokerShim::GetProfilesRoot(char16_t* buffer) {
  if (buffer == nullptr) return false;
  int32_t generation = host_ != nullptr ? host_->GetWindowsGeneration() : 2;
  MString root = generation < 2 ? WithoutLastComponents(ShellFolder(CSIDL_PERSONAL), 2)
                                : WithoutLastComponents(ShellFolder(CSIDL_PROFILE), 1);
  uint32_t length = root.Length() < MAX_PATH ? root.Length() : MAX_PATH - 1;
  for (uint32_t i = 0; i < length; ++i) buffer[i] = root[i];
  buffer[length] = 0;
  // Callers take the folder from the buffer; the operation answers false.
  return false;
}

bool GlintBrokerShim::PathHasReparsePoint(MStringArg pathArg) {
  MString path = MString::Adopt(pathArg);
  while (!path.IsEmpty()) {
    DWORD attributes = GetFileAttributesW(W(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return true;
    }
    if (FromLastOf(path, "\\").IsNull()) break;
    SplitAtLast(path, "\\");
    // A bare drive ("C:") names the drive's current folder, not an ancestor.
    if (FromLastOf(path, "\\").IsNull()) break;
  }
  return false;
}

bool GlintBrokerShim::PrepareRegistration(MStringArg brokerPathArg, uint32_t type) {
  MString brokerPath = MString::Adopt(brokerPathArg);
  if (type != kPlayerActiveX) return true;
  WriteBrokerRegistration(brokerPath, true);
  LockRegistration(KeyTable::kBroker, true);
  LockFile(brokerPath, true);
  RefreshElevationPoliciesPerUser(host_);
  return true;
}

bool GlintBrokerShim::RegisterActiveXControl(MStringArg pathArg) {
  MString path = MString::Adopt(pathArg);
  auto repair = [](void* shim) { static_cast<GlintBrokerShim*>(shim)->RepairControlPermissions(); };
  if (!RegisterControlFile(host_, path, repair, this)) return false;
  LockRegistration(KeyTable::kControlMachine, true);
  LockFile(path, true);
  GrantUsersRead();
  return true;
}

bool GlintBrokerShim::RegisterPluginEntry(MStringArg path) {
  return ::RegisterPluginEntry(host_, MString::Adopt(path));
}

bool GlintBrokerShim::UnregisterActiveXControl(bool removeSafeVersions, uint32_t) {
  return UnregisterControl(removeSafeVersions);
}
bool GlintBrokerShim::RepairControlPermissions() {
  ReportStatus(host_, kStatusProgress, kStatusRepairingPermissions);
  ::RepairControlPermissions();
  return true;
}
int32_t GlintBrokerShim::RunBrokerServer() {
  return ::RunBrokerServer(host_);
}

SetupEngine* GlintBrokerShim::GetEngine() {
  return engine_;
}
MStringList* GlintBrokerShim::GetActiveXFileNames() {
  return &engine_->fileNamesActiveX;
}
MStringList* GlintBrokerShim::GetPluginFileNames() {
  return &engine_->fileNamesPlugin;
}
MStringList* GlintBrokerShim::GetBrowserPluginFolders() {
  return &engine_->browserPluginFolders;
}
MStringList* GlintBrokerShim::GetActiveXFilePatterns() {
  return &engine_->filePatternsActiveX;
}
MStringList* GlintBrokerShim::GetPluginFilePatterns() {
  return &engine_->filePatternsPlugin;
}
MStringList* GlintBrokerShim::GetPepperFilePatterns() {
  return &engine_->filePatternsPepper;
}
MStringList* GlintBrokerShim::GetProductFolderPatterns() {
  return &engine_->productFolderPatterns;
}
MStringList* GlintBrokerShim::GetUserBinListing() {
  return &engine_->userBinListing;
}
MStringList* GlintBrokerShim::GetOtherFilePatterns() {
  return &engine_->otherFilePatterns;
}

bool GlintBrokerShim::RecordConflictingProcesses(uint32_t mask) {
  std::unique_ptr<MStringList> found(::FindConflictingProcesses(this, mask));
  if (found == nullptr || found->Count() == 0) return false;
  MString names(u"");
  for (const auto& node : *found) {
    if (!names.IsEmpty()) names = names + MString(u",");
    names = names + node.value;
  }
  RegKey key;
  return key.Create(HKEY_CURRENT_USER, MString(kPlayerKey), KEY_SET_VALUE) == ERROR_SUCCESS &&
         key.WriteString(MString(u"ConflictingProcs"), names) == ERROR_SUCCESS;
}
bool GlintBrokerShim::ClearConflictingProcesses() {
  const MString value(u"ConflictingProcs");
  RegKey key;
  LONG error = key.Open(HKEY_CURRENT_USER, MString(kPlayerKey), KEY_SET_VALUE);
  if (error == ERROR_SUCCESS) error = key.DeleteValue(value);
  if (error == ERROR_SUCCESS) return true;
  // A value that was not there is a failed deletion too.
  ReportStatus(host_, kStatusError, kStatusDeleteFailed,
               RegistryDetail(MString(kPlayerKey), value, static_cast<uint32_t>(error)));
  return false;
}
MStringList* GlintBrokerShim::FindConflictingProcesses(uint32_t mask) {
  return ::FindConflictingProcesses(this, mask);
}

MStringList* GlintBrokerShim::GetActiveXKeepList() {
  return &engine_->keepListActiveX;
}
MStringList* GlintBrokerShim::GetPluginKeepList() {
  return &engine_->keepListPlugin;
}
MStringList* GlintBrokerShim::GetPepperKeepList() {
  return &engine_->keepListPepper;
}

bool GlintBrokerShim::AddActiveXKeep(MStringArg name) {
  engine_->keepListActiveX.AddName(MString::Adopt(name));
  return true;
}

bool GlintBrokerShim::AddPluginKeep(MStringArg name) {
  engine_->keepListPlugin.AddName(MString::Adopt(name));
  return true;
}

bool GlintBrokerShim::AddPepperKeep(MStringArg name) {
  engine_->keepListPepper.AddName(MString::Adopt(name));
  return true;
}

namespace {
// Copies every value of a configuration key into the list as a name; false
// when the key is missing.
bool CopyConfigValues(HostCallbacks* host, const char16_t* key, MStringList& list) {
  const MConfigNode* texts = host != nullptr ? host->GetConfiguration() : nullptr;
  const MConfigNode* node = FindConfigNodeInTexts(texts, MString(key));
  if (node == nullptr) return false;
  for (const MConfigNode* value = node->values; value != nullptr; value = value->next) {
    list.AddName(value->name);
  }
  return true;
}

// Adds the entry names of a folder (not "." and ".."); false when the folder
// cannot be listed.
bool ListFolder(const MString& folder, MStringList& list) {
  if (folder.IsNull()) return false;
  MString pattern = folder;
  pattern.JoinPath(u'\\', MString(u"*"));
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(W(pattern), &entry));
  if (!find) return false;
  do {
    MString name = FromWide(entry.cFileName);
    if (Equals(name, MString(u".")) || Equals(name, MString(u".."))) continue;
    list.AddName(name);
  } while (FindNextFileW(find.Get(), &entry));
  return true;
}
}  // namespace

MString UserBinFolder() {
  MString folder = ShellFolder(CSIDL_APPDATA);
  if (folder.IsNull()) return folder;
  folder.JoinPath(u'\\', MString(u"Kestrelink\\Glint Player\\"));
  folder.JoinPath(u'\\', MString(kMakerSiteFolderName));
  folder.JoinPath(u'\\', MString(u"bin"));
  return folder;
}

bool GlintBrokerShim::LoadFileLists() {
  SetupEngine& e = *engine_;
  bool all = true;
  all &= CopyConfigValues(host_, u"AddRemoveProgramsGUIDsAX", e.arpGuidsActiveX);
  all &= CopyConfigValues(host_, u"AddRemoveProgramsGUIDsPlugin", e.arpGuidsPlugin);
  all &= CopyConfigValues(host_, u"AddRemoveProgramsGUIDsPepper", e.arpGuidsPepper);
  all &= CopyConfigValues(host_, u"FilenamesAX", e.fileNamesActiveX);
  all &= CopyConfigValues(host_, u"FilenamesPlugin", e.fileNamesPlugin);
  // The Self keys are optional.
  CopyConfigValues(host_, u"AddRemoveProgramsGUIDsAXSelf", e.arpGuidsActiveX);
  CopyConfigValues(host_, u"AddRemoveProgramsGUIDsPluginSelf", e.arpGuidsPlugin);
  CopyConfigValues(host_, u"AddRemoveProgramsGUIDsPepperSelf", e.arpGuidsPepper);
  all &= CopyConfigValues(host_, u"AXFilenamePatterns", e.filePatternsActiveX);
  all &= CopyConfigValues(host_, u"PluginFilenamePatterns", e.filePatternsPlugin);
  all &= CopyConfigValues(host_, u"PepperFilenamePatterns", e.filePatternsPepper);
  MString systemFolder = PlayerSystemFolder();
  if (!systemFolder.IsNull()) systemFolder.JoinPath(u'\\', MString(u"Kestreli\\Glint\\"));
  all &= ListFolder(systemFolder, e.systemFolderListing);
  all &= CopyConfigValues(host_, u"ProductManagerDirectoryPatterns", e.productFolderPatterns);
  all &= ListFolder(UserBinFolder(), e.userBinListing);
  all &= CopyConfigValues(host_, u"OtherFilePatterns", e.otherFilePatterns);
  return all;
}
bool GlintBrokerShim::RejectOfferedUpdate() {
  return RejectStoredOffer();
}
bool GlintBrokerShim::GetNoticeContent(MConfigNode** texts) {
  return ReadStoredNotice(texts);
}
bool GlintBrokerShim::GetOfferedVersion(MString* version) {
  return ReadStoredOfferVersion(version);
}

// The notice operations on a given document take it over whatever they
// answer; a missing out-parameter is nothing to fill, so false.
bool GlintBrokerShim::ParseNoticeContent(MConfigNode** texts, MStringArg text) {
  const MString document = MString::Adopt(text);
  return ::ParseNoticeContent(texts, document);
}

bool GlintBrokerShim::ExtractMetaText(MStringArg text, MString* content) {
  const MString document = MString::Adopt(text);
  return content != nullptr && ::ExtractMetaText(document, content);
}

bool GlintBrokerShim::ExtractUpdateVersion(MStringArg text, MString* version) {
  const MString document = MString::Adopt(text);
  return version != nullptr && ::ExtractUpdateVersion(document, version);
}

bool GlintBrokerShim::NoOperation(MStringArg ignored) {
  Drop(ignored);
  return false;
}

bool GlintBrokerShim::OpenExpressInstallPage(MWindow* window) {
  const MConfigNode* texts = host_ != nullptr ? host_->GetConfiguration() : nullptr;
  MString url = ConfigValue(FindConfigNodeInTexts(texts, MString(u"ExpressInstallURL")), 0);
  if (url.IsEmpty()) return false;
  return LaunchBrowser(window, url.Give());
}

bool GlintBrokerShim::OpenControlPanelApplet() {
  wchar_t windows[MAX_PATH + 1];
  UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return false;
  MString applet = FromWide(windows, static_cast<int32_t>(length));
  applet.JoinPath(u'\\', MString(u"SysWOW64\\GlintPlayerCPLApp.cpl"));
  if (GetFileAttributesW(W(applet)) == INVALID_FILE_ATTRIBUTES) return false;
  MString commandLine = MString(u"control.exe ") + applet;
  std::wstring mutableLine = W(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return false;
}

bool GlintBrokerShim::IsRealPlayer6() {
  MString version;
  if (ReadRegistryString(HKEY_LOCAL_MACHINE, MString(u"SOFTWARE\\RealNetworks\\RealPlayer"),
                         MString(u"version"), &version) != ERROR_SUCCESS) {
    return false;
  }
  MString major = SpanExcluding(version, ".");
  return StartsWith(major, MString(u"6"));
}

uint32_t GlintBrokerShim::CompareInstalledVersion(uint32_t type) {
  MString installed;
  if (ReadRegistryString(HKEY_LOCAL_MACHINE, PlayerTypeKey(type), MString(u"Version"),
                         &installed) != ERROR_SUCCESS) {
    return kVersionAbsent;
  }
  return CompareWithOwnVersion(installed);
}
bool GlintBrokerShim::WasRegistered() {
  return registered_;
}
