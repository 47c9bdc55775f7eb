// Dotted player versions (major.minor.build.revision) and how an installed
// version compares with this build's.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

struct PlayerVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

// Leading digits of each dotted component; missing components are 0.
PlayerVersion ParsePlayerVersion(const MString& dotted);

enum InstalledVersionOrder : uint32_t {
  kVersionAbsent = 0,
  kVersionOlder = 1,
  kVersionSame = 2,
  kVersionNewer = 3,
};

// Compares an installed version with this build's (34.0.0.384). Within major
// 34 any non-zero minor or build counts as newer.
InstalledVersionOrder CompareWithOwnVersion(const MString& installed);
