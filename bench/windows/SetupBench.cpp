// setup_bench: the setup engine's slow steps beside what they cannot do
// without, in the same run:
//   (a) locking and unlocking the control's 44 machine keys beside the same
//       security calls made directly on each key;
//   (b) registering the control type through the shim beside the system's
//       own registration of the same control ("regsvr32 /s");
//   (c) stopping a service that takes 0.3 s to stop beside those 0.3 s;
//   (d) DeleteTree of a generated tree beside a plain recursive removal of an
//       identical one;
//   (e) the conflict scan over 30 file holders (10 holding the player)
//       beside one plain psapi pass over the same processes.
#include <windows.h>

#include <aclapi.h>
#include <psapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchHarness.h"
#include "GlintLibrary.h"
#include "ReferenceHost.h"
#include "engine/DeleteTree.h"
#include "engine/KeyTableActions.h"
#include "engine/KeyTables.h"
#include "engine/ServiceController.h"
#include "foundation/WideText.h"

namespace {

std::wstring Folder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  PathRemoveFileSpecW(path);
  return path;
}

std::wstring KeyPath(const char* entry) {
  KeyRoot root;
  std::string_view path;
  SplitKeyEntry(entry, &root, &path);
  return std::wstring(path.begin(), path.end());
}

// The lock and unlock of one key as plain calls: two deny entries merged
// into the list and written; then every such entry deleted and the list
// written again.
void LockDirectly(const std::wstring& path, bool lock) {
  std::wstring name = L"MACHINE\\" + path;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &acl, nullptr, &sd) != ERROR_SUCCESS) {
    return;
  }
  PACL written = acl;
  PACL merged = nullptr;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY, nt = SECURITY_NT_AUTHORITY;
  PSID everyone = nullptr, anonymous = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  AllocateAndInitializeSid(&nt, 1, SECURITY_ANONYMOUS_LOGON_RID, 0, 0, 0, 0, 0, 0, 0, &anonymous);
  if (lock) {
    EXPLICIT_ACCESSW deny[2] = {};
    PSID who[2] = {everyone, anonymous};
    for (int i = 0; i < 2; ++i) {
      deny[i].grfAccessPermissions = 0x10002;
      deny[i].grfAccessMode = DENY_ACCESS;
      deny[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
      deny[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      deny[i].Trustee.ptstrName = static_cast<LPWSTR>(who[i]);
    }
    SetEntriesInAclW(2, deny, acl, &merged);
    written = merged;
  } else {
    for (DWORD i = acl != nullptr ? acl->AceCount : 0; i-- > 0;) {
      ACCESS_DENIED_ACE* ace = nullptr;
      GetAce(acl, i, reinterpret_cast<void**>(&ace));
      if (ace->Header.AceType == ACCESS_DENIED_ACE_TYPE &&
          (EqualSid(&ace->SidStart, everyone) || EqualSid(&ace->SidStart, anonymous))) {
        DeleteAce(acl, i);
      }
    }
  }
  SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        written, nullptr);
  LocalFree(merged);
  FreeSid(everyone), FreeSid(anonymous);
  LocalFree(sd);
}

void LockBench() {
  std::vector<std::wstring> keys;
  for (const char* entry : KeyTableEntries(KeyTable::kControlMachine)) {
    keys.push_back(KeyPath(entry));
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, keys.back().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    RegCloseKey(key);
  }
  bench::Pair pair = bench::PairedMediansNs(
      [] {
        LockRegistration(KeyTable::kControlMachine, true);
        LockRegistration(KeyTable::kControlMachine, false);
      },
      [&] {
        for (const std::wstring& key : keys) LockDirectly(key, true);
        for (const std::wstring& key : keys) LockDirectly(key, false);
      },
      1, 9);
  bench::Report("(a) lock + unlock, 44 control keys", pair.subject, "the same calls directly",
                pair.anchor);
  DeleteRegistrationKeys(false, true);
}

// Runs a program with arguments and waits for it; its run time in ns.
double Run(const std::wstring& commandLine) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  double start = bench::NowNs();
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 0;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  double elapsed = bench::NowNs() - start;
  CloseHandle(process.hThread), CloseHandle(process.hProcess);
  return elapsed;
}

void RegisterBench() {
  const std::wstring folder = Folder();
  const std::wstring control = folder + L"\\GlintAX_34_0_0_384.ocx";
  const std::wstring installed = folder + L"\\bench-installed-host.exe";
  CopyFileW((folder + L"\\glinthost.exe").c_str(), installed.c_str(), FALSE);
  GlintLibrary library;
  if (!library.Load()) {
    std::printf("(b) cannot load the library: %lu\n", library.Error());
    return;
  }
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  ShimHandle shim(library.Start()(&host));
  auto clean = [&] {
    LockRegistration(KeyTable::kControlMachine, false);
    LockRegistration(KeyTable::kBroker, false);
    LockFile(FromWide(control.c_str()), false);
    LockFile(FromWide(installed.c_str()), false);
  };
  // The library's registration runs in this process; regsvr32 is a process
  // of its own, so a process that does nothing is part of the anchor too.
  bench::Pair pair = bench::PairedTimedMediansNs(
      [&] {
        double start = bench::NowNs();
        shim->RegisterPlayer(8, FromWide(control.c_str()).Give(),
                             FromWide(installed.c_str()).Give(), 0, true);
        double elapsed = bench::NowNs() - start;
        clean();
        return elapsed;
      },
      [&] { return Run(L"regsvr32.exe /s \"" + control + L"\""); }, 1, 7);
  bench::Report("(b) RegisterPlayer, control type", pair.subject, "regsvr32 /s of the control",
                pair.anchor);
  shim->UninstallPlayer(8, FromWide(folder.c_str()).Give(), false, false, false, nullptr);
  clean();
  DeleteFileW(installed.c_str());
}

void StopBench() {
  const wchar_t kName[] = L"GlintBenchStopService";
  const std::wstring program = Folder() + L"\\service_standin.exe";
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  const std::wstring command = L"\"" + program + L"\" service stop-after 300";
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  ServiceController controller(&host, FromWide(program.c_str()), FromWide(kName),
                               MString(u"Glint bench service"));
  auto stop = [&] {
    SC_HANDLE service = CreateServiceW(
        manager, kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    StartServiceW(service, 0, nullptr);
    SERVICE_STATUS status = {};
    for (int i = 0; i < 200 && QueryServiceStatus(service, &status) &&
                    status.dwCurrentState != SERVICE_RUNNING;
         ++i) {
      Sleep(10);
    }
    double start = bench::NowNs();
    controller.StopService();
    double elapsed = bench::NowNs() - start;
    DeleteService(service), CloseServiceHandle(service);
    Sleep(100);  // the manager lets the deleted service go
    return elapsed;
  };
  bench::Pair pair = bench::PairedTimedMediansNs(
      stop,
      [] {
        double start = bench::NowNs();
        Sleep(300);
        return bench::NowNs() - start;
      },
      1, 5);
  bench::Report("(c) stop of a service that stops in 0.3 s", pair.subject, "0.3 s", pair.anchor);
  CloseServiceHandle(manager);
}

// 200 folders four deep (50 chains), ten files in each: 2 000 files.
void MakeTree(const std::wstring& root) {
  CreateDirectoryW(root.c_str(), nullptr);
  for (int chain = 0; chain < 50; ++chain) {
    std::wstring folder = root;
    for (const wchar_t* level : {L"\\a", L"\\b", L"\\c", L"\\d"}) {
      folder += level + std::to_wstring(chain);
      CreateDirectoryW(folder.c_str(), nullptr);
      for (int file = 0; file < 10; ++file) {
        CloseHandle(CreateFileW((folder + L"\\f" + std::to_wstring(file) + L".dat").c_str(),
                                GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      }
    }
  }
}

bool RemoveDirectly(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
    if (!wcscmp(entry.cFileName, L".") || !wcscmp(entry.cFileName, L"..")) continue;
    const std::wstring path = folder + L"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveDirectly(path);
    } else {
      DeleteFileW(path.c_str());
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

void DeleteTreeBench() {
  const std::wstring root = Folder() + L"\\bench-tree";
  auto timed = [&](auto remove) {
    MakeTree(root);
    double start = bench::NowNs();
    remove();
    return bench::NowNs() - start;
  };
  bench::Pair pair = bench::PairedTimedMediansNs(
      [&] { return timed([&] { DeleteTree(FromWide(root.c_str())); }); },
      [&] { return timed([&] { RemoveDirectly(root); }); }, 1, 5);
  bench::Report("(d) DeleteTree, 2 000 files in 200 folders", pair.subject,
                "a plain recursive removal", pair.anchor);
}

void ConflictScanBench() {
  const std::wstring folder = Folder();
  const std::wstring player = folder + L"\\bench-NPGlint.dll";
  const std::wstring other = folder + L"\\bench-other.dat";
  CopyFileW((folder + L"\\glintstub.dll").c_str(), player.c_str(), FALSE);
  CloseHandle(CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  HKEY record = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerPlugin", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &record, nullptr);
  RegSetValueExW(record, L"PlayerPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(player.c_str()),
                 static_cast<DWORD>((player.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(record);
  std::vector<HANDLE> holders;
  for (int i = 0; i < 30; ++i) {
    const std::wstring image = folder + L"\\bench-holder" + std::to_wstring(i) + L".exe";
    CopyFileW((folder + L"\\file_holder.exe").c_str(), image.c_str(), FALSE);
    std::wstring line =
        L"\"" + image + (i < 10 ? L"\" module \"" + player : L"\" read \"" + other) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
      CloseHandle(process.hThread);
      holders.push_back(process.hProcess);
    }
  }
  Sleep(2000);  // every holder holds its file
  GlintLibrary library;
  if (library.Load()) {
    ReferenceHost host;
    host.SetStatusStream(nullptr);
    // The plugin being installed has the installed player's name: the scan
    // checks the plugin type, and so every process's modules.
    host.AddConfiguration(MString(u"NewPlayerFileName { Plugin bench-NPGlint.dll; };"));
    ShimHandle shim(library.Start()(&host));
    shim->LoadFileLists();
    bench::Pair pair = bench::PairedMediansNs(
        [&] {
          delete shim->FindConflictingProcesses(kPlayerActiveX | kPlayerPlugin | kPlayerPepper);
        },
        [] {
          DWORD ids[1024], bytes = 0;
          EnumProcesses(ids, sizeof ids, &bytes);
          for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
            HANDLE process =
                OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
            if (process == nullptr) continue;
            HMODULE modules[1024];
            DWORD needed = 0;
            wchar_t path[MAX_PATH];
            GetModuleFileNameExW(process, nullptr, path, MAX_PATH);
            if (EnumProcessModules(process, modules, sizeof modules, &needed)) {
              for (DWORD m = 0; m < needed / sizeof(HMODULE) && m < 1024; ++m)
                GetModuleFileNameExW(process, modules[m], path, MAX_PATH);
            }
            CloseHandle(process);
          }
        },
        1, 7);
    bench::Report("(e) conflict scan, 30 holders", pair.subject, "one plain psapi pass",
                  pair.anchor);
  }
  for (HANDLE process : holders) TerminateProcess(process, 0), CloseHandle(process);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerPlugin");
}

}  // namespace

int wmain() {
  LockBench();
  RegisterBench();
  StopBench();
  DeleteTreeBench();
  ConflictScanBench();
  return 0;
}
