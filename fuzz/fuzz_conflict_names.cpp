// Process base names and the configuration lookups made of them, from
// arbitrary text: the first line is an image name, the rest configuration
// text. A base never exceeds its name, and processes of one image give at
// most one conflict, named by that base.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/ConflictingProcesses.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MString config = FromUtf8(data, size);
  const MString name = TakeSpan(config, "\n", SpanMode::Excluding);
  config.Consume(1);

  const MString base = ProcessBaseName(name);
  Check(base.Length() <= name.Length());
  Check(StartsWith(ToLowerAscii(name), base) && Equals(ToLowerAscii(base), base));
  if (base.Length() < name.Length()) Check(name[base.Length()] == u'.');

  MConfigList texts;
  AppendParsedConfigText(texts, config);
  const MString player = u"C:\\windows\\system32\\Kestreli\\Glint\\"_ms + name;
  ConflictScanSetup setup;
  setup.mask = kPlayerPlugin | kPlayerActiveX | kPlayerPepper;
  for (ConflictTypeState& type : setup.types) type = {true, player, name};
  setup.designatedName = name;
  setup.ownPath = player;
  const std::vector<ProcessSnapshot> processes = {
      {1, name, player, {}, {}},
      {2, name, u"C:\\apps\\x.exe"_ms, {player}, {}},
      {3, name, name, {}, [&] { return std::vector<MString>{player}; }}};
  MStringList conflicts;
  const ConflictDecision decision = DecideConflicts(setup, texts.get(), processes, conflicts);
  Check(conflicts.Count() <= 1 && (!base.IsEmpty() || conflicts.Count() == 0));
  for (const auto& node : conflicts) Check(Equals(node.key, base) && !node.value.IsEmpty());
  if (decision.endDesignated) {
    Check(!base.IsEmpty() && !Equals(ToLowerAscii(decision.designatedPath), ToLowerAscii(player)));
  }
  return 0;
}
