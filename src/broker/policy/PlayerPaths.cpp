#include "broker/policy/PlayerPaths.h"

#include <windows.h>
#include <shlobj.h>
#include <winioctl.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "broker/policy/AdminConfig.h"
#include "engine/ProductNames.h"
#include "foundation/SystemModule.h"
#include "foundation/Win32Handles.h"

namespace {

using Text = PathRules::Text;

const wchar_t* Wide(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
Text FromWide(const wchar_t* text, size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}
Text FromWide(const wchar_t* text) {
  return Text(reinterpret_cast<const char16_t*>(text));
}

void DropTrailingSeparator(Text& text) {
  if (!text.empty() && (text.back() == u'\\' || text.back() == u'/')) text.pop_back();
}

bool EndsWith(const Text& text, const Text& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

constexpr DWORD kFullPathBuffer = 1040;

// Object-manager symbolic links ("\??\C:", "\Device\..."), through ntdll.
std::optional<Text> SymbolicLinkTarget(const Text& name) {
  using OpenFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PUNICODE_STRING, PULONG);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || name.empty() || name[0] != u'\\') return std::nullopt;
  auto open = reinterpret_cast<OpenFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenSymbolicLinkObject")));
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySymbolicLinkObject")));
  if (open == nullptr || query == nullptr || name.size() * 2 > 0xFFF0) return std::nullopt;
  UNICODE_STRING objectName;
  objectName.Buffer = const_cast<PWSTR>(Wide(name));
  objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  objectName.MaximumLength = objectName.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  HANDLE link = nullptr;
  constexpr ACCESS_MASK kSymbolicLinkQuery = 0x0001;
  if (open(&link, kSymbolicLinkQuery, &attributes) < 0) return std::nullopt;
  UniqueHandle owner(link);
  wchar_t buffer[260] = {};
  UNICODE_STRING target;
  target.Buffer = buffer;
  target.Length = 0;
  target.MaximumLength = sizeof buffer;
  ULONG returned = 0;
  if (query(link, &target, &returned) < 0) return Text();
  return FromWide(buffer, target.Length / sizeof(wchar_t));
}

// The substitute name of a link's reparse data; nothing for other tags.
struct ReparseData {
  bool readable = false;
  std::optional<Text> substitute;
};

ReparseData ReadReparseData(const Text& path) {
  ReparseData result;
  UniqueHandle handle(CreateFileW(
      Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return result;
  std::vector<BYTE> buffer(16384);
  DWORD got = 0;
  if (!DeviceIoControl(handle.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &got, nullptr) ||
      got < 8) {
    return result;
  }
  result.readable = true;
  // REPARSE_DATA_BUFFER: tag, data length, reserved, then the tag's fields.
  DWORD tag = *reinterpret_cast<DWORD*>(buffer.data());
  const BYTE* fields = buffer.data() + 8;
  auto name = [&](size_t pathBufferOffset) -> std::optional<Text> {
    USHORT offset = *reinterpret_cast<const USHORT*>(fields);
    USHORT length = *reinterpret_cast<const USHORT*>(fields + 2);
    size_t start = pathBufferOffset + offset;
    if (start + length > got - 8 || length % 2 != 0) return std::nullopt;
    return FromWide(reinterpret_cast<const wchar_t*>(fields + start), length / 2);
  };
  if (tag == IO_REPARSE_TAG_SYMLINK) {
    result.substitute = name(12);  // after the four name fields and the flags
  } else if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
    result.substitute = name(8);
  }
  return result;
}

}  // namespace

PlayerPaths::PlayerPaths(bool brokerMode) : brokerMode_(brokerMode) {}

Text PlayerPaths::Upper(const Text& text) {
  Text upper = text;
  if (user32_.CharUpperBuffW != nullptr && !upper.empty()) {
    user32_.CharUpperBuffW(reinterpret_cast<LPWSTR>(upper.data()),
                           static_cast<DWORD>(upper.size()));
  }
  return upper;
}

std::optional<Text> PlayerPaths::FullPath(const Text& path) {
  if (user32_.CharUpperBuffW == nullptr || kernel32_.GetFullPathNameW == nullptr) {
    return std::nullopt;
  }
  // An embedded NUL would make the system see a different path than we judge.
  if (path.find(u'\0') != Text::npos || path.empty()) return std::nullopt;
  std::vector<wchar_t> buffer(kFullPathBuffer);
  Text current = path;
  for (int round = 0; round < 100; ++round) {
    DWORD length =
        kernel32_.GetFullPathNameW(Wide(current), kFullPathBuffer, buffer.data(), nullptr);
    if (length == 0 || length >= kFullPathBuffer) return std::nullopt;
    Text next = FromWide(buffer.data(), length);
    if (next == current) break;
    current = next;
  }
  return current;
}

std::optional<Text> PlayerPaths::Canonicalize(const Text& path, bool upper) {
  std::optional<Text> full = FullPath(path);
  if (!full) return std::nullopt;
  return PathRules::CanonicalText(*full, Upper(*full), upper);
}

std::optional<Text> PlayerPaths::CanonicalForQuery(const Text& path) {
  std::optional<Text> full = FullPath(path);
  if (!full) return std::nullopt;
  Text upper = Upper(*full);
  // Refused exactly when the upper-case form is; asked in the path's own
  // case, which the file system answers without searching folders.
  if (!PathRules::CanonicalText(*full, upper, true)) return std::nullopt;
  return PathRules::CanonicalText(*full, upper, false);
}

PathRules::LinkStep PlayerPaths::ResolveLinks(const Text& canonical) {
  Text name = canonical;
  Text upper = Upper(canonical);
  if (upper.compare(0, 14, u"\\\\?\\GLOBALROOT\\") == 0) name = name.substr(14);
  PathRules::LinkStep step;
  if (std::optional<Text> target = SymbolicLinkTarget(name)) {
    step.ok = true;
    if (!target->empty()) step.target = PathRules::StripObjectPrefix(*target);
    return step;
  }
  step = PathRules::ResolveThroughPrefixes(name, [&](const Text& prefix) {
    PathRules::PrefixInfo info;
    DWORD attributes = GetFileAttributesW(Wide(prefix));
    if (attributes == INVALID_FILE_ATTRIBUTES) return info;
    info.exists = true;
    info.reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (info.reparsePoint) {
      ReparseData data = ReadReparseData(prefix);
      info.readable = data.readable;
      info.substitute = data.substitute;
    }
    return info;
  });
  if (step.target) step.target = PathRules::StripObjectPrefix(*step.target);
  return step;
}

std::optional<Text> PlayerPaths::ResolvedCanonical(const Text& path, bool* missing) {
  if (missing != nullptr) *missing = false;
  std::optional<Text> canonical = CanonicalForQuery(path);
  if (!canonical) return std::nullopt;
  // Each target is judged in canonical form too: a target that cannot be
  // canonicalised is a refusal.
  bool refused = false;
  std::optional<Text> resolved = PathRules::FollowLinkChain(*canonical, [&](const Text& text) {
    PathRules::LinkStep step = ResolveLinks(text);
    if (!step.ok && step.missing && missing != nullptr) *missing = true;
    if (step.ok && step.target) {
      std::optional<Text> target = CanonicalForQuery(*step.target);
      if (!target) {
        refused = true;
        step.ok = false;
        step.target.reset();
      } else {
        step.target = *target;
      }
    }
    return step;
  });
  if (refused || !resolved) return std::nullopt;
  return resolved;
}

std::optional<Text> PlayerPaths::LongForm(const Text& canonical) {
  // The answer is in upper case, the form every decision is made in.
  size_t separator = canonical.rfind(u'\\');
  if (separator == Text::npos) return Upper(canonical);
  Text folder = canonical.substr(0, separator);
  if (folder.size() == 2 && folder[1] == u':') return Upper(canonical);
  std::vector<wchar_t> buffer(kFullPathBuffer);
  DWORD length = GetLongPathNameW(Wide(folder), buffer.data(), kFullPathBuffer);
  if (length == 0 || length >= kFullPathBuffer || length == folder.size()) return Upper(canonical);
  return Upper(FromWide(buffer.data(), length) + canonical.substr(separator));
}

bool PlayerPaths::MayWrite(const Text& path, bool checkExtension, bool* settingsArea,
                           bool* temporary) {
  if (settingsArea != nullptr) *settingsArea = false;
  if (temporary != nullptr) *temporary = false;
  std::optional<Text> resolved = ResolvedCanonical(path);
  if (!resolved) return false;
  // Only a path that may name a short alias needs its long form; asking the
  // system for it walks every folder again.
  std::optional<Text> judged =
      PathRules::MayHoldShortNames(*resolved) ? LongForm(*resolved) : Upper(*resolved);
  if (!judged) return false;
  // The long form must still be a canonical path.
  std::optional<Text> recheck = PathRules::CanonicalText(*judged, *judged, true);
  if (!recheck) return false;
  bool permitted = WriteRule(*recheck, checkExtension, temporary);
  if (settingsArea != nullptr) *settingsArea = IsSettingsArea(*recheck);
  return permitted;
}

bool PlayerPaths::WriteRule(const Text& p, bool checkExtension, bool* temporary) {
  if (temporary != nullptr) *temporary = false;
  const auto& shared = Get(kCanonicalSharedRoot);
  const auto& playerData = Get(kCanonicalPlayerDataRoot);
  const auto& makerSite = Get(kCanonicalMakerSite);
  const auto& lowTemp = Get(kCanonicalLowTemp);
  if (!shared || !playerData || !makerSite || !lowTemp) return false;
  bool permitted = false;
  bool inTemp = false;
  if (PathRules::LiesUnder(p, *shared) || PathRules::LiesUnder(p, *playerData)) {
    permitted = true;
  } else if (PathRules::LiesUnder(p, *lowTemp)) {
    permitted = true;
    inTemp = true;
  }
  if (permitted && PathRules::LiesUnder(p, *makerSite)) permitted = false;
  if (permitted && checkExtension && !inTemp && !PathRules::HasWritableExtension(p)) {
    permitted = false;
  }
  if (temporary != nullptr) *temporary = permitted && inTemp;
  return permitted;
}

std::optional<Text> PlayerPaths::OpenedCanonical(const Text& finalPath) {
  if (finalPath.empty() || finalPath.find(u'\0') != Text::npos) return std::nullopt;
  return PathRules::CanonicalText(finalPath, Upper(finalPath), true);
}

bool PlayerPaths::MayReadOpened(const Text& finalPath) {
  std::optional<Text> canonical = OpenedCanonical(finalPath);
  return canonical && ReadRule(*canonical);
}

bool PlayerPaths::MayWriteOpened(const Text& finalPath, bool checkExtension) {
  std::optional<Text> canonical = OpenedCanonical(finalPath);
  return canonical && WriteRule(*canonical, checkExtension, nullptr);
}

bool PlayerPaths::MayCreateDirectoryOpened(const Text& finalPath) {
  std::optional<Text> canonical = OpenedCanonical(finalPath);
  return canonical && CreateDirectoryRule(*canonical);
}

bool PlayerPaths::IsSamePlace(const Text& finalPath, const Text& path) {
  std::optional<Text> opened = OpenedCanonical(finalPath);
  std::optional<Text> decided = Canonicalize(path, true);
  return opened && decided && *opened == *decided;
}

std::optional<PathRules::SearchPattern> PlayerPaths::MayList(const Text& pattern) {
  std::optional<Text> full = FullPath(pattern);
  if (!full) return std::nullopt;
  std::optional<PathRules::SearchPattern> split = PathRules::SplitSearchPattern(pattern, *full);
  if (!split) return std::nullopt;
  std::optional<Text> canonical = Canonicalize(split->folder, true);
  if (!canonical || !ReadRule(*canonical)) return std::nullopt;
  if (!LinksStayWithin(split->folder, *canonical, &PlayerPaths::ReadRule)) return std::nullopt;
  return split;
}

bool PlayerPaths::IsSettingsArea(const Text& canonical) {
  const auto& shared = Get(kSettingsSharedPrefix);
  const auto& folder = Get(kSettingsFolderPrefix);
  if (!shared || !folder) return false;
  return PathRules::IsSettingsArea(canonical, *shared, *folder);
}

bool PlayerPaths::ReadRule(const Text& canonical) {
  const auto& base = Get(useLocalAppData_ ? kCanonicalLocalAppData : kCanonicalAppData);
  if (base) {
    if (PathRules::LiesUnder(canonical, *base + u"\\KESTRELINK") ||
        PathRules::LiesUnder(canonical, *base + u"\\ARVEX")) {
      return true;
    }
  }
  for (Cached folder : {kCanonicalSystemFolder, kCanonicalSystemFolderX86, kCanonicalLowTemp}) {
    const auto& root = Get(folder);
    if (root && PathRules::LiesUnder(canonical, *root)) return true;
  }
  return false;
}

bool PlayerPaths::MayRead(const Text& path) {
  // A wildcard makes the path a search: the folder it looks into is judged,
  // after "." and ".." are collapsed over the whole text.
  if (path.find_first_of(u"*?<>\"") != Text::npos) return MayList(path).has_value();
  Text judged = path;
  WIN32_FILE_ATTRIBUTE_DATA data;
  bool isFile = kernel32_.GetFileAttributesExW != nullptr && path.find(u'\0') == Text::npos &&
                kernel32_.GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (isFile) {
    size_t separator = path.rfind(u'\\');
    judged = separator == Text::npos ? path : path.substr(0, separator);
  }
  std::optional<Text> canonical = Canonicalize(judged, true);
  if (!canonical || !ReadRule(*canonical)) return false;
  return LinksStayWithin(judged, *canonical, &PlayerPaths::ReadRule);
}

bool PlayerPaths::LinksStayWithin(const Text& path, const Text& canonical,
                                  bool (PlayerPaths::*rule)(const Text&)) {
  bool missing = false;
  std::optional<Text> resolved = ResolvedCanonical(path, &missing);
  if (!resolved) return missing;
  Text upper = Upper(*resolved);
  return upper == canonical || (this->*rule)(upper);
}

bool PlayerPaths::CreateDirectoryRule(const Text& canonical) {
  const auto& appData = Get(kCanonicalAppData);
  if (appData && (PathRules::LiesUnder(canonical, *appData + u"\\KESTRELINK") ||
                  PathRules::LiesUnder(canonical, *appData + u"\\ARVEX"))) {
    return true;
  }
  if (useLocalAppData_) {
    const auto& local = Get(kCanonicalLocalAppData);
    if (local && (PathRules::LiesUnder(canonical, *local + u"\\KESTRELINK") ||
                  PathRules::LiesUnder(canonical, *local + u"\\ARVEX"))) {
      return true;
    }
  }
  return false;
}

bool PlayerPaths::MayCreateDirectory(const Text& path) {
  std::optional<Text> canonical = Canonicalize(path, true);
  if (!canonical || !CreateDirectoryRule(*canonical)) return false;
  // A folder created through a link lands where the link leads.
  return LinksStayWithin(path, *canonical, &PlayerPaths::CreateDirectoryRule);
}

Text PlayerPaths::ExpandPlayerPath(const Text& path) {
  const auto& local = LocalAppData();
  if (!local) return path;
  return PathRules::ExpandPlayerPath(path, *local);
}

const std::optional<Text>& PlayerPaths::LocalAppData() {
  return Get(kLocalAppData);
}
const std::optional<Text>& PlayerPaths::AppData() {
  return Get(kAppData);
}
const std::optional<Text>& PlayerPaths::LowTemporaryFolder() {
  return Get(kLowTemp);
}
const std::optional<Text>& PlayerPaths::SharedObjectsRoot() {
  return Get(kSharedRoot);
}
const std::optional<Text>& PlayerPaths::PlayerDataRoot() {
  return Get(kPlayerDataRoot);
}
const std::optional<Text>& PlayerPaths::MakerSiteFolder() {
  return Get(kMakerSite);
}

const std::optional<Text>& PlayerPaths::Get(Cached which) {
  if (!cache_[which]) cache_[which] = Compute(which);
  return cache_[which];
}

std::optional<Text> PlayerPaths::ShellFolderText(int csidl, const wchar_t* registryName) {
  wchar_t buffer[MAX_PATH + 1] = {};
  Text folder;
  if (shell32_.SHGetFolderPathW != nullptr &&
      SUCCEEDED(shell32_.SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    folder = FromWide(buffer);
  } else if (registryName != nullptr) {
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     registryName, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    folder = FromWide(buffer);
  } else {
    return std::nullopt;
  }
  if (folder.empty()) return std::nullopt;
  DropTrailingSeparator(folder);
  return folder;
}

std::optional<Text> PlayerPaths::CanonicalOf(Cached which) {
  const auto& text = Get(which);
  if (!text) return std::nullopt;
  return Canonicalize(*text, true);
}

std::optional<Text> PlayerPaths::Compute(Cached which) {
  switch (which) {
    case kLocalAppData:
      return ShellFolderText(CSIDL_LOCAL_APPDATA, L"Local AppData");
    case kAppData:
      return ShellFolderText(CSIDL_APPDATA, L"AppData");
    case kLowTemp: {
      if (kernel32_.GetTempPathW == nullptr) return std::nullopt;
      wchar_t buffer[MAX_PATH + 1] = {};
      DWORD length = kernel32_.GetTempPathW(MAX_PATH, buffer);
      if (length == 0 || length > MAX_PATH) return std::nullopt;
      Text temp = FromWide(buffer, length);
      if (brokerMode_ && !EndsWith(temp, u"\\Low\\")) {
        if (temp.empty() || temp.back() != u'\\') temp += u'\\';
        temp += u"Low\\";
      }
      std::vector<wchar_t> longBuffer(kFullPathBuffer);
      DWORD longLength = GetLongPathNameW(Wide(temp), longBuffer.data(), kFullPathBuffer);
      if (longLength != 0 && longLength < kFullPathBuffer) {
        temp = FromWide(longBuffer.data(), longLength);
      }
      DropTrailingSeparator(temp);
      return temp;
    }
    case kSharedRoot: {
      const auto& base = Get(useLocalAppData_ ? kLocalAppData : kAppData);
      if (!base) return std::nullopt;
      return *base + u"\\Kestrelink\\Glint Player";
    }
    case kPlayerDataRoot: {
      const auto& base = Get(kAppData);
      if (!base) return std::nullopt;
      return *base + u"\\Arvex\\Glint Player";
    }
    case kMakerSite: {
      const auto& shared = Get(kSharedRoot);
      if (!shared) return std::nullopt;
      return *shared + u"\\" + Text(kMakerSiteFolderName);
    }
    case kCanonicalAppData:
      return CanonicalOf(kAppData);
    case kCanonicalLocalAppData:
      return CanonicalOf(kLocalAppData);
    case kCanonicalLowTemp:
      return CanonicalOf(kLowTemp);
    case kCanonicalSharedRoot:
      return CanonicalOf(kSharedRoot);
    case kCanonicalPlayerDataRoot:
      return CanonicalOf(kPlayerDataRoot);
    case kCanonicalMakerSite:
      return CanonicalOf(kMakerSite);
    case kCanonicalSystemFolder:
    case kCanonicalSystemFolderX86: {
      auto folder = ShellFolderText(
          which == kCanonicalSystemFolder ? CSIDL_SYSTEM : CSIDL_SYSTEMX86, nullptr);
      if (!folder) return std::nullopt;
      return Canonicalize(*folder + u"\\KESTRELI\\GLINT", true);
    }
    case kSettingsSharedPrefix: {
      const auto& shared = Get(kCanonicalSharedRoot);
      if (!shared) return std::nullopt;
      return *shared + u"\\#SHAREDOBJECTS";
    }
    case kSettingsFolderPrefix: {
      const auto& shared = Get(kCanonicalSharedRoot);
      if (!shared) return std::nullopt;
      return *shared + u"\\" + Upper(Text(kMakerSiteFolderName)) + u"\\SUPPORT\\GLINTPLAYER\\SYS";
    }
    case kAddInRoot: {
      auto folder = ShellFolderText(CSIDL_PROGRAM_FILESX86, nullptr);
      if (!folder) return std::nullopt;
      return *folder + u"\\Arvex\\\\Glint Player\\\\AddIns\\";
    }
    case kCachedCount:
      break;
  }
  return std::nullopt;
}

const std::string& AdminConfigPath() {
  // The system folder of 32-bit programs, asked for through the loader (not
  // every system has it), else the system folder.
  static const std::string path = [] {
    MString folder = Wow64SystemFolder();
    if (folder.IsNull() || folder.IsEmpty()) folder = SystemFolder();
    if (folder.IsNull() || folder.IsEmpty()) return std::string();
    return ToUtf8(folder) + "\\Kestreli\\Glint\\gcs.cfg";
  }();
  return path;
}

bool ReadAdminBool(const std::string& key) {
  const std::string& path = AdminConfigPath();
  if (path.empty()) return false;
  int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
  UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got != 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > (16u << 20)) break;  // a configuration file is small
  }
  AdminConfig config = ParseAdminConfig(bytes.data(), bytes.size());
  return GetAdminBool(config, key);
}
