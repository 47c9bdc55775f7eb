#include "engine/Uninstall.h"

#include <windows.h>

#include <shlwapi.h>

#include "engine/DeleteTree.h"
#include "engine/GlintBrokerShim.h"
#include "engine/HostCallbacks.h"
#include "engine/KeyTableActions.h"
#include "engine/KeyTables.h"
#include "engine/ProductNames.h"
#include "engine/Registration.h"
#include "engine/ServiceController.h"
#include "engine/SetupRules.h"
#include "broker/server/BrokerServer.h"
#include "engine/SetupEngine.h"
#include "engine/StatusDetail.h"
#include "foundation/Registry.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr uint32_t kFlagCheckInUse = 512;

// A REG_SZ value; anything else counts as missing.
MString ReadText(HKEY root, const MString& key, const char16_t* name) {
  MString value;
  RegKey opened;
  DWORD type = 0;
  if (opened.Open(root, key) != ERROR_SUCCESS ||
      RegQueryValueExW(opened.Get(), W(MString(name)), nullptr, &type, nullptr, nullptr) !=
          ERROR_SUCCESS ||
      type != REG_SZ || opened.ReadString(MString(name), &value) != ERROR_SUCCESS) {
    return MString();
  }
  return value;
}

// Deletes a key with its subtree, or one value; a failure (a missing entry
// included) is reported.
bool Delete(HostCallbacks* host, HKEY root, const MString& key, const char16_t* value = nullptr) {
  LONG error = value != nullptr ? RegDeleteKeyValueW(root, W(key), W(MString(value)))
                                : SHDeleteKeyW(root, W(key));
  if (error == ERROR_SUCCESS) return true;
  ReportStatus(
      host, kStatusError, kStatusDeleteFailed,
      RegistryDetail(key, MString(value != nullptr ? value : u""), static_cast<uint32_t>(error)));
  return false;
}

UniqueHandle Open(const MString& path, DWORD access) {
  return UniqueHandle(CreateFileW(W(path), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

uint32_t RemovePlayerFile(GlintBrokerShim* shim, const MString& path, uint32_t type) {
  HostCallbacks* host = shim->Host();
  // Absent: it cannot be opened for reading, for any reason but a refusal.
  if (!Open(path, GENERIC_READ) && GetLastError() != ERROR_ACCESS_DENIED) return 0;
  uint32_t error = DeleteFileInPlaceError(path, false);
  if (error == 0) return 0;
  // Both reports carry the first error.
  const MString detail = PathWithHexError(path, error);
  if (error != ERROR_FILE_NOT_FOUND) {
    ReportStatus(host, kStatusError, kStatusFileNotDeleted, detail);
    if (type == kPlayerActiveX) {
      shim->RepairControlPermissions();
    } else {
      ReportStatus(host, kStatusProgress, kStatusUnlockingFile, path);
      LockFile(path, false);
    }
    error = DeleteFileInPlaceError(path, true);
  }
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    const SetupEngine* engine = shim->GetEngine();
    const MStringList* keep = engine != nullptr ? engine->KeepList(type) : nullptr;
    const bool kept = keep != nullptr && host != nullptr && host->IsInteractive() &&
                      EndsWithListedName(path, *keep);
    if (!kept && ScheduleDeleteAtRestart(host, path)) {
      ReportStatus(host, kStatusAtRestart, kStatusDeletedAtRestart, path);
    }
  }
  if (error != 0) ReportStatus(host, kStatusError, kStatusFileNotDeleted, detail);
  return error;
}

bool ScheduleDeleteAtRestart(HostCallbacks* host, const MString& path) {
  // The restart deletes by name: a link there would take its target.
  if (!LiesInPlace(path) && GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES) {
    ReportStatus(host, kStatusError, kStatusRestartFailed,
                 PathWithDecimalError(path, ERROR_CANT_RESOLVE_FILENAME));
    return false;
  }
  RegKey key;
  if (key.Create(HKEY_LOCAL_MACHINE,
                 MString(u"SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
                 KEY_SET_VALUE) == ERROR_SUCCESS) {
    key.WriteDword(MString(u"AllowProtectedRenames"), 1);
  }
  if (MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
  ReportStatus(host, kStatusError, kStatusRestartFailed,
               PathWithDecimalError(path, GetLastError()));
  return false;
}

uint32_t CheckFileInUse(GlintBrokerShim* shim, uint32_t flags, const MString& path) {
  ReportStatus(shim->Host(), kStatusProgress, kStatusCheckingInUse, path);
  if (!(flags & kFlagCheckInUse)) return 0;
  if (GetFileAttributesW(W(path)) == INVALID_FILE_ATTRIBUTES) return 0;
  if (Open(path, GENERIC_WRITE)) return 0;
  UniqueHandle reading = Open(path, GENERIC_READ);
  if (!reading) return 0;
  LARGE_INTEGER size = {};
  GetFileSizeEx(reading.Get(), &size);
  if (size.QuadPart != 0) return 1;
  ReportStatus(shim->Host(), kStatusError, kStatusEmptyFileHeld, path);
  return 2;
}

InstallRecord ReadInstallRecord(GlintBrokerShim* shim, uint32_t type, bool fallBack) {
  InstallRecord record;
  const MString key = PlayerTypeKey(type);
  record.player = ReadText(HKEY_LOCAL_MACHINE, key, u"PlayerPath");
  record.found = !record.player.IsNull();
  if (type == kPlayerActiveX && !EndsWith(record.player, MString(u"Glint.ocx"))) {
    record.uninstaller = ReadText(HKEY_LOCAL_MACHINE, key, u"UninstallerPath");
    record.found = record.found && !record.uninstaller.IsNull();
  }
  if (record.found || !fallBack) return record;
  ReportStatus(shim != nullptr ? shim->Host() : nullptr, kStatusError, kStatusRecordMissing);
  if (type == kPlayerActiveX) {
    record.player = RegisteredControlFile();
    record.uninstaller = RegisteredBrokerExecutable();
  } else if (type == kPlayerPlugin) {
    record.player = ReadText(HKEY_LOCAL_MACHINE, MString(kPluginRegistrationKey), u"Path");
  }
  return record;
}

bool RemoveInstalledMarker(uint32_t type) {
  const MString key = PlayerTypeKey(type);
  const bool deleted = SHDeleteKeyW(HKEY_LOCAL_MACHINE, W(key)) == ERROR_SUCCESS;
  if (type != kPlayerActiveX || !deleted) return deleted;
  RegKey marker;
  return marker.Create(HKEY_LOCAL_MACHINE, key, KEY_SET_VALUE) == ERROR_SUCCESS &&
         marker.WriteDword(MString(u"ArvexGlintPlayerInstalled"), 0) == ERROR_SUCCESS;
}

bool CleanTypeRegistry(GlintBrokerShim* shim, uint32_t type) {
  HostCallbacks* host = shim->Host();
  const MString player(kPlayerKey);
  bool ok = Delete(host, HKEY_CURRENT_USER,
                   MString(u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"),
                   u"GlintPlayerUpdate");
  ok &= Delete(host, HKEY_CURRENT_USER, PlayerTypeKey(type));
  ok &= Delete(host, HKEY_CURRENT_USER, player, u"GlintPlayerVersion");
  ok &= Delete(host, HKEY_CURRENT_USER, player, u"GmvInstall");
  ok &= Delete(host, HKEY_CURRENT_USER, MString(u"Software\\Kestrelink"));
  ok &= Delete(host, HKEY_LOCAL_MACHINE, ReleaseTypeKey(type));
  if (type == kPlayerActiveX) {
    ok &= Delete(host, HKEY_LOCAL_MACHINE,
                 MString(u"Software\\Microsoft\\Code Store Database\\Distribution Units\\") +
                     FromUtf8(kControlClassId));
  } else {
    Delete(host, HKEY_LOCAL_MACHINE,
           MString(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arvex Glint "
                   u"Player ") +
               MString(PlayerTypeSuffix(type)));
  }
  DWORD marker = 0;
  const bool controlInstalled =
      ReadRegistryDword(HKEY_LOCAL_MACHINE, MString(u"SOFTWARE\\Kestrelink\\GlintPlayerActiveX"),
                        MString(u"ArvexGlintPlayerInstalled"), &marker) == ERROR_SUCCESS;
  const bool late = host != nullptr && host->GetWindowsGeneration() >= 3;
  ok &= Delete(host, HKEY_LOCAL_MACHINE,
               MString(late && controlInstalled ? kPlayerKey : u"Software\\Kestrelink"));
  return ok;
}

bool RemoveSharedUtilityFile(GlintBrokerShim* shim, const MString& path) {
  for (uint32_t type : {kPlayerActiveX, kPlayerPlugin, kPlayerPepper}) {
    if (ReadInstallRecord(shim, type, false).found) return true;
  }
  if (GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES && !DeleteFileInPlace(path)) {
    return false;
  }
  if (!EndsWith(path, MString(u".exe"))) return true;
  const MString name = LastName(path);
  const MString options =
      MString(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\") +
      name;
  if (SHDeleteKeyW(HKEY_LOCAL_MACHINE, W(options)) != ERROR_SUCCESS) return false;
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  const bool vista = VerifyVersionInfoW(
      &version, VER_MAJORVERSION, VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL));
  const MString category =
      MString(
          u"Software\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\") +
      MString(vista ? u"System.ControlPanel.Category" : u"{2CA4F306-B280-4ab2-B5E1-1DFA3583F046}");
  MString utility;
  if (shim->Host() != nullptr) shim->Host()->GetUtilityFileName(&utility);
  MString folder = Wow64SystemFolder();
  if (folder.IsNull() || folder.IsEmpty()) folder = SystemFolder();
  const MString value = folder + MString(u"\\") + utility;
  return RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, W(category), W(value)) == ERROR_SUCCESS;
}

bool UninstallAssistant(GlintBrokerShim* shim) {
  // The value names one file; surrounding quotes go.
  const MString command = StripSurroundingQuotes(
      ReadText(HKEY_CURRENT_USER,
               MString(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GlintAssistant"),
               u"UninstallString"));
  if (command.IsNull() || command.IsEmpty() || shim->Host() == nullptr ||
      GetFileAttributesW(W(command)) == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  uint32_t exitCode = 0, error = 0;
  shim->Host()->RunProgram(0, command.Give(), MString(u"/UnInstallType=1").Give(), &exitCode,
                           &error);
  return true;
}

bool HasInstallRecord(uint32_t type) {
  return ReadInstallRecord(nullptr, type, false).found;
}

namespace {

// A file (not a folder) at the path.
bool Present(const MString& path) {
  const DWORD attributes = path.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int32_t Generation(HostCallbacks* host) {
  return host != nullptr ? host->GetWindowsGeneration() : 3;
}

}  // namespace

void DeleteOptionsKey(const MString& program) {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE,
               W(MString(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File "
                         u"Execution Options\\") +
                 LastName(program)));
}

bool PathExists(const MString& path) {
  if (Open(path, GENERIC_READ)) return true;
  return GetLastError() == ERROR_ACCESS_DENIED;
}

bool RemoveUpdateService(HostCallbacks* host, const MString& path, bool setNotify) {
  if (!Present(path)) return true;
  const ServiceController update = UpdateServiceController(host, path);
  bool result = setNotify ? update.SetUpdateMode(1) : update.RunCommand(MString(u"-uninstall"));
  if (!DeleteFileInPlace(path)) result = false;
  DeleteOptionsKey(path);
  return result;
}

bool RemoveSystemUpdateService(HostCallbacks* host, const MString& systemDir) {
  if (host != nullptr && (host->GetHostFlags() & kHostFlagOrdinaryBuild)) return true;
  MString name;
  if (host != nullptr) host->GetUpdateServiceFileName(&name);
  if (RemoveUpdateService(host, systemDir + MString(u"\\Kestreli\\Glint\\") + name, true)) {
    return true;
  }
  ReportStatus(host, kStatusError, kStatusUpdateServiceKept);
  return false;
}

bool RemoveFeedbackService(HostCallbacks* host, const MString& feedbackPath,
                           const MString& updatePath, bool forced) {
  if (!forced) {
    const bool plugin = HasInstallRecord(kPlayerPlugin);
    if (Generation(host) < 3 ? plugin || HasInstallRecord(kPlayerActiveX) : plugin) return true;
  }
  if (!Present(feedbackPath)) {
    if (host != nullptr && host->WantsAnalytics() && Present(updatePath) &&
        host->GetInstallVector() != 2) {
      UpdateServiceController(host, updatePath).EnableAnalytics();
    }
    return true;
  }
  const ServiceController feedback(host, feedbackPath, MString(u"ArvexGlintPlayerFeedbackSvc"),
                                   MString(u"Arvex Glint Player Feedback Service"));
  if (!feedback.StopService()) ReportStatus(host, kStatusError, kStatusStopRefused);
  feedback.UninstallService();
  const uint32_t error = DeleteFileInPlaceError(feedbackPath, false);
  if (error == 0) return true;
  ReportStatus(host, kStatusError, kStatusFeedbackKept, MString(u" ") + HexError(error));
  return false;
}

bool RemoveHelperService(HostCallbacks* host, const MString& path, bool skipPartnerCheck) {
  bool partner = false;
  if (!skipPartnerCheck) {
    for (uint32_t type : {kPlayerActiveX, kPlayerPlugin, kPlayerPepper}) {
      if (!HasInstallRecord(type)) continue;
      if (type == kPlayerActiveX && Generation(host) >= 3) continue;
      DWORD value = 0;
      partner |= ReadRegistryDword(HKEY_LOCAL_MACHINE, PlayerTypeKey(type), MString(u"isPartner"),
                                   &value) == ERROR_SUCCESS &&
                 value == 1;
    }
    MString folder = path;
    SplitAtLast(folder, "\\/");
    const MString uninstaller = folder + MString(u"\\HelperUninstall.exe");
    if (Present(uninstaller) && host != nullptr) {
      uint32_t exitCode = 0, error = 0;
      host->RunProgram(0, uninstaller.Give(), MString(u"-s").Give(), &exitCode, &error);
      return true;
    }
  }
  if (partner) return true;
  const ServiceController helper(host, path, MString(u"Glint Helper Service"),
                                 MString(u"Glint Helper Service"));
  bool result = helper.StopService() && helper.UninstallService();
  if (!DeleteFileInPlace(path)) {
    if (ScheduleDeleteAtRestart(host, path)) {
      ReportStatus(host, kStatusAtRestart, kStatusDeletedAtRestart, path);
    }
    result = false;
  }
  return result;
}
