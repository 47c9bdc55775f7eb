#include "engine/ConflictingProcesses.h"

namespace {

// The configuration sections that name conflicts per type, in the order of
// kConflictTypeOrder.
constexpr const char16_t* kConflictSections[3] = {u"PluginConflicts.", u"ActiveXConflicts.",
                                                  u"PepperConflicts."};

MString LookupPath(const char16_t* section, const MString& base) {
  return MString(section) + base;
}

// A node's first value, or the base name when it has none (or an empty one).
MString DisplayName(const MConfigNode* node, const MString& base) {
  MString name = ConfigValue(node, 0);
  return name.IsEmpty() ? base : name;
}

MString LoweredFileName(const MString& path) {
  MString name = FromLastOf(path, "\\");
  if (name.IsNull()) return ToLowerAscii(path);
  name.Consume(1);
  return ToLowerAscii(name);
}

bool IsTypeChecked(const ConflictScanSetup& setup, const ConflictTypeState& type) {
  if (!setup.interactive) return type.installed;
  const bool sameFile = Equals(LoweredFileName(type.playerPath), ToLowerAscii(type.newFileName));
  return sameFile || setup.fullRemoval || setup.installVector == 8 || setup.installVector == 10;
}

// Whether one of the process's modules is the installed player of a checked type.
bool LoadsCheckedPlayer(const ProcessSnapshot& process, const ConflictScanSetup& setup,
                        uint32_t checked) {
  bool anyPlayer = false;
  for (uint32_t i = 0; i < 3; ++i) {
    anyPlayer |= (checked & kConflictTypeOrder[i]) != 0 && !setup.types[i].playerPath.IsEmpty();
  }
  if (!anyPlayer) return false;
  const std::vector<MString> loaded =
      process.loadModules ? process.loadModules() : std::vector<MString>();
  for (const MString& module : process.loadModules ? loaded : process.modulePaths) {
    for (uint32_t i = 0; i < 3; ++i) {
      const MString& player = setup.types[i].playerPath;
      if ((checked & kConflictTypeOrder[i]) != 0 && !player.IsEmpty() && Equals(module, player)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

MString ProcessBaseName(const MString& imageName) {
  const MString lowered = ToLowerAscii(imageName);
  for (uint32_t i = lowered.Length(); i > 0; --i) {
    if (lowered[i - 1] == u'.') return MString(lowered.CStr(), static_cast<int32_t>(i - 1));
  }
  return lowered;
}

uint32_t CheckedConflictTypes(const ConflictScanSetup& setup) {
  uint32_t checked = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t type = kConflictTypeOrder[i];
    if ((setup.mask & type) != 0 && IsTypeChecked(setup, setup.types[i])) checked |= type;
  }
  return checked;
}

ConflictDecision DecideConflicts(const ConflictScanSetup& setup, const MConfigNode* configTexts,
                                 const std::vector<ProcessSnapshot>& processes,
                                 MStringList& conflicts) {
  const uint32_t checked = CheckedConflictTypes(setup);
  const MString designated = ProcessBaseName(setup.designatedName);
  ConflictDecision decision;
  bool designatedSeen = false;
  for (const ProcessSnapshot& process : processes) {
    const MString base = ProcessBaseName(process.imageName);
    if (base.IsEmpty() || conflicts.Contains(base)) continue;
    if (FindConfigNodeByPrefixInTexts(configTexts, LookupPath(u"ConflictsToIgnore.", base))) {
      continue;
    }
    const MConfigNode* node = nullptr;
    for (uint32_t i = 0; i < 3 && node == nullptr; ++i) {
      if ((checked & kConflictTypeOrder[i]) == 0) continue;
      node = FindConfigNodeInTexts(configTexts, LookupPath(kConflictSections[i], base));
    }
    if (node != nullptr) {
      conflicts.Add(base, DisplayName(node, base));
    } else if (LoadsCheckedPlayer(process, setup, checked)) {
      const MConfigNode* friendly =
          FindConfigNodeInTexts(configTexts, LookupPath(u"FriendlyProcessNames.", base));
      conflicts.Add(base, DisplayName(friendly, base));
    }
    // A later designated process replaces an earlier one.
    if (Equals(base, designated)) {
      designatedSeen = true;
      decision.designatedId = process.id;
      decision.designatedPath = process.imagePath;
    }
  }
  if ((setup.mask & kPlayerActiveX) == 0 || !designatedSeen) return decision;
  // The designated process is left running while the browser that hosts the
  // control is itself a conflict, and is never the host.
  const bool browserConflicts =
      conflicts.Contains(MString(u"iexplore")) || conflicts.Contains(MString(u"iepreview"));
  const bool isHost = (setup.ownProcessId != 0 && decision.designatedId == setup.ownProcessId) ||
                      Equals(ToLowerAscii(decision.designatedPath), ToLowerAscii(setup.ownPath));
  decision.endDesignated = !browserConflicts && !isHost;
  return decision;
}
