// The setup engine: fixed strings of this build and the configuration-driven
// name lists that registration, uninstall and removal steps work through.
#pragma once

#include <cstdint>

#include "foundation/MString.h"
#include "foundation/MStringList.h"

class GlintBrokerShim;

// This build's player version.
inline constexpr char16_t kOwnVersion[] = u"34.0.0.384";

// The current user's per-user bin folder: roaming application data, then
// "Kestrelink\Glint Player\", the maker-site folder and "bin".
MString UserBinFolder();

class SetupEngine {
 public:
  explicit SetupEngine(GlintBrokerShim* shim);
  SetupEngine(const SetupEngine&) = delete;
  SetupEngine& operator=(const SetupEngine&) = delete;

  GlintBrokerShim* Shim() const { return shim; }
  // The keep list of one player type; null for anything else.
  const MStringList* KeepList(uint32_t type) const;

  MString uninstallKey;
  MString uninstallKey32;
  MString productCodes[4];
  MString ownVersion;
  MStringList arpGuidsActiveX;
  MStringList arpGuidsPlugin;
  MStringList arpGuidsPepper;
  MStringList fileNamesActiveX;
  MStringList fileNamesPlugin;
  MStringList browserPluginFolders;
  MStringList filePatternsActiveX;
  MStringList filePatternsPlugin;
  MStringList filePatternsPepper;
  MStringList systemFolderListing;
  MStringList keepListActiveX;
  MStringList keepListPlugin;
  MStringList keepListPepper;
  MStringList productFolderPatterns;
  MStringList userBinListing;
  MStringList otherFilePatterns;

 private:
  GlintBrokerShim* shim;
};
