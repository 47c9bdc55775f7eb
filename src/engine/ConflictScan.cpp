#include "engine/ConflictScan.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/ConflictingProcesses.h"
#include "engine/GlintBrokerShim.h"
#include "engine/SetupRules.h"
#include "engine/Uninstall.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kMaxModules = 1024;

struct Psapi {
  SystemModule module;
  decltype(&::EnumProcesses) enumProcesses = nullptr;
  decltype(&::EnumProcessModules) enumModules = nullptr;
  decltype(&::GetModuleFileNameExW) moduleFileName = nullptr;

  bool Bind() {
    if (!module.Load(MString(u"psapi.dll"))) return false;
    enumProcesses = module.ResolveAs<decltype(enumProcesses)>("EnumProcesses");
    enumModules = module.ResolveAs<decltype(enumModules)>("EnumProcessModules");
    moduleFileName = module.ResolveAs<decltype(moduleFileName)>("GetModuleFileNameExW");
    return enumProcesses != nullptr && enumModules != nullptr && moduleFileName != nullptr;
  }
};

MString ModuleName(const Psapi& psapi, HANDLE process, HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD length = psapi.moduleFileName(process, module, path, MAX_PATH);
  return length == 0 ? MString() : FromWide(path, static_cast<int32_t>(length));
}

// One process as the decision sees it; its modules are listed only when the
// decision asks for them.
ProcessSnapshot Snapshot(const Psapi& psapi, DWORD id) {
  ProcessSnapshot process;
  process.id = id;
  auto handle = std::make_shared<UniqueHandle>(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
  if (!*handle) return process;
  process.imagePath = ModuleName(psapi, handle->Get(), nullptr);
  process.imageName = LastName(process.imagePath);
  process.loadModules = [&psapi, handle] {
    std::vector<MString> paths;
    std::vector<HMODULE> modules(kMaxModules);
    DWORD needed = 0;
    if (!psapi.enumModules(handle->Get(), modules.data(), kMaxModules * sizeof(HMODULE), &needed)) {
      return paths;
    }
    const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), kMaxModules);
    for (DWORD i = 0; i < count; ++i) {
      MString path = ModuleName(psapi, handle->Get(), modules[i]);
      if (!path.IsEmpty()) paths.push_back(path);
    }
    return paths;
  };
  return process;
}

MString HostText(HostCallbacks* host, void (HostCallbacks::*get)(MString*, MString*),
                 MString* second) {
  MString first(u"");
  *second = MString(u"");
  if (host != nullptr) (host->*get)(&first, second);
  return first;
}

}  // namespace

MStringList* FindConflictingProcesses(GlintBrokerShim* shim, uint32_t mask) {
  HostCallbacks* host = shim->Host();
  if (SystemFolder().IsNull()) return nullptr;
  Psapi psapi;
  std::vector<ProcessSnapshot> processes;
  if (psapi.Bind()) {
    std::vector<DWORD> ids(kMaxProcesses);
    DWORD bytes = 0;
    if (!psapi.enumProcesses(ids.data(), kMaxProcesses * sizeof(DWORD), &bytes)) return nullptr;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) processes.push_back(Snapshot(psapi, ids[i]));
  }

  ConflictScanSetup setup;
  setup.mask = mask;
  setup.ownProcessId = GetCurrentProcessId();
  MString ignored;
  void (HostCallbacks::*names[3])(MString*, MString*) = {&HostCallbacks::GetNewPluginFileName,
                                                         &HostCallbacks::GetNewActiveXFileName,
                                                         &HostCallbacks::GetNewPepperFileName};
  for (int i = 0; i < 3; ++i) {
    setup.types[i].newFileName = HostText(
        host, names[i], kConflictTypeOrder[i] == kPlayerActiveX ? &setup.designatedName : &ignored);
    const InstallRecord record = ReadInstallRecord(shim, kConflictTypeOrder[i], false);
    setup.types[i].installed = record.found;
    setup.types[i].playerPath = record.player;
  }
  if (host != nullptr) {
    setup.interactive = host->IsInteractive();
    setup.fullRemoval = host->IsFullRemoval();
    setup.installVector = host->GetInstallVector();
    host->GetOwnPath(&setup.ownPath);
  }
  auto conflicts = std::make_unique<MStringList>();
  const ConflictDecision decision = DecideConflicts(
      setup, host != nullptr ? host->GetConfiguration() : nullptr, processes, *conflicts);
  if (decision.endDesignated) {
    // The id may have gone to another program since the snapshot: the
    // opened process must still run the designated image.
    UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                    decision.designatedId));
    if (process && Equals(ModuleName(psapi, process.Get(), nullptr), decision.designatedPath)) {
      TerminateProcess(process.Get(), 0);
    }
  }
  return conflicts.release();
}
