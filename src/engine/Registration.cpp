#include "engine/Registration.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include "broker/server/BrokerServer.h"
#include "engine/HostCallbacks.h"
#include "engine/KeyTableActions.h"
#include "engine/KeyTables.h"
#include "engine/ProductNames.h"
#include "engine/SetupEngine.h"
#include "engine/SetupRules.h"
#include "engine/StatusDetail.h"
#include "engine/VersionCompare.h"
#include "foundation/Registry.h"
#include "foundation/WideText.h"

const char16_t kPluginRegistrationKey[] = u"SOFTWARE\\MozillaPlugins\\@glint.example/GlintPlayer";

namespace {

constexpr uint32_t kDefaultEstimatedSize = 18432;  // KiB

// Writes values into one HKLM key in order; after a failed write (reported)
// the later ones are skipped and Ok() stays false.
class ValueWriter {
 public:
  ValueWriter(HostCallbacks* host, const MString& key) : host_(host), path_(key) {}
  ValueWriter& Dword(const char16_t* name, DWORD value) {
    return Write(name, [&] { return key_.WriteDword(MString(name), value); });
  }
  ValueWriter& String(const char16_t* name, const MString& value) {
    return Write(name, [&] { return key_.WriteString(MString(name), value); });
  }
  bool Ok() const { return ok_; }

 private:
  template <typename Fn>
  ValueWriter& Write(const char16_t* name, Fn write) {
    if (!ok_) return *this;
    LONG error = key_.IsOpen() ? ERROR_SUCCESS : key_.Create(HKEY_LOCAL_MACHINE, path_, KEY_WRITE);
    if (error == ERROR_SUCCESS) error = write();
    if (error != ERROR_SUCCESS) {
      ReportStatus(host_, kStatusError, kStatusWriteFailed,
                   RegistryDetail(path_, MString(name), static_cast<uint32_t>(error), false));
      ok_ = false;
    }
    return *this;
  }
  HostCallbacks* host_;
  MString path_;
  RegKey key_;
  bool ok_ = true;
};

const char16_t* ArpTypeWord(uint32_t type) {
  return type == kPlayerActiveX ? u"ActiveX" : type == kPlayerPlugin ? u"NPAPI" : u"PPAPI";
}
const char16_t* MaintainWord(uint32_t type) {
  return type == kPlayerActiveX ? u"activex" : type == kPlayerPlugin ? u"plugin" : u"pepperplugin";
}

DWORD EstimatedSize(HostCallbacks* host) {
  MString path;
  if (host != nullptr) host->GetOwnPath(&path);
  if (path.IsNull() || path.IsEmpty()) return kDefaultEstimatedSize;
  UniqueHandle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.Get(), &size)) return kDefaultEstimatedSize;
  return static_cast<DWORD>(size.QuadPart / 1024);
}

}  // namespace

bool WriteArpEntry(HostCallbacks* host, uint32_t type, const MString& uninstallerPath) {
  const MString version(kOwnVersion);
  const PlayerVersion parts = ParsePlayerVersion(version);
  const MString site(kMakerWebSite);
  ValueWriter arp(host, MString(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                u"Arvex Glint Player ") +
                            MString(ArpTypeWord(type)));
  arp.String(u"DisplayName", MString(u"Arvex Glint Player ") + FormatNumber(parts.major, 10) +
                                 MString(u" ") + MString(ArpTypeWord(type)) + MString(u" 64-bit"))
      .String(u"Publisher", MString(u"Arvex"))
      .String(u"DisplayVersion", version)
      .String(u"HelpLink", site + MString(u"/go/glintplayer_support/"))
      .Dword(u"NoModify", 1)
      .Dword(u"NoRepair", 1)
      .String(u"RequiresIESysFile", MString(u"4.70.0.1155"))
      .String(u"URLInfoAbout", site)
      .String(u"URLUpdateInfo", site + MString(u"/go/getglintplayer/"))
      .Dword(u"VersionMajor", parts.major)
      .Dword(u"VersionMinor", parts.minor)
      .String(u"UninstallString",
              uninstallerPath + MString(u" -maintain ") + MString(MaintainWord(type)))
      .String(u"DisplayIcon", uninstallerPath);
  if (arp.Ok()) arp.Dword(u"EstimatedSize", EstimatedSize(host));
  return arp.Ok();
}

bool WriteInstallRecord(HostCallbacks* host, const SetupEngine& engine, const MString& playerPath,
                        const MString& uninstallerPath, uint32_t type) {
  const uint32_t flags = host != nullptr ? host->GetHostFlags() : 0;
  const uint32_t vector = host != nullptr ? host->GetInstallVector() : 0;
  ValueWriter record(host, PlayerTypeKey(type));
  record.String(u"Version", MString(kOwnVersion))
      .String(u"PlayerPath", playerPath)
      .String(u"UninstallerPath", uninstallerPath)
      .Dword(u"isScriptDebugger", (flags & kHostFlagOrdinaryBuild) ? 0 : 1)
      .Dword(u"ArvexGlintPlayerInstalled", 1)
      .Dword(u"isESR", 0);
  bool ok = record.Ok();
  if (ok) {
    record.Dword(u"isMSI", vector == 2 ? 1 : 0);
    ValueWriter release(host, ReleaseTypeKey(type));
    if (record.Ok()) release.Dword(u"Release", 1);
    if (release.Ok()) record.Dword(u"isPartner", 1);
    ok = record.Ok() && release.Ok();
  }
  if (ok && type == kPlayerActiveX) {
    ok = ValueWriter(host, MString(u"SOFTWARE\\Microsoft\\Internet Explorer\\ActiveX "
                                   u"Compatibility\\") +
                               FromUtf8(kControlClassId))
             .Dword(u"Compatibility Flags", 0)
             .Ok();
  }
  const MStringList* keep = engine.KeepList(type);
  for (MStringList::MStringNode* node = keep != nullptr ? keep->Head() : nullptr; node != nullptr;
       node = node->next) {
    if (!EndsWith(node->key, MString(u".exe"))) continue;
    ValueWriter(host, MString(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File "
                              u"Execution Options\\") +
                          node->key)
        .Dword(u"DisableExceptionChainValidation", 0);
  }
  return ok;
}

bool RegisterPluginEntry(HostCallbacks* host, const MString& path) {
  const MString name =
      MString(u"Arvex\u00AE Glint\u00AE Player ") + MString(kOwnVersion) + MString(u" Plugin");
  ValueWriter(host, MString(kPluginRegistrationKey))
      .String(u"Path", path)
      .String(u"ProductName", name)
      .String(u"Vendor", MString(u"Arvex"))
      .String(u"Description", name)
      .String(u"Version", MString(kOwnVersion));
  return true;
}

bool RegisterControlFile(HostCallbacks* host, const MString& path, void (*repair)(void*),
                         void* context) {
  UniqueModule control(LoadLibraryW(W(path)));
  if (!control) {
    ReportStatus(host, kStatusAtRestart, kStatusControlNotLoaded,
                 PathWithHexError(path, GetLastError()));
    return false;
  }
  using RegisterFn = HRESULT(STDAPICALLTYPE*)();
  auto registerServer = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(GetProcAddress(control.Get(), "DllRegisterServer")));
  if (registerServer == nullptr) {
    ReportStatus(host, kStatusAtRestart, kStatusControlNoEntry,
                 PathWithHexError(path, GetLastError()));
    return false;
  }
  HRESULT result = registerServer();
  if (SUCCEEDED(result)) return true;
  ReportStatus(host, kStatusError, kStatusControlRefused,
               PathWithHexError(path, static_cast<uint32_t>(result)));
  repair(context);
  result = registerServer();
  if (SUCCEEDED(result)) return true;
  ReportStatus(host, kStatusAtRestart, kStatusControlRefused,
               PathWithHexError(path, static_cast<uint32_t>(result)));
  return false;
}

MString RegisteredControlFile() {
  const std::string key =
      std::string("Software\\Classes\\CLSID\\") + kControlClassId + "\\InprocServer32";
  char path[MAX_PATH * 3 + 1] = {};
  DWORD size = sizeof path - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) !=
      ERROR_SUCCESS) {
    return MString(u"");
  }
  return FromUtf8(path);
}

void UnregisterControlFile(const MString& file) {
  LockRegistration(KeyTable::kControlMachine, false);
  LockFile(file, false);
  UniqueModule control(LoadLibraryW(W(file)));
  using UnregisterFn = HRESULT(STDAPICALLTYPE*)();
  auto unregister = control ? reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(
                                  GetProcAddress(control.Get(), "DllUnregisterServer")))
                            : nullptr;
  if (unregister != nullptr) unregister();
  control.Reset();
  DeleteRegistrationKeys(false, true);
}

bool UnregisterControl(bool removeSafeVersions) {
  const MString file = RegisteredControlFile();
  if (!file.IsEmpty()) UnregisterControlFile(file);
  if (removeSafeVersions) SHDeleteKeyW(HKEY_LOCAL_MACHINE, W(MString(kSafeVersionsKey)));
  return !file.IsEmpty();
}

bool UnregisterBroker() {
  const MString broker = RegisteredBrokerExecutable();
  if (broker.IsEmpty()) return false;
  LockRegistration(KeyTable::kBroker, false);
  LockFile(broker, false);
  WriteBrokerRegistration(broker, false);
  DeleteRegistrationKeys(true, false);
  return true;
}

namespace {

// Starts the installer's removal of one product through the shell and waits
// for it; false when the product is in neither registry view.
bool RemoveMsiProduct(const SetupEngine& engine, const MString& dir, const MString& guid) {
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, engine.uninstallKey + guid) != ERROR_SUCCESS &&
      key.Open(HKEY_LOCAL_MACHINE, engine.uninstallKey32 + guid) != ERROR_SUCCESS) {
    return false;
  }
  const bool separated = !dir.IsEmpty() && dir[dir.Length() - 1] == u'\\';
  const MString program = dir + MString(separated ? u"" : u"\\") + MString(u"msiexec.exe");
  const MString parameters = MString(u"/q /X ") + guid;
  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS;
  run.hwnd = GetForegroundWindow();
  run.lpFile = W(program);
  run.lpParameters = W(parameters);
  run.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&run)) return false;
  UniqueHandle process(run.hProcess);
  if (process) WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

}  // namespace

bool RemoveArpEntries(const SetupEngine& engine, const MString& dir, uint32_t type) {
  const MString arp(
      u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Arvex Glint Player ");
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, W(arp + MString(ArpTypeWord(type))));
  const MStringList& guids = type == kPlayerActiveX  ? engine.arpGuidsActiveX
                             : type == kPlayerPlugin ? engine.arpGuidsPlugin
                                                     : engine.arpGuidsPepper;
  if (guids.Count() == 0) return false;
  // Only product codes reach the installer: anything else in the list would
  // name another key and another command line.
  for (const auto& node : guids) {
    if (IsProductCode(node.key)) RemoveMsiProduct(engine, dir, node.key);
  }
  // The older entry of the plugin types, named by the type.
  if (type != kPlayerActiveX)
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, W(arp + MString(PlayerTypeSuffix(type))));
  return true;
}
