// Which running applications conflict with the player files being replaced
// or removed, decided without the system over a snapshot of the processes.
// The system layer gathers the snapshot and the host's answers, and ends the
// designated process when the decision says so.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/HostCallbacks.h"
#include "foundation/MConfigNode.h"
#include "foundation/MString.h"
#include "foundation/MStringList.h"

// The player types in the order the scan tries them.
inline constexpr uint32_t kConflictTypeOrder[3] = {kPlayerPlugin, kPlayerActiveX, kPlayerPepper};

// One player type as the setup sees it.
struct ConflictTypeState {
  bool installed = false;  // the type has an install record
  MString playerPath;      // the record's player file, as recorded
  MString newFileName;     // the file name of the player file being installed
};

struct ConflictScanSetup {
  uint32_t mask = 0;  // the requested player types
  bool interactive = true;
  bool fullRemoval = false;
  uint32_t installVector = 0;
  ConflictTypeState types[3];  // in kConflictTypeOrder
  MString designatedName;      // image name of the process an ActiveX scan may end
  MString ownPath;             // the host's own executable
  uint32_t ownProcessId = 0;   // never ended, whatever its path reads as (0: not known)
};

struct ProcessSnapshot {
  uint32_t id = 0;
  MString imageName;                 // null or empty when the process could not be opened
  MString imagePath;                 // its full path
  std::vector<MString> modulePaths;  // as the process spelled them; none when not listed
  // When set, asked for the module paths (in place of `modulePaths`) only
  // if the decision comes to them: listing modules is the scan's dear part.
  std::function<std::vector<MString>()> loadModules;
};

struct ConflictDecision {
  bool endDesignated = false;  // end the process below
  uint32_t designatedId = 0;
  MString designatedPath;
};

// The lowered image name up to its last '.' (the whole name without one).
// Dots left inside it make a deeper configuration path, as lookups are dotted.
MString ProcessBaseName(const MString& imageName);

// The requested types the scan checks. An interactive host checks a type
// unless the installed file name differs from the one being installed (both
// lowered), the removal is not full and the install vector is neither 8 nor
// 10; otherwise a type is checked exactly when it is installed.
uint32_t CheckedConflictTypes(const ConflictScanSetup& setup);

// Adds each conflicting process to `conflicts` as (base name, display name),
// one entry per base name, in snapshot order. `configTexts` is the host's
// list of parsed configuration texts.
ConflictDecision DecideConflicts(const ConflictScanSetup& setup, const MConfigNode* configTexts,
                                 const std::vector<ProcessSnapshot>& processes,
                                 MStringList& conflicts);
