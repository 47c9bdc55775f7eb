// glinthost: the reference host. Loads GlintUtil.dll from its own folder,
// calls Start with a ReferenceHost and runs one command through the shim.
//
//   glinthost [--config FILE]... [COMMAND]
#include <windows.h>

#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "GlintLibrary.h"
#include "ReferenceHost.h"
#include "engine/KeyTables.h"
#include "engine/ServiceController.h"
#include "engine/SetupEngine.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"
#include "ui/ZavuzER.h"
#include "update/NotifierTask.h"

namespace {

void Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
}

void Usage() {
  Print(
      "usage: glinthost [--config FILE]... [COMMAND]\n"
      "commands:\n"
      "  info                       engine version, product codes, host configuration\n"
      "  string ID [fallback]       localised string ID (asking the host when missing)\n"
      "  release-type MASK TYPE     whether MASK's release-type key allows TYPE\n"
      "  installable MASK TYPE      whether the types in MASK may be installed\n"
      "  compare-version TYPE       installed version of TYPE against this build\n"
      "  uac                        whether UAC is enabled\n"
      "  profiles-root              the folder that holds the user profiles\n"
      "  reparse PATH               whether PATH or an ancestor is a reparse point\n"
      "  file-lists                 load and show the engine's file lists\n"
      "  find-browser               path of a running browser\n"
      "  launch-browser URL         open URL in a browser\n"
      "  express-install            open the configured express install page\n"
      "  control-panel              open the control-panel applet when installed\n"
      "  real-player6               whether RealPlayer 6 is installed\n"
      "  refresh-ie-policy          refresh the browser's elevation policy\n"
      "  register TYPE PLAYER [UNINSTALLER] [no-arp]\n"
      "                             register a player type; UNINSTALLER (default: this\n"
      "                             program) also serves the broker for the control type\n"
      "  prepare-uninstall TYPE DIR [safe-versions]  take back the type's registration\n"
      "  uninstall TYPE DIR [safe-versions]  remove an installed player type; DIR holds\n"
      "                             the shared utility files\n"
      "  repair-permissions         repair the control's registry and file permissions\n"
      "  remove-files MASK DIR      remove the listed player files (DIR and plugin folders)\n"
      "  remove-named NAME PATH     remove one player file by its name's kind\n"
      "  remove-patterns MASK DIR   remove the product folder's files by pattern\n"
      "  remove-user-data           remove every profile's player data\n"
      "  conflicts MASK             running applications that hold the player files\n"
      "  record-conflicts MASK      store their names for the setup; clear-conflicts removes them\n"
      "  update-mode MODE EXE       run the update service program EXE's commands for MODE\n"
      "  register-task TYPE PROGRAM ARGS  register the type's update notifier task\n"
      "  delete-task TYPE           delete the type's update notifier task\n"
      "  lock-registration [EXE]    register EXE (default: this program) as the broker's\n"
      "                             server, its keys and file locked as an install leaves them\n"
      "  register-broker            the same for this program\n"
      "  unregister-broker          remove the broker's registration\n"
      "  check-update TYPE VECTOR ERR WERR  send the update check for a player type\n"
      "  offered-version            version of the update offer the broker stored\n"
      "  notice                     notice content of the stored offer, parsed\n"
      "  reject-offer               turn the stored offer down\n"
      "  parse-notice FILE          version and parsed notice content of an offer document\n"
      "  setup-window MODE          show the setup window: installer, uninstaller,\n"
      "                             maintenance, update-notice or a panel number; prints\n"
      "                             each notification and the exit code\n"
      "  -Embedding                 run the broker server (COM starts the host so)\n"
      "  help                       this text\n"
      "MASK and TYPE: activex, plugin, pepper, a '+' joined mask of them, or a number\n");
}

std::string WindowsVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return "unknown";
#pragma GCC diagnostic pop
  return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

int Info(GlintBrokerShim* shim, const ReferenceHost& host) {
  SetupEngine* engine = shim->GetEngine();
  Print("engine version: " + ToUtf8(engine->ownVersion) + "\n");
  Print("windows version seen by the host: " + WindowsVersion() + "\n");
  Print("uninstall key: " + ToUtf8(engine->uninstallKey) + "\n");
  Print("uninstall key (32-bit view): " + ToUtf8(engine->uninstallKey32) + "\n");
  for (const MString& code : engine->productCodes) Print("product code: " + ToUtf8(code) + "\n");
  Print("host configuration:\n");
  int index = 0;
  for (const MConfigNode* text = host.Configuration(); text != nullptr; text = text->next) {
    Print("  text " + std::to_string(index++) + ":\n");
    Print(DescribeConfiguration(text->children, 2));
  }
  return 0;
}

uint32_t ParseTypes(const MString& text) {
  MString rest = ToLowerAscii(text);
  uint32_t mask = 0;
  while (!rest.IsEmpty()) {
    MString part = TakeSpan(rest, "+", SpanMode::Excluding);
    if (!rest.IsEmpty()) rest.Consume(1);
    if (Equals(part, MString(u"activex"))) {
      mask |= kPlayerActiveX;
    } else if (Equals(part, MString(u"plugin"))) {
      mask |= kPlayerPlugin;
    } else if (Equals(part, MString(u"pepper"))) {
      mask |= kPlayerPepper;
    } else {
      mask |= ParseUnsigned(part);
    }
  }
  return mask;
}

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

void PrintList(const char* title, const MStringList* list) {
  Print(std::string(title) + " (" + std::to_string(list->Count()) + "):");
  for (const auto& node : *list) Print(" " + ToUtf8(node.key));
  Print("\n");
}

int FileLists(GlintBrokerShim* shim) {
  bool complete = shim->LoadFileLists();
  Print(std::string("every key and folder present: ") + YesNo(complete) + "\n");
  SetupEngine* e = shim->GetEngine();
  PrintList("ARP GUIDs, ActiveX", &e->arpGuidsActiveX);
  PrintList("ARP GUIDs, plugin", &e->arpGuidsPlugin);
  PrintList("ARP GUIDs, Pepper", &e->arpGuidsPepper);
  PrintList("file names, ActiveX", shim->GetActiveXFileNames());
  PrintList("file names, plugin", shim->GetPluginFileNames());
  PrintList("file patterns, ActiveX", shim->GetActiveXFilePatterns());
  PrintList("file patterns, plugin", shim->GetPluginFilePatterns());
  PrintList("file patterns, Pepper", shim->GetPepperFilePatterns());
  PrintList("system folder listing", &e->systemFolderListing);
  PrintList("product folder patterns", shim->GetProductFolderPatterns());
  PrintList("per-user bin listing", shim->GetUserBinListing());
  PrintList("other file patterns", shim->GetOtherFilePatterns());
  return complete ? 0 : 1;
}

const char* VersionOrderName(uint32_t order) {
  switch (order) {
    case 0:
      return "not installed";
    case 1:
      return "older than this build";
    case 2:
      return "this build";
    default:
      return "newer than this build";
  }
}

MString OwnPath(const ReferenceHost& host) {
  MString self;
  const_cast<ReferenceHost&>(host).GetOwnPath(&self);
  return self;
}

// The notice entry a notice operation put in front of the list, then the list freed.
int PrintNotice(bool found, MConfigNode* texts) {
  MConfigList owned(texts);
  if (!found) {
    Print("no notice content\n");
    return 1;
  }
  Print("notice content:\n" + DescribeConfiguration(texts->children, 1));
  return 0;
}

// The file's bytes as UTF-8 text; false when it cannot be read.
bool ReadUtf8File(const MString& path, MString* text) {
  UniqueHandle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got != 0) {
    bytes.append(chunk, got);
  }
  *text = FromUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

// Runs one command; 2 for bad usage.
// The setup window's notifications: printed, answered from the
// configuration ("HostFlags" for the player kinds; "FailInstall CODE" turns
// the install request into a failure report).
struct SetupSession {
  ReferenceHost* host;
};

intptr_t SetupNotify(ZavuzER* ui, int32_t code, intptr_t value, void* context) {
  auto* session = static_cast<SetupSession*>(context);
  ReferenceHost* host = session->host;
  if (code == 6 && value != 0) {
    *reinterpret_cast<uint32_t*>(value) = host->GetHostFlags();
    value = static_cast<intptr_t>(host->GetHostFlags());
  }
  std::printf("notify code=%d value=%lld\n", code, static_cast<long long>(value));
  std::fflush(stdout);
  const MString fail = host->Text(u"FailInstall");
  if (code == 2 && !fail.IsEmpty()) {
    host->ErrorLog().Add(2, ParseUnsigned(fail), MString(u""));
    ui->PostEvent(4, 8, 0);
  }
  return 0;
}

int SetupWindow(GlintBrokerShim* shim, ReferenceHost& host, const MString& mode) {
  int32_t panel = -1;
  const char16_t* names[] = {u"installer", u"uninstaller", u"maintenance", u"update-notice"};
  for (int32_t i = 0; i < 4; ++i) {
    if (Equals(mode, MString(names[i]))) panel = i;
  }
  if (panel < 0) panel = static_cast<int32_t>(ParseUnsigned(mode));
  host.LoadErrorLog();
  ZavuzER* ui = shim->CreateSetupWindow();
  if (ui == nullptr) {
    std::fprintf(stderr, "glinthost: no setup window\n");
    return 1;
  }
  SetupSession session{&host};
  ui->SetNotifyCallback(&SetupNotify, &session);
  // The maintenance panel neither sizes nor shows the window: the uninstaller
  // splash does both first.
  if (panel == 2) ui->PostEvent(3, 6, 1);
  ui->PostEvent(3, 6, panel);
  // Further events for tests: "SOURCE KIND VALUE" each.
  const MConfigNode* events = FindConfigNodeInTexts(host.Configuration(), MString(u"SetupEvents"));
  for (uint32_t i = 0; i < ConfigValueCount(events); ++i) {
    const std::string event = ToUtf8(ConfigValue(events, i));
    int source = 0, kind = 0;
    long long value = 0;
    if (std::sscanf(event.c_str(), "%d %d %lld", &source, &kind, &value) == 3) {
      ui->PostEvent(source, kind, static_cast<intptr_t>(value));
    }
  }
  const int32_t code = ui->Run();
  std::printf("exit code=%d\n", code);
  std::fflush(stdout);
  shim->DestroySetupWindow(ui);
  return 0;
}

int RunCommand(GlintBrokerShim* shim, ReferenceHost& host, const std::vector<MString>& args) {
  const MString& command = args[0];
  auto is = [&](const char16_t* name, size_t arity) {
    return Equals(command, MString(name)) && args.size() >= arity + 1;
  };
  auto arg = [&](size_t i) { return i < args.size() ? args[i] : MString(u""); };
  if (is(u"info", 0)) return Info(shim, host);
  if (is(u"string", 1)) {
    MString text;
    shim->LoadLocalizedString(&text, ParseUnsigned(arg(1)), args.size() > 2);
    Print(ToUtf8(text) + "\n");
    return 0;
  }
  if (is(u"release-type", 2)) {
    bool allowed = shim->IsReleaseType(ParseTypes(arg(1)), ParseUnsigned(arg(2)));
    Print(std::string("release type matches: ") + YesNo(allowed) + "\n");
    return allowed ? 0 : 1;
  }
  if (is(u"installable", 2)) {
    uint32_t error = 0;
    bool installable = shim->CheckInstallable(ParseTypes(arg(1)), &error, ParseUnsigned(arg(2)));
    Print(std::string("installable: ") + YesNo(installable));
    if (!installable) Print(" (error " + std::to_string(error) + ")");
    Print("\n");
    return installable ? 0 : 1;
  }
  if (is(u"compare-version", 1)) {
    uint32_t order = shim->CompareInstalledVersion(ParseTypes(arg(1)));
    Print(ToUtf8(arg(1)) + ": " + std::to_string(order) + " (" + VersionOrderName(order) + ")\n");
    return 0;
  }
  if (is(u"uac", 0)) {
    Print(std::string("UAC enabled: ") + YesNo(shim->IsUacEnabled()) + "\n");
    return 0;
  }
  if (is(u"profiles-root", 0)) {
    char16_t buffer[MAX_PATH] = {};
    shim->GetProfilesRoot(buffer);
    Print("profiles root: " + ToUtf8(MString(buffer)) + "\n");
    return 0;
  }
  if (is(u"reparse", 1)) {
    bool reparse = shim->PathHasReparsePoint(arg(1).Give());
    Print(std::string("reparse point on the path: ") + YesNo(reparse) + "\n");
    return 0;
  }
  if (is(u"file-lists", 0)) return FileLists(shim);
  if (is(u"find-browser", 0)) {
    bool found = shim->FindBrowser();
    Print(std::string("browser found: ") + YesNo(found) + "\n");
    return found ? 0 : 1;
  }
  if (is(u"launch-browser", 1)) {
    bool opened = shim->LaunchBrowser(nullptr, arg(1).Give());
    Print(std::string("opened: ") + YesNo(opened) + "\n");
    return opened ? 0 : 1;
  }
  if (is(u"express-install", 0)) {
    bool opened = shim->OpenExpressInstallPage(nullptr);
    Print(std::string("opened: ") + YesNo(opened) + "\n");
    return opened ? 0 : 1;
  }
  if (is(u"control-panel", 0)) {
    shim->OpenControlPanelApplet();
    return 0;
  }
  if (is(u"real-player6", 0)) {
    Print(std::string("RealPlayer 6 installed: ") + YesNo(shim->IsRealPlayer6()) + "\n");
    return 0;
  }
  if (is(u"register", 2)) {
    const bool arp = !Equals(arg(args.size() - 1), MString(u"no-arp"));
    MString uninstaller = args.size() > (arp ? 3u : 4u) ? arg(3) : OwnPath(host);
    bool registered =
        shim->RegisterPlayer(ParseTypes(arg(1)), arg(2).Give(), uninstaller.Give(), 0, arp);
    Print(std::string("registered: ") + YesNo(registered) + "\n");
    return registered ? 0 : 1;
  }
  if (is(u"prepare-uninstall", 2)) {
    const bool safeVersions = Equals(arg(3), MString(u"safe-versions"));
    bool prepared = shim->PrepareUninstall(ParseTypes(arg(1)), arg(2).Give(), safeVersions);
    Print(std::string("prepared: ") + YesNo(prepared) + "\n");
    return prepared ? 0 : 1;
  }
  if (is(u"uninstall", 2)) {
    const bool safeVersions = Equals(arg(3), MString(u"safe-versions"));
    uint32_t code = 0;
    bool removed =
        shim->UninstallPlayer(ParseTypes(arg(1)), arg(2).Give(), safeVersions, false, false, &code);
    Print(std::string("uninstalled: ") + YesNo(removed) + " (player file error " +
          std::to_string(code) + ")\n");
    return removed ? 0 : 1;
  }
  if (is(u"update-mode", 2)) {
    const bool set = UpdateServiceController(const_cast<ReferenceHost*>(&host), arg(2))
                         .SetUpdateMode(ParseUnsigned(arg(1)));
    Print(std::string("update mode set: ") + YesNo(set) + "\n");
    return set ? 0 : 1;
  }
  if (is(u"register-task", 3)) {
    const bool registered =
        RegisterNotifierTask(arg(2), arg(3), const_cast<ReferenceHost*>(&host), ParseTypes(arg(1)));
    Print(std::string("task registered: ") + YesNo(registered) + "\n");
    return registered ? 0 : 1;
  }
  if (is(u"delete-task", 1)) {
    const bool deleted = DeleteNotifierTask(const_cast<ReferenceHost*>(&host), ParseTypes(arg(1)));
    Print(std::string("task deleted: ") + YesNo(deleted) + "\n");
    return deleted ? 0 : 1;
  }
  if (is(u"remove-files", 2) || is(u"remove-patterns", 2)) {
    const bool listed = Equals(command, MString(u"remove-files"));
    shim->LoadFileLists();
    const bool done = listed ? shim->RemoveListedFiles(ParseTypes(arg(1)), arg(2).Give())
                             : shim->RemoveFilesByPattern(ParseTypes(arg(1)), arg(2).Give());
    Print(std::string("removed: ") + YesNo(done) + "\n");
    return done ? 0 : 1;
  }
  if (is(u"remove-named", 2)) {
    shim->RemoveNamedFile(arg(1).Give(), arg(2).Give());
    return 0;
  }
  if (is(u"remove-user-data", 0)) {
    shim->RemovePerUserData();
    return 0;
  }
  if (is(u"conflicts", 1)) {
    std::unique_ptr<MStringList> found(shim->FindConflictingProcesses(ParseTypes(arg(1))));
    if (found == nullptr) {
      Print("the process list cannot be read\n");
      return 1;
    }
    Print("conflicting applications (" + std::to_string(found->Count()) + "):\n");
    for (const auto& node : *found)
      Print("  " + ToUtf8(node.value) + " (" + ToUtf8(node.key) + ")\n");
    return 0;
  }
  if (is(u"record-conflicts", 1)) {
    const bool recorded = shim->RecordConflictingProcesses(ParseTypes(arg(1)));
    Print(std::string("recorded: ") + YesNo(recorded) + "\n");
    return recorded ? 0 : 1;
  }
  if (is(u"clear-conflicts", 0)) {
    const bool cleared = shim->ClearConflictingProcesses();
    Print(std::string("cleared: ") + YesNo(cleared) + "\n");
    return cleared ? 0 : 1;
  }
  if (is(u"repair-permissions", 0)) {
    shim->RepairControlPermissions();
    return 0;
  }
  if (is(u"lock-registration", 0) || is(u"register-broker", 0)) {
    MString server = args.size() > 1 && is(u"lock-registration", 1) ? arg(1) : OwnPath(host);
    Print("broker registered and locked: " + ToUtf8(server) + "\n");
    shim->PrepareRegistration(server.Give(), kPlayerActiveX);
    return 0;
  }
  if (is(u"unregister-broker", 0)) {
    // The host removes the broker's keys itself, as the broker key table
    // names them, and leaves the control's registration alone.
    bool found = false;
    for (const char* entry : KeyTableEntries(KeyTable::kBroker)) {
      KeyRoot root;
      std::string_view path;
      if (!SplitKeyEntry(entry, &root, &path) || root != KeyRoot::kMachine) continue;
      found |= SHDeleteKeyA(HKEY_LOCAL_MACHINE, std::string(path).c_str()) == ERROR_SUCCESS;
    }
    Print(std::string("broker registration removed: ") + YesNo(found) + "\n");
    return found ? 0 : 1;
  }
  if (is(u"check-update", 4)) {
    // The request goes out and its answer is not read: the server learns
    // what it needs from the query.
    const bool sent = shim->CheckForUpdate(ParseTypes(arg(1)), ParseUnsigned(arg(2)),
                                           ParseUnsigned(arg(3)), ParseUnsigned(arg(4)));
    Print(std::string("update check sent: ") + YesNo(sent) + "\n");
    return sent ? 0 : 1;
  }
  if (is(u"offered-version", 0)) {
    MString version;
    if (!shim->GetOfferedVersion(&version)) {
      Print("no offered version\n");
      return 1;
    }
    Print("offered version: " + ToUtf8(version) + "\n");
    return 0;
  }
  if (is(u"notice", 0)) {
    MConfigNode* texts = nullptr;
    const bool found = shim->GetNoticeContent(&texts);
    return PrintNotice(found, texts);
  }
  if (is(u"reject-offer", 0)) {
    const bool rejected = shim->RejectOfferedUpdate();
    Print(std::string("offer rejected: ") + YesNo(rejected) + "\n");
    return rejected ? 0 : 1;
  }
  if (is(u"parse-notice", 1)) {
    MString document;
    if (!ReadUtf8File(arg(1), &document)) {
      std::fprintf(stderr, "glinthost: cannot read %s (error %lu)\n", ToUtf8(arg(1)).c_str(),
                   GetLastError());
      return 2;
    }
    MString version;
    if (shim->ExtractUpdateVersion(document.Give(), &version)) {
      Print("offered version: " + ToUtf8(version) + "\n");
    }
    MConfigNode* texts = nullptr;
    const bool found = shim->ParseNoticeContent(&texts, document.Give());
    return PrintNotice(found, texts);
  }
  if (is(u"setup-window", 1)) return SetupWindow(shim, host, arg(1));
  if (is(u"-Embedding", 0) || is(u"/Embedding", 0)) {
    return static_cast<int>(shim->RunBrokerServer());
  }
  if (is(u"-refreshIEElevationPolicies", 0)) {
    shim->RefreshIEElevationPolicy();
    return 0;
  }
  if (is(u"refresh-ie-policy", 0)) {
    Print(std::string("policy refresh called: ") + YesNo(shim->RefreshIEElevationPolicy()) + "\n");
    return 0;
  }
  std::fprintf(stderr, "glinthost: unknown command or missing arguments: %s\n",
               ToUtf8(command).c_str());
  Usage();
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ReferenceHost host;
  std::vector<MString> args;
  bool configured = false;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--config") == 0 && i + 1 < argc) {
      MString path = FromWide(argv[++i]);
      if (!host.AddConfigurationFile(path)) {
        std::fprintf(stderr, "glinthost: cannot read configuration %s (error %lu)\n",
                     ToUtf8(path).c_str(), GetLastError());
        return 2;
      }
      configured = true;
    } else {
      args.push_back(FromWide(argv[i]));
    }
  }
  if (!configured) {
    MString defaultConfig = ExecutableFolder();
    defaultConfig.JoinPath(u'\\', MString(u"glinthost.cfg"));
    host.AddConfigurationFile(defaultConfig);
  }
  if (args.empty()) args.push_back(MString(u"info"));
  if (Equals(args[0], MString(u"help"))) {
    Usage();
    return 0;
  }

  GlintLibrary library;
  if (!library.Load()) {
    std::fprintf(stderr, "glinthost: cannot load %s (error %lu)\n", ToUtf8(library.Path()).c_str(),
                 library.Error());
    return 3;
  }
  host.SetResourceModule(library.Module());
  ShimHandle shim(library.Start()(&host));
  if (!shim) {
    std::fprintf(stderr, "glinthost: Start returned no shim\n");
    return 4;
  }

  return RunCommand(shim.Get(), host, args);
}
