#include "engine/FileRemoval.h"

#include <windows.h>

#include "engine/DeleteTree.h"
#include "engine/FilePatterns.h"
#include "engine/GlintBrokerShim.h"
#include "engine/KeyTableActions.h"
#include "engine/Registration.h"
#include "engine/SetupEngine.h"
#include "engine/SetupRules.h"
#include "engine/StatusDetail.h"
#include "engine/Uninstall.h"
#include "foundation/Registry.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {

// The extension of a name: from its last '.', empty without one.
MString Extension(const MString& name) {
  const MString last = LastName(name);
  for (uint32_t i = last.Length(); i > 0; --i) {
    if (last[i - 1] == u'.') return MString(last.CStr() + i - 1);
  }
  return MString(u"");
}

MString Parent(const MString& path) {
  MString parent = path;
  SplitAtLast(parent, "\\");
  return parent;
}

// A browser's plugin folder from an Opera setting: the folder of its
// program joined with "Program\Plugins", or a plugin folder as it stands.
MString OperaPluginFolder(const MString& value) {
  if (EndsWith(value, MString(u".exe"))) return Parent(value) + MString(u"\\Program\\Plugins");
  if (EndsWith(value, MString(u"\\Plugins"))) return value;
  return MString();
}

MString ReadString(HKEY root, const MString& key, const MString& name, LONG* error) {
  RegKey opened;
  MString value;
  *error = opened.Open(root, key);
  if (*error == ERROR_SUCCESS) *error = opened.ReadString(name, &value);
  return *error == ERROR_SUCCESS ? value : MString();
}

void RemoveFoundByPattern(GlintBrokerShim* shim, const MStringList& patterns, const MString& dir,
                          uint32_t type) {
  for (const auto& pattern : patterns) {
    MString path;
    if (!FindLastListingMatch(shim->GetEngine()->systemFolderListing, pattern.key, dir, &path)) {
      continue;
    }
    if (type == kPlayerActiveX) {
      RemoveNamedFile(shim, pattern.key, path);
    } else {
      RemovePlayerFile(shim, path, type);
    }
    if (EndsWith(path, MString(u".exe"))) DeleteOptionsKey(path);
  }
}

}  // namespace

bool RemoveNamedFile(GlintBrokerShim* shim, const MString& name, const MString& path) {
  const MString extension = Extension(name);
  if (Equals(extension, MString(u".ocx"))) {
    UnregisterControlFile(path);
    RemovePlayerFile(shim, path, kPlayerActiveX);
  } else if ((StartsWith(name, MString(u"GlintUtil")) || StartsWith(name, MString(u"GetGlint"))) &&
             Equals(extension, MString(u".exe"))) {
    LockRegistration(KeyTable::kBroker, false);
    LockFile(path, false);
    RemovePlayerFile(shim, path, 2);
  } else {
    RemovePlayerFile(shim, path, 0);
  }
  return true;
}

bool CollectBrowserPluginFolders(GlintBrokerShim* shim, const MString& dir) {
  MStringList& folders = *shim->GetBrowserPluginFolders();
  if (folders.Count() != 0) return false;
  const MString mozilla(u"Software\\Mozilla");
  RegKey browsers;
  if (browsers.Open(HKEY_LOCAL_MACHINE, mozilla) == ERROR_SUCCESS) {
    wchar_t name[256];
    for (DWORD i = 0, length = 256; RegEnumKeyExW(browsers.Get(), i, name, &length, nullptr,
                                                  nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = 256) {
      const MString key = mozilla + MString(u"\\") + FromWide(name) + MString(u"\\extensions");
      LONG error = ERROR_SUCCESS;
      const MString plugins = ReadString(HKEY_LOCAL_MACHINE, key, MString(u"Plugins"), &error);
      if (error == ERROR_SUCCESS) {
        folders.AddName(plugins);
      } else {
        ReportStatus(shim->Host(), kStatusError, kStatusReadFailed,
                     RegistryDetail(key, MString(u"Plugins"), static_cast<uint32_t>(error)));
      }
    }
  }
  const MString opera(u"Software\\Opera Software");
  for (const char16_t* value : {u"Last CommandLine", u"Plugin Path"}) {
    LONG error = ERROR_SUCCESS;
    MString text = ReadString(HKEY_CURRENT_USER, opera, MString(value), &error);
    if (error != ERROR_SUCCESS)
      text = ReadString(HKEY_LOCAL_MACHINE, opera, MString(value), &error);
    if (error != ERROR_SUCCESS) continue;
    const MString folder = OperaPluginFolder(text);
    if (!folder.IsNull()) folders.AddName(folder);
  }
  folders.AddName(dir);
  return true;
}

bool RemoveListedFiles(GlintBrokerShim* shim, uint32_t mask, const MString& dir) {
  const SetupEngine& engine = *shim->GetEngine();
  if (mask & kPlayerActiveX) {
    for (const auto& name : engine.fileNamesActiveX) {
      MString path;
      if (JoinPathWithin(dir, name.key, &path) && PathExists(path)) {
        RemoveNamedFile(shim, name.key, path);
      }
    }
  }
  if (mask & kPlayerPlugin) {
    CollectBrowserPluginFolders(shim, dir);
    for (const auto& folder : *shim->GetBrowserPluginFolders()) {
      for (const auto& name : engine.fileNamesPlugin) {
        MString path;
        if (JoinPathWithin(folder.key, name.key, &path))
          RemovePlayerFile(shim, path, kPlayerPlugin);
      }
    }
  }
  if (shim->Host() != nullptr) shim->Host()->RemovalFinished(0);
  return true;
}

bool RemoveFilesByPattern(GlintBrokerShim* shim, uint32_t mask, const MString& dir) {
  SetupEngine& engine = *shim->GetEngine();
  if (mask & kPlayerActiveX)
    RemoveFoundByPattern(shim, engine.filePatternsActiveX, dir, kPlayerActiveX);
  if (mask & kPlayerPlugin)
    RemoveFoundByPattern(shim, engine.filePatternsPlugin, dir, kPlayerPlugin);
  if (mask & kPlayerPepper)
    RemoveFoundByPattern(shim, engine.filePatternsPepper, dir, kPlayerPepper);
  constexpr uint32_t kAll = kPlayerActiveX | kPlayerPlugin | kPlayerPepper;
  if ((mask & kAll) != kAll) return true;

  const MString bin = UserBinFolder();
  for (const auto& pattern : engine.productFolderPatterns) {
    MStringList found;
    if (bin.IsNull() || !CollectListingMatches(engine.userBinListing, pattern.key, bin, found)) {
      continue;
    }
    for (const auto& folder : found) DeleteTree(folder.key);
  }
  HostCallbacks* host = shim->Host();
  const bool fullRemoval = host != nullptr && host->IsFullRemoval();
  for (const auto& pattern : engine.otherFilePatterns) {
    MString path;
    if (!FindLastListingMatch(engine.systemFolderListing, pattern.key, dir, &path)) continue;
    if (EndsWith(path, MString(u"gcs.cfg")) && !fullRemoval) continue;
    DeleteFileInPlace(path);
  }
  RemoveEmptyFolderInPlace(dir);
  // Neither "Temp" nor the parent is scheduled when it is a link, or lies
  // behind one: deleting a link can take its target with it.
  const MString parent = Parent(dir);
  const MString temp = parent + MString(u"\\Temp");
  if (PathExists(temp) && !DeleteTree(temp)) {
    ReportStatus(host, kStatusError, kStatusFolderKept, temp);
    if (!shim->PathHasReparsePoint(MString(temp).Give())) ScheduleDeleteAtRestart(host, temp);
  }
  if (!shim->PathHasReparsePoint(MString(parent).Give())) ScheduleDeleteAtRestart(host, parent);
  return true;
}

void RemovePerUserData(GlintBrokerShim* shim) {
  HostCallbacks* host = shim->Host();
  char16_t buffer[MAX_PATH] = {};
  shim->GetProfilesRoot(buffer);
  const MString root(buffer);
  if (root.IsEmpty()) return;
  const bool modern = host == nullptr || host->GetWindowsGeneration() >= 2;
  const MString roaming(modern ? u"\\AppData\\Roaming" : u"\\Application Data");
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(W(root + MString(u"\\*")), &entry));
  for (bool more = find.Valid(); more; more = FindNextFileW(find.Get(), &entry)) {
    const MString name = FromWide(entry.cFileName);
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || Equals(name, MString(u".")) ||
        Equals(name, MString(u".."))) {
      continue;
    }
    const MString profile = root + MString(u"\\") + name;
    struct Data {
      MString folder;
      bool company;  // its company folder goes too when left empty
    } data[] = {
        {profile + roaming + MString(u"\\Kestrelink\\Glint Player"), true},
        {modern ? profile + MString(u"\\AppData\\Local\\Kestrelink\\Glint Player") : MString(),
         true},
        {profile + roaming + MString(u"\\Arvex\\Glint Player"), false},
    };
    for (const Data& d : data) {
      if (d.folder.IsNull() || !PathExists(d.folder) ||
          shim->PathHasReparsePoint(MString(d.folder).Give())) {
        continue;
      }
      if (DeleteTree(d.folder)) {
        if (d.company) RemoveEmptyFolderInPlace(Parent(d.folder));
      } else {
        ReportStatus(host, kStatusError, kStatusFolderKept, d.folder);
      }
    }
  }
}
