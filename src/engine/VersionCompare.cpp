#include "engine/VersionCompare.h"

namespace {
constexpr uint32_t kOwnMajor = 34;
constexpr uint32_t kOwnRevision = 384;
}  // namespace

PlayerVersion ParsePlayerVersion(const MString& dotted) {
  MString rest = dotted;
  uint32_t parts[4] = {};
  for (uint32_t& part : parts) {
    MString component = TakeSpan(rest, ".", SpanMode::Excluding);
    part = ParseUnsigned(component);
    if (rest.IsEmpty()) break;
    rest.Consume(1);
  }
  return PlayerVersion{parts[0], parts[1], parts[2], parts[3]};
}

InstalledVersionOrder CompareWithOwnVersion(const MString& installed) {
  PlayerVersion v = ParsePlayerVersion(installed);
  if (v.major > kOwnMajor) return kVersionNewer;
  if (v.major < kOwnMajor) return kVersionOlder;
  if (v.minor != 0 || v.build != 0) return kVersionNewer;
  if (v.revision < kOwnRevision) return kVersionOlder;
  if (v.revision == kOwnRevision) return kVersionSame;
  return kVersionNewer;
}
