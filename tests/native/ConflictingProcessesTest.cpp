// The conflicting-application decision over process snapshots.
#include <gtest/gtest.h>

#include <string>

#include "TestStrings.h"
#include "engine/ConflictingProcesses.h"
#include "engine/SetupRules.h"

namespace {

constexpr char16_t kFolder[] = u"C:\\windows\\system32\\Kestreli\\Glint\\";
const MString kPlugin = MString(kFolder) + u"NPGlint34_0_0_384.dll"_ms;
const MString kControl = MString(kFolder) + u"GlintAX34_0_0_384.ocx"_ms;
const MString kPepper = MString(kFolder) + u"pepglint_34_0_0_384.dll"_ms;
constexpr uint32_t kAll = kPlayerPlugin | kPlayerActiveX | kPlayerPepper;

struct Conflicts : testing::Test {
  Conflicts() {
    AppendParsedConfigText(config, MString(uR"(
      ConflictsToIgnore { ignored; };
      PluginConflicts { opera "Other browser"; dual "Dual Plugin"; novalue; };
      ActiveXConflicts { dual "Dual ActiveX"; iexplore "Internet Explorer"; };
      PepperConflicts { dual "Dual Pepper"; };
      FriendlyProcessNames { firefox "Web browser" { beta "Web browser beta"; }; ignored "Never"; };)"));
    const MString players[3] = {kPlugin, kControl, kPepper};
    for (int i = 0; i < 3; ++i) setup.types[i] = {true, players[i], LastName(players[i])};
    setup.mask = kAll;
    setup.designatedName = u"GlintAX.exe"_ms;
    setup.ownPath = u"C:\\Program Files\\Glint\\glinthost.exe"_ms;
    setup.ownProcessId = 900;
  }
  MConfigList config;
  ConflictScanSetup setup;
};

ProcessSnapshot Process(uint32_t id, const char16_t* name, std::vector<MString> modules = {}) {
  return {id, Str(name), MString(u"C:\\apps\\") + Str(name), std::move(modules), {}};
}

TEST_F(Conflicts, CheckedTypesFollowTheFileNameRule) {
  // clang-format off
  const struct { bool interactive, installed, full; uint32_t vector; const char16_t* newName; bool checked; } cases[] = {
      {true, true, false, 0, u"npglint34_0_0_384.DLL", true} /* same name, case aside */,
      {true, true, false, 0, u"NPGlint35.dll", false}, {true, true, true, 0, u"NPGlint35.dll", true},
      {true, true, false, 8, u"NPGlint35.dll", true}, {true, true, false, 10, u"NPGlint35.dll", true},
      {true, true, false, 9, u"NPGlint35.dll", false},
      {true, false, false, 0, u"", true} /* no record: no file name, equal to none */,
      {false, true, false, 0, u"NPGlint35.dll", true} /* non-interactive: installed types */,
      {false, false, true, 8, u"NPGlint34_0_0_384.dll", false},
  };
  // clang-format on
  for (const auto& c : cases) {
    setup.interactive = c.interactive;
    setup.fullRemoval = c.full;
    setup.installVector = c.vector;
    setup.types[0] = {c.installed, c.installed ? kPlugin : MString(), Str(c.newName)};
    setup.mask = kPlayerPlugin | kPlayerPepper;
    EXPECT_EQ(CheckedConflictTypes(setup), (c.checked ? kPlayerPlugin : 0u) | kPlayerPepper)
        << c.interactive << c.installed << c.full << c.vector << Show(Str(c.newName));
  }
  setup.mask = kPlayerActiveX;
  EXPECT_EQ(CheckedConflictTypes(setup), uint32_t{kPlayerActiveX});
}

// `ended`: the id of the designated process that is ended, 0 for none.
TEST_F(Conflicts, ConfigurationModulesAndTheDesignatedProcess) {
  const auto glintax = [](uint32_t id, const char16_t* path) {
    return ProcessSnapshot{id, u"glintax.exe"_ms, Str(path), {}, {}};
  };
  const MString otherCase = ToLowerAscii(kPlugin);
  constexpr uint32_t kNoControl = kPlayerPlugin | kPlayerPepper;
  // clang-format off
  const struct { uint32_t mask; std::vector<ProcessSnapshot> processes; const char* found; uint32_t ended; } cases[] = {
      {kAll, {Process(1, u"firefox.exe", {u"C:\\x\\a.dll"_ms, kPlugin}), Process(2, u"holder.exe", {kPepper}),
              Process(3, u"FireFox.Beta.EXE", {kControl})},  // friendly names or the base name
       "firefox=Web browser|holder=holder|firefox.beta=Web browser beta", 0},
      {kAll, {Process(1, u"firefox.exe", {otherCase, kPlugin + u" "_ms, MString(kFolder)})}, "", 0},
      {kPlayerPlugin, {Process(1, u"firefox.exe", {kControl, kPepper})}, "", 0},  // unchecked types
      {kAll, {Process(1, u"dual.exe")}, "dual=Dual Plugin", 0},
      {kPlayerActiveX | kPlayerPepper, {Process(1, u"dual.exe")}, "dual=Dual ActiveX", 0},
      {kPlayerPepper, {Process(1, u"dual.exe"), Process(2, u"opera.exe"), Process(3, u"iexplore.exe")}, "dual=Dual Pepper", 0},
      {kAll, {Process(1, u"novalue.exe"), Process(2, u"opera.exe", {kPlugin})}, "novalue=novalue|opera=Other browser", 0},
      {kAll, {Process(1, u"Firefox.exe", {kPlugin}), Process(2, u"opera.exe"), Process(3, u"firefox.EXE", {kPlugin})},
       "firefox=Web browser|opera=Other browser", 0},
      {kAll, {Process(1, u"ignored.exe", {kPlugin}), Process(2, u"ignored64.exe", {kPlugin}),
              Process(3, nullptr, {kPlugin}), Process(4, u"", {kPlugin}), Process(5, u".exe", {kPlugin}),
              Process(6, u"services.exe"), Process(7, u"a..exe", {kPlugin})}, "a.=a.", 0},
      {kAll, {glintax(40, u"C:\\a\\glintax.exe")}, "", 40},
      {kPlayerActiveX, {glintax(40, u"C:\\a\\glintax.exe"), glintax(41, u"C:\\b\\glintax.exe")}, "", 41},
      {kNoControl, {glintax(40, u"C:\\a\\glintax.exe")}, "", 0},
      {kAll, {glintax(40, u"C:\\a\\glintax.exe"), Process(2, u"iexplore.exe")}, "iexplore=Internet Explorer", 0},
      {kAll, {Process(2, u"iepreview.exe", {kControl}), glintax(40, u"C:\\a\\glintax.exe")}, "iepreview=iepreview", 0},
      {kAll, {glintax(40, u"c:\\program files\\GLINT\\GlintHost.exe")}, "", 0},  // the host's path
      {kAll, {glintax(900, u"C:\\a\\glintax.exe")}, "", 0},  // the host's id
  };
  // clang-format on
  for (const auto& c : cases) {
    setup.mask = c.mask;
    MStringList list;
    const ConflictDecision decision = DecideConflicts(setup, config.get(), c.processes, list);
    std::string found;
    for (const auto& node : list)
      found += (found.empty() ? "" : "|") + Show(node.key) + "=" + Show(node.value);
    EXPECT_EQ(found, c.found) << Show(c.processes[0].imageName) << " " << c.mask;
    EXPECT_EQ(decision.endDesignated ? decision.designatedId : 0, c.ended) << found;
  }
}

}  // namespace
