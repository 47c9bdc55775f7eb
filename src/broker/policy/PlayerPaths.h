// The storage path policy: which paths the sandboxed player may read, write
// and create folders in. Decisions are made on the canonical, upper-cased,
// link-resolved form of a path, so relative components, alternative
// spellings, device prefixes and links cannot lead out of the player's
// folders. The string rules live in PathRules; this class supplies the
// system's answers (folders, full paths, upper-casing, links).
#pragma once

#include <optional>
#include <string>

#include "broker/policy/PathRules.h"
#include "foundation/DynamicLoadLibraryHelper.h"

class PlayerPaths {
 public:
  using Text = PathRules::Text;

  explicit PlayerPaths(bool brokerMode);
  PlayerPaths(const PlayerPaths&) = delete;
  PlayerPaths& operator=(const PlayerPaths&) = delete;

  void SetUseLocalAppData(bool use) { useLocalAppData_ = use; }
  bool UseLocalAppData() const { return useLocalAppData_; }

  // Canonical form, or nothing when the path is refused outright.
  std::optional<Text> Canonicalize(const Text& path, bool upper);
  // One link resolution on canonical text: failure, or success with or
  // without a target.
  PathRules::LinkStep ResolveLinks(const Text& canonical);

  bool MayRead(const Text& path);
  // `temporary` tells a permitted path in the low temporary folder.
  bool MayWrite(const Text& path, bool checkExtension, bool* settingsArea = nullptr,
                bool* temporary = nullptr);
  bool MayCreateDirectory(const Text& path);
  bool IsSettingsArea(const Text& canonical);

  // A directory search: the folder it looks into (a full path) and its name
  // pattern, when the read rule admits that folder; nothing otherwise.
  std::optional<PathRules::SearchPattern> MayList(const Text& pattern);

  // The rules again on the path the system actually opened (a final path,
  // with every link already resolved): no walk over links is needed.
  bool MayReadOpened(const Text& finalPath);
  bool MayWriteOpened(const Text& finalPath, bool checkExtension);
  bool MayCreateDirectoryOpened(const Text& finalPath);
  // The path the system opened is the path that was decided on: their
  // canonical forms match (no link led elsewhere).
  bool IsSamePlace(const Text& finalPath, const Text& path);

  // "<LOCAL_APPDATA>" at the start becomes the local application data folder.
  Text ExpandPlayerPath(const Text& path);

  // The folders, computed on first use and kept (nothing when unavailable).
  const std::optional<Text>& LocalAppData();
  const std::optional<Text>& AppData();
  const std::optional<Text>& LowTemporaryFolder();
  const std::optional<Text>& SharedObjectsRoot();
  const std::optional<Text>& PlayerDataRoot();
  const std::optional<Text>& MakerSiteFolder();

 private:
  enum Cached {
    kLocalAppData,
    kAppData,
    kLowTemp,
    kSharedRoot,
    kPlayerDataRoot,
    kMakerSite,
    kCanonicalAppData,
    kCanonicalLocalAppData,
    kCanonicalLowTemp,
    kCanonicalSharedRoot,
    kCanonicalPlayerDataRoot,
    kCanonicalMakerSite,
    kCanonicalSystemFolder,
    kCanonicalSystemFolderX86,
    kSettingsSharedPrefix,
    kSettingsFolderPrefix,
    kAddInRoot,
    kCachedCount
  };

  const std::optional<Text>& Get(Cached which);
  std::optional<Text> Compute(Cached which);
  std::optional<Text> ShellFolderText(int csidl, const wchar_t* registryName);
  std::optional<Text> CanonicalOf(Cached which);
  // The full path, expanded until it no longer changes (at most 100 times).
  std::optional<Text> FullPath(const Text& path);
  // The canonical path in its own case, refused where the upper-case form is.
  std::optional<Text> CanonicalForQuery(const Text& path);
  // The canonical path, in its own case, after its link chain; nothing on
  // refusal.
  // `missing` tells a refusal that came from a folder that does not exist.
  std::optional<Text> ResolvedCanonical(const Text& path, bool* missing = nullptr);
  // For reads and new folders: the link chain must not lead outside the
  // rule; a path whose folders do not exist yet has no links to follow.
  bool LinksStayWithin(const Text& path, const Text& canonical,
                       bool (PlayerPaths::*rule)(const Text&));
  std::optional<Text> LongForm(const Text& canonical);
  bool ReadRule(const Text& canonical);
  bool WriteRule(const Text& canonical, bool checkExtension, bool* temporary);
  std::optional<Text> OpenedCanonical(const Text& finalPath);
  bool CreateDirectoryRule(const Text& canonical);
  Text Upper(const Text& text);

  bool brokerMode_;
  Kernel32DllHelper kernel32_;
  User32DllHelper user32_;
  Shell32DllHelper shell32_;
  VersionDllHelper version_;
  bool useLocalAppData_ = false;
  std::optional<Text> cache_[kCachedCount];
};

// The administrator configuration file: the system folder of 32-bit
// programs (or the system folder) + "\Kestreli\Glint\gcs.cfg", as UTF-8.
const std::string& AdminConfigPath();
// "EnableLocalAppData" (or any key) of the administrator file, read afresh.
bool ReadAdminBool(const std::string& key);
