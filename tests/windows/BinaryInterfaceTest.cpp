// The binary interfaces between host and library: slot numbers of the shim and
// of the host callbacks, string ownership across Start, a clean Start/destroy.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "WineTestSupport.h"
#include "engine/SetupEngine.h"
#include "foundation/WideText.h"

namespace {

// A string in the test's own buffer whose release routine counts its calls.
int g_foreignReleases = 0;
MStringArg ForeignString(const char16_t* text) {
  size_t length = std::char_traits<char16_t>::length(text);
  auto* buffer = static_cast<MStringBuffer*>(
      std::malloc(sizeof(MStringBuffer) + (length + 1) * sizeof(char16_t)));
  buffer->count = 1;
  buffer->length = static_cast<uint32_t>(length);
  buffer->release = [](MStringBuffer* b) { ++g_foreignReleases, std::free(b); };
  std::memcpy(buffer->Units(), text, (length + 1) * sizeof(char16_t));
  return MStringArg{buffer, 0};
}

// Bytes in use in every heap of the process.
size_t HeapBytesInUse() {
  HANDLE heaps[64];
  DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
  size_t total = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      total += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
    HeapUnlock(heaps[i]);
  }
  return total;
}

template <typename Fn>
Fn Slot(const void* object, size_t slot) {
  return reinterpret_cast<Fn>((*static_cast<void* const* const*>(object))[slot]);
}

TEST_F(ShimTest, ShimSlotsAnswerThroughTheRawTable) {
  GlintBrokerShim* shim = library_.Start()(host_.get());
  ASSERT_NE(shim, nullptr);
  // Slot 29 answers the engine, slot 62 the registered flag (clear after Start).
  SetupEngine* engine = Slot<SetupEngine* (*)(GlintBrokerShim*)>(shim, 29)(shim);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine, shim->GetEngine());
  EXPECT_EQ(ToUtf8(engine->ownVersion), "34.0.0.384");
  EXPECT_FALSE(Slot<bool (*)(GlintBrokerShim*)>(shim, 62)(shim));
  // Slot 45 adds to the ActiveX keep list that slot 42 returns; 46 and 43 for the plugin list.
  using Add = bool (*)(GlintBrokerShim*, MStringArg);
  using List = MStringList* (*)(GlintBrokerShim*);
  MString name(u"GlintAX.ocx");
  EXPECT_TRUE(Slot<Add>(shim, 45)(shim, name.Give()));
  EXPECT_TRUE(Slot<Add>(shim, 46)(shim, MString(u"NPGlint.dll").Give()));
  MStringList* activeX = Slot<List>(shim, 42)(shim);
  ASSERT_EQ(activeX->Count(), 1u);
  EXPECT_TRUE(activeX->Contains(name));
  EXPECT_EQ(activeX, &engine->keepListActiveX);
  EXPECT_TRUE(Slot<List>(shim, 43)(shim)->Contains(MString(u"NPGlint.dll")));
  Slot<void (*)(GlintBrokerShim*)>(shim, 0)(shim);  // destroys engine and shim
}

TEST_F(ShimTest, StringsAreReleasedByTheirOwner) {
  // A string from the library names a release routine inside GlintUtil.dll.
  MString version = shim()->GetEngine()->ownVersion;
  ASSERT_NE(version.Buffer(), nullptr);
  HMODULE owner = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(version.Buffer()->release), &owner));
  EXPECT_EQ(owner, library_.Module());
  EXPECT_EQ(version.Buffer()->count, 2);
  g_foreignReleases = 0;
  // Slot 55 takes a string and ignores it; one the engine keeps goes with the engine.
  EXPECT_FALSE(shim()->NoOperation(ForeignString(u"ignored")));
  EXPECT_EQ(g_foreignReleases, 1);
  EXPECT_TRUE(shim()->AddPepperKeep(ForeignString(u"kept.dll")));
  EXPECT_EQ(g_foreignReleases, 1);
  shim_.Reset();
  EXPECT_EQ(g_foreignReleases, 2);
}

TEST_F(ShimTest, StartThenDestroyLeavesNothingBehind) {
  auto cycles = [&](int count) {
    for (int i = 0; i < count; ++i) {
      ShimHandle shim(library_.Start()(host_.get()));
      ASSERT_TRUE(shim);
      shim->AddActiveXKeep(MString(u"a.ocx").Give());
    }
  };
  cycles(200);  // warm up the heap
  const size_t before = HeapBytesInUse();
  ASSERT_GT(before, 0u);
  DWORD handlesBefore = 0, handlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
  cycles(10000);
  GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
  // A leak of even one small block per cycle would add hundreds of KiB.
  EXPECT_LT(HeapBytesInUse(), before + 64 * 1024);
  EXPECT_EQ(handlesAfter, handlesBefore);
}

// The host's slots that the library calls by number land on the right functions.
TEST(HostCallbackTable, SlotsLandOnTheRightFunctions) {
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  host.AddConfiguration(
      MString(u"HostFlags 1040; InstallVector 8; WindowsGeneration 1; IsFull 1; FullRemoval 1;"
              u"UpdateServiceFileName \"GlintUpdate.exe\"; HostStrings { 7 \"Installed ^\"; }"));
  const void* object = &host;
  Slot<void (*)(HostCallbacks*, int32_t, int32_t, uint32_t, MStringArg)>(object, 1)(
      &host, 0, 1, 1037, MString(u"Software\\Kestrelink/Value 2").Give());
  ASSERT_EQ(host.Reports().size(), 1u);
  const StatusReport& r = host.Reports()[0];
  EXPECT_EQ(std::to_string(r.level) + " " + std::to_string(r.code) + " " + ToUtf8(r.detail),
            "1 1037 Software\\Kestrelink/Value 2");
  // Slot 3 answers through the string alone; without a text it leaves it.
  using LoadHostString = void (*)(HostCallbacks*, MString*, uint32_t, int32_t);
  MString text;
  for (uint32_t id : {7, 8}) {
    Slot<LoadHostString>(object, 3)(&host, &text, id, 0);
    EXPECT_EQ(ToUtf8(text), "Installed ^") << id;
  }
  EXPECT_EQ(Slot<uint32_t (*)(HostCallbacks*)>(object, 5)(&host), 1040u);
  EXPECT_TRUE(Slot<bool (*)(HostCallbacks*)>(object, 14)(&host));
  MString name;
  Slot<void (*)(HostCallbacks*, MString*)>(object, 21)(&host, &name);
  EXPECT_EQ(ToUtf8(name), "GlintUpdate.exe");
  EXPECT_NE(Slot<const MConfigNode* (*)(HostCallbacks*)>(object, 24)(&host), nullptr);
  EXPECT_EQ(Slot<uint32_t (*)(HostCallbacks*)>(object, 25)(&host), 8u);
  EXPECT_EQ(Slot<int32_t (*)(HostCallbacks*)>(object, 32)(&host), 1);
  // The resource module is the third pointer-sized field.
  int marker = 0;
  host.SetResourceModule(&marker);
  EXPECT_EQ(static_cast<void* const*>(object)[2], &marker);
}

}  // namespace
