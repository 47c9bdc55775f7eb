// The local-connection block without the system: entry format and realms,
// the connection list's order and capacity, dispatch rules, target names,
// pruning, the recursive lock, and blocks that other processes have filled
// with anything at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LcdMemoryAccessor.h"

namespace {

using namespace std::string_literals;

// The connection list up to and including its terminating empty string.
std::string List(const MemoryLcdAccessor& a) {
  const char* start = reinterpret_cast<const char*>(a.Bytes() + lcd::kListOffset);
  std::string out;
  for (uint32_t i = 0; i + 1 < lcd::kListSize; ++i) {
    out += start[i];
    if (start[i] == 0 && (i == 0 || start[i - 1] == 0)) break;
  }
  return out;
}

// What a peer writes straight into the list.
void WriteList(MemoryLcdAccessor& a, const std::string& bytes) {
  std::memcpy(a.Bytes() + lcd::kListOffset, bytes.data(), bytes.size());
}

// A broker-written entry.
std::string Entry(const std::string& name, char format, uint32_t realm) {
  return name + "\0::"s + format + "\0::"s + static_cast<char>('1' + realm) + '\0';
}

uint32_t Field(const MemoryLcdAccessor& a, uint32_t offset) {
  uint32_t v;
  std::memcpy(&v, a.Bytes() + offset, sizeof v);
  return v;
}

void SetField(MemoryLcdAccessor& a, uint32_t offset, uint32_t value) {
  std::memcpy(a.Bytes() + offset, &value, sizeof value);
}

// A message whose first value names its target: 0x02 with a 16-bit length.
std::vector<uint8_t> MessageTo(const std::string& target, const std::string& rest = "payload") {
  std::vector<uint8_t> m = {lcd::kShortStringMarker, static_cast<uint8_t>(target.size() >> 8),
                            static_cast<uint8_t>(target.size())};
  m.insert(m.end(), target.begin(), target.end());
  m.insert(m.end(), rest.begin(), rest.end());
  return m;
}

// A message a peer posted directly.
void PostRaw(MemoryLcdAccessor& a, const std::vector<uint8_t>& bytes, uint32_t time) {
  std::memcpy(a.Bytes() + lcd::kDataOffset, bytes.data(), bytes.size());
  SetField(a, lcd::kLengthOffset, static_cast<uint32_t>(bytes.size()));
  SetField(a, lcd::kTimeOffset, time);
}

int32_t Dispatch(MemoryLcdAccessor& a, const std::vector<uint8_t>& m, uint32_t sender,
                 uint32_t expected, uint32_t realm) {
  return a.DispatchMessage(m.data(), static_cast<uint32_t>(m.size()), sender, expected, realm);
}

std::string Target(MemoryLcdAccessor& a, size_t size = lcd::kTargetBufferSize) {
  std::vector<char> buffer(size, 'z');
  return a.GetMessageTarget(buffer.data(), size) ? std::string(buffer.data()) : "<none>";
}

// --- entries and realms -----------------------------------------------------------

TEST(LcdEntries, TheBrokerWritesNameFormatAndRealm) {
  struct Case {
    std::string name;
    uint32_t realm;
    int32_t version;
    std::string list;
    int32_t format;
  } cases[] = {
      {"recv", 0, 0x32, "recv\0::2\0::1\0\0"s, 2},
      {"_recv", 2, 0x33, "_recv\0::3\0::3\0\0"s, 3},
      {"a", 1, 0x7731, "a\0::1\0::2\0\0"s, 1},  // only the low byte is kept
      {"localhost:chat", 3, 0x39, "localhost:chat\0::9\0::4\0\0"s, 9},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection(c.name, c.realm, c.realm, c.version)) << c.name;
    EXPECT_EQ(List(a), c.list) << c.name;
    EXPECT_EQ(a.FindConnectionFormat(c.name, c.realm), c.format) << c.name;
  }
}

TEST(LcdEntries, RealmsSeeEachOtherByTheTable) {
  // visible[added][sought]
  const bool visible[4][4] = {{true, false, true, true},
                              {false, true, false, true},
                              {true, false, true, true},
                              {true, true, true, true}};
  for (uint32_t added = 0; added < 4; ++added) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection("conn", added, added, '2'));
    for (uint32_t sought = 0; sought < 4; ++sought) {
      EXPECT_EQ(a.FindConnectionFormat("conn", sought) != 0, visible[added][sought])
          << "added " << added << " sought " << sought;
      // Adding is refused exactly where the entry is seen.
      MemoryLcdAccessor b;
      ASSERT_TRUE(b.TryAddConnection("conn", added, added, '2'));
      EXPECT_EQ(b.TryAddConnection("conn", sought, sought, '2'), !visible[added][sought]);
    }
  }
}

TEST(LcdEntries, EntriesWithoutSuffixesMatchEveryRealm) {
  struct Case {
    std::string list;
    int32_t format;
  } cases[] = {
      {"old\0\0"s, 1},             // a bare name
      {"old\0::7\0\0"s, 7},        // a format but no realm
      {"old\0::7\0next\0\0"s, 7},  // the same, followed by another entry
      {"old\0:x7\0::1\0\0"s, 1},   // not the suffix shape
  };
  for (const Case& c : cases) {
    for (uint32_t realm : {0u, 1u, 2u, 3u, 9u, 0xFFFFFFFFu}) {
      MemoryLcdAccessor a;
      WriteList(a, c.list);
      EXPECT_EQ(a.FindConnectionFormat("old", realm), c.format) << realm;
      EXPECT_FALSE(a.TryAddConnection("old", realm, realm, '2'));
    }
  }
}

TEST(LcdEntries, NamesCompareByteForByte) {
  MemoryLcdAccessor a;
  ASSERT_TRUE(a.TryAddConnection("Chat", 0, 0, '2'));
  EXPECT_EQ(a.FindConnectionFormat("chat", 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("Cha", 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("Chat2", 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("Chat\0"s, 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("", 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("Chat", 0), 2);
  EXPECT_TRUE(a.TryAddConnection("chat", 0, 0, '2'));
}

TEST(LcdEntries, EntriesThatWouldBreakTheListAreRefused) {
  struct Case {
    const char* why;
    std::string name;
    uint32_t realm;
    int32_t version;
  } cases[] = {
      {"empty name", "", 0, '2'},
      {"NUL inside the name", "ab\0cd"s, 0, '2'},
      {"format byte 0", "name", 0, 0x100},
      {"realm byte 0", "name", 0xCF, '2'},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection("first", 0, 0, '2'));
    std::string before = List(a);
    EXPECT_FALSE(a.TryAddConnection(c.name, 0, c.realm, c.version)) << c.why;
    EXPECT_EQ(List(a), before) << c.why;
  }
}

TEST(LcdEntries, RemovingKeepsTheOthersInOrder) {
  const std::string a1 = Entry("alpha", '2', 0), b1 = Entry("beta", '3', 1),
                    c1 = Entry("gamma", '2', 2);
  struct Case {
    std::string name;
    uint32_t realm;
    bool removed;
    std::string left;
  } cases[] = {
      {"beta", 1, true, a1 + c1 + '\0'},        {"alpha", 0, true, b1 + c1 + '\0'},
      {"gamma", 3, true, a1 + b1 + '\0'},       {"beta", 0, false, a1 + b1 + c1 + '\0'},
      {"delta", 3, false, a1 + b1 + c1 + '\0'}, {"", 3, false, a1 + b1 + c1 + '\0'},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection("alpha", 0, 0, '2'));
    ASSERT_TRUE(a.TryAddConnection("beta", 1, 1, '3'));
    ASSERT_TRUE(a.TryAddConnection("gamma", 2, 2, '2'));
    EXPECT_EQ(a.RemoveConnection(c.name, c.realm), c.removed) << c.name;
    EXPECT_EQ(List(a), c.left) << c.name;
  }
}

TEST(LcdEntries, RemovingOldEntriesTakesOnlyTheirOwnStrings) {
  struct Case {
    std::string list;
    std::string left;
  } cases[] = {
      {"a\0old\0b\0\0"s, "a\0b\0\0"s},
      {"old\0::5\0b\0\0"s, "b\0\0"s},
      {"old\0::5\0::1\0b\0\0"s, "b\0\0"s},
      // A format string that ends the list: the list now ends where the entry began.
      {"x\0old\0::\0\0"s, "x\0\0"s},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    WriteList(a, c.list);
    EXPECT_TRUE(a.RemoveConnection("old", 0));
    EXPECT_EQ(List(a), c.left);
  }
}

TEST(LcdEntries, AFullListRefusesTheEntryThatDoesNotFit) {
  // A filler entry puts the list's end where the new entry ("name", 13 bytes
  // plus the new terminating NUL) just fits, or misses by one byte.
  const uint32_t entry = 4 + 9;
  for (uint32_t extra : {0u, 1u}) {
    MemoryLcdAccessor a;
    std::string filler(lcd::kListSize - entry - 2 + extra, 'f');
    WriteList(a, filler + "\0\0"s);
    EXPECT_EQ(a.TryAddConnection("name", 0, 0, '2'), extra == 0) << extra;
    if (extra == 0) {
      EXPECT_EQ(a.FindConnectionFormat("name", 0), 2);
      EXPECT_EQ(a.Bytes()[lcd::kBlockSize - 1], 0);
    }
  }
  // Filled entry by entry, the list ends full and every name stays findable.
  MemoryLcdAccessor a;
  int added = 0;
  while (a.TryAddConnection("connection-" + std::to_string(added), 0, 0, '2')) ++added;
  EXPECT_GT(added, 900);
  for (int i = 0; i < added; i += 97) {
    EXPECT_EQ(a.FindConnectionFormat("connection-" + std::to_string(i), 0), 2) << i;
  }
  EXPECT_EQ(a.FindConnectionFormat("connection-" + std::to_string(added), 0), 0);
  // A removal makes room again.
  EXPECT_TRUE(a.RemoveConnection("connection-7", 0));
  EXPECT_TRUE(a.TryAddConnection("connection-x", 0, 0, '2'));
}

// --- messages ---------------------------------------------------------------------

TEST(LcdDispatch, RulesBySenderVersion) {
  struct Case {
    const char* why;
    bool listening;
    uint32_t sender;
    uint32_t expected;
    uint32_t realm;
    int32_t result;
    bool pending;
  } cases[] = {
      {"nobody listens", false, 8, 2, 0, lcd::kDispatchNoReceiver, false},
      {"nobody listens, new sender", false, 11, 2, 0, lcd::kDispatchNoReceiver, false},
      {"listener in another realm", true, 11, 2, 1, lcd::kDispatchNoReceiver, false},
      {"old sender ignores the format", true, 8, 3, 0, lcd::kDispatchPosted, true},
      {"format as expected", true, 9, 2, 0, lcd::kDispatchPosted, true},
      {"format differs, sender 9 keeps it", true, 9, 3, 0, lcd::kDispatchNoReceiver, true},
      {"format differs, sender 10 keeps it", true, 10, 3, 0, lcd::kDispatchNoReceiver, true},
      {"format differs, sender 11 clears it", true, 11, 3, 0, lcd::kDispatchNoReceiver, false},
      {"format as expected, sender 11", true, 11, 2, 2, lcd::kDispatchPosted, true},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    if (c.listening) ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
    a.clock = 4242;
    std::vector<uint8_t> m = MessageTo("recv");
    EXPECT_EQ(Dispatch(a, m, c.sender, c.expected, c.realm), c.result) << c.why;
    EXPECT_EQ(Field(a, lcd::kLengthOffset), c.pending ? m.size() : 0u) << c.why;
    EXPECT_EQ(Field(a, lcd::kTimeOffset), c.pending ? 4242u : 0u) << c.why;
    if (c.pending) {
      EXPECT_EQ(std::memcmp(a.Bytes() + lcd::kDataOffset, m.data(), m.size()), 0) << c.why;
    }
  }
}

TEST(LcdDispatch, APendingMessageIsKept) {
  MemoryLcdAccessor a;
  ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
  std::vector<uint8_t> first = MessageTo("recv", "first");
  ASSERT_EQ(Dispatch(a, first, 11, 2, 0), lcd::kDispatchPosted);
  EXPECT_EQ(Dispatch(a, MessageTo("recv", "second one"), 11, 2, 0), lcd::kDispatchRefused);
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(a.GetMessageData(&data, &length));
  EXPECT_EQ(std::vector<uint8_t>(data, data + length), first);
  EXPECT_EQ(data, a.Bytes() + lcd::kDataOffset);
  EXPECT_TRUE(a.ClearMessage());
  EXPECT_FALSE(a.GetMessageData(&data, &length));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(Dispatch(a, MessageTo("recv", "second one"), 11, 2, 0), lcd::kDispatchPosted);
}

TEST(LcdDispatch, ATargetThatCannotBeReadIsPostedUnchecked) {
  struct Case {
    const char* why;
    std::vector<uint8_t> message;
    int32_t result;
  } cases[] = {
      {"another first value", {0x06, 0, 4, 'r', 'e', 'c', 'v'}, lcd::kDispatchPosted},
      {"one byte", {lcd::kShortStringMarker}, lcd::kDispatchPosted},
      {"no message at all", {}, lcd::kDispatchPosted},
      {"name of 1023 bytes", MessageTo(std::string(1023, 'n')), lcd::kDispatchNoReceiver},
      {"name of 1024 bytes", MessageTo(std::string(1024, 'n')), lcd::kDispatchPosted},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    EXPECT_EQ(Dispatch(a, c.message, 11, 2, 0), c.result) << c.why;
  }
}

TEST(LcdDispatch, AMessageLongerThanTheDataAreaTouchesNothing) {
  MemoryLcdAccessor a;
  std::vector<uint8_t> m = MessageTo("recv", std::string(lcd::kDataSize, 'x'));
  std::vector<uint8_t> before(a.Bytes(), a.Bytes() + lcd::kBlockSize);
  EXPECT_EQ(Dispatch(a, m, 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(a.DispatchMessage(nullptr, 4, 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(std::vector<uint8_t>(a.Bytes(), a.Bytes() + lcd::kBlockSize), before);
  // Exactly the data area is taken (and cleared again: nobody listens).
  m.resize(lcd::kDataSize);
  EXPECT_EQ(Dispatch(a, m, 11, 2, 0), lcd::kDispatchNoReceiver);
}

TEST(LcdTarget, HeadersAndTheirLimits) {
  struct Case {
    const char* why;
    std::vector<uint8_t> message;
    std::string target;
  } cases[] = {
      {"16-bit length", {0x02, 0, 4, 'r', 'e', 'c', 'v', 0x0A}, "recv"},
      {"32-bit length", {0x0C, 0, 0, 0, 4, 'r', 'e', 'c', 'v'}, "recv"},
      {"name ends the message", {0x02, 0, 2, 'o', 'k'}, "ok"},
      {"empty name", {0x02, 0, 0}, ""},
      {"name past the message", {0x02, 0, 5, 'r', 'e', 'c', 'v'}, "<none>"},
      {"huge 32-bit length", {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}, "<none>"},
      {"32-bit length wraps with the header", {0x0C, 0xFF, 0xFF, 0xFF, 0xFE, 'x'}, "<none>"},
      {"16-bit header cut short", {0x02, 0}, "<none>"},
      {"32-bit header cut short", {0x0C, 0, 0, 0}, "<none>"},
      {"marker only", {0x0C}, "<none>"},
      {"another marker", {0x03, 0, 1, 'x'}, "<none>"},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    PostRaw(a, c.message, 0);
    EXPECT_EQ(Target(a), c.target) << c.why;
  }
  // The buffer must hold the name and its NUL.
  MemoryLcdAccessor a;
  PostRaw(a, MessageTo("abcd"), 0);
  EXPECT_EQ(Target(a, 5), "abcd");
  EXPECT_EQ(Target(a, 4), "<none>");
  EXPECT_EQ(Target(a, 1), "<none>");
  EXPECT_FALSE(a.GetMessageTarget(nullptr, 10));
}

// --- pruning ----------------------------------------------------------------------

TEST(LcdPrune, ADeadMessageTakesEveryConnectionOfItsTarget) {
  MemoryLcdAccessor a;
  ASSERT_TRUE(a.TryAddConnection("gone", 1, 1, '2'));
  ASSERT_TRUE(a.TryAddConnection("stay", 0, 0, '2'));
  ASSERT_TRUE(a.TryAddConnection("gone", 0, 0, '3'));
  WriteList(a, List(a).substr(0, List(a).size() - 1) + "gone\0\0"s);  // and an old entry
  a.clock = 1000;
  ASSERT_EQ(Dispatch(a, MessageTo("gone"), 11, 3, 0), lcd::kDispatchPosted);

  a.clock = 6000;  // exactly the timeout: still alive
  EXPECT_FALSE(a.PruneDeadMessage());
  EXPECT_NE(Field(a, lcd::kLengthOffset), 0u);
  a.clock = 6001;
  EXPECT_TRUE(a.PruneDeadMessage());
  EXPECT_EQ(List(a), Entry("stay", '2', 0) + '\0');
  EXPECT_EQ(Field(a, lcd::kLengthOffset), 0u);
  EXPECT_EQ(Field(a, lcd::kTimeOffset), 0u);
  EXPECT_FALSE(a.PruneDeadMessage());
}

TEST(LcdPrune, AgeIsTheSignedTickDifference) {
  struct Case {
    uint32_t posted;
    uint32_t now;
    bool pruned;
  } cases[] = {
      {0xFFFFF000u, 0xFFFFF000u + 6000u, true},  // the tick count wrapped
      {0xFFFFF000u, 0xFFFFF000u + 5000u, false},
      {10000, 9000, false},  // posted "later" than the lock: not dead
      {0, 0x80000000u, false},
      {0, 0x7FFFFFFFu, true},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    PostRaw(a, MessageTo("t"), c.posted);
    a.clock = c.now;
    EXPECT_EQ(a.PruneDeadMessage(), c.pruned) << c.posted << " " << c.now;
  }
}

TEST(LcdPrune, AGarbageMessageIsClearedOnceDeadAndTheListSurvives) {
  MemoryLcdAccessor a;
  ASSERT_TRUE(a.TryAddConnection("keep", 0, 0, '2'));
  SetField(a, lcd::kLengthOffset, 0xFFFFFFFFu);
  SetField(a, lcd::kTimeOffset, 0);
  a.clock = 1000;
  EXPECT_EQ(Target(a), "<none>");
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(a.GetMessageData(&data, &length));
  EXPECT_EQ(Dispatch(a, MessageTo("keep"), 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_FALSE(a.PruneDeadMessage());
  a.clock = 7000;
  EXPECT_TRUE(a.PruneDeadMessage());
  EXPECT_EQ(a.FindConnectionFormat("keep", 0), 2);
  EXPECT_EQ(Dispatch(a, MessageTo("keep"), 11, 2, 0), lcd::kDispatchPosted);
}

// --- the lock ---------------------------------------------------------------------

TEST(LcdLock, LevelsNestAndOnlyTheLastUnlockReleases) {
  MemoryLcdAccessor a;
  a.clock = 5;
  EXPECT_EQ(a.Lock(), 1);
  a.clock = 9;
  EXPECT_EQ(a.Lock(), 2);
  EXPECT_EQ(a.Lock(), 3);
  EXPECT_EQ(a.LockTime(), 5u);  // taken at the outermost level
  // Operations inside the held lock do not give it back.
  EXPECT_TRUE(a.TryAddConnection("n", 0, 0, '2'));
  EXPECT_EQ(a.FindConnectionFormat("n", 0), 2);
  EXPECT_EQ(a.releases, 0);
  EXPECT_EQ(a.Unlock(), 2);
  EXPECT_EQ(a.Unlock(), 1);
  EXPECT_EQ(a.releases, 0);
  EXPECT_EQ(a.Unlock(), 0);
  EXPECT_EQ(a.releases, 1);
  // An unlock too many releases nothing.
  EXPECT_EQ(a.Unlock(), 0);
  EXPECT_EQ(a.releases, 1);
  EXPECT_EQ(a.Lock(), 1);
  EXPECT_EQ(a.LockTime(), 9u);
}

TEST(LcdLock, EveryOperationFailsWithoutEffectWhenTheLockIsRefused) {
  MemoryLcdAccessor a;
  ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
  PostRaw(a, MessageTo("recv"), 0);
  a.clock = 100000;
  a.releases = 0;
  std::vector<uint8_t> before(a.Bytes(), a.Bytes() + lcd::kBlockSize);
  for (bool noBlock : {false, true}) {
    a.refuseLock = !noBlock;
    if (noBlock) a.DropBlock();
    EXPECT_EQ(a.Lock(), 0);
    EXPECT_EQ(a.FindConnectionFormat("recv", 0), 0);
    EXPECT_FALSE(a.RemoveConnection("recv", 0));
    EXPECT_FALSE(a.TryAddConnection("other", 0, 0, '2'));
    EXPECT_EQ(Target(a), "<none>");
    EXPECT_EQ(Dispatch(a, MessageTo("recv"), 11, 2, 0), lcd::kDispatchRefused);
    EXPECT_FALSE(a.ClearMessage());
    EXPECT_FALSE(a.PruneDeadMessage());
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    EXPECT_FALSE(a.GetMessageData(&data, &length));
    EXPECT_EQ(a.releases, 0);
    EXPECT_EQ(std::vector<uint8_t>(a.Bytes(), a.Bytes() + lcd::kBlockSize), before);
  }
}

// --- blocks written by hostile peers ----------------------------------------------
// The block is its own allocation of exactly its size: the sanitizers fail
// these tests on any access past its end.

TEST(LcdHostileBlock, AListWithoutItsEndFindsNothingAndIsFull) {
  struct Case {
    const char* why;
    std::string list;  // written at the list's start, the rest filled with 'A'
    int32_t earlyFormat;
  } cases[] = {
      {"no NUL anywhere", "", 0},
      {"an entry, then a name to the end", Entry("early", '4', 0), 4},
      {"suffix colons to the end", "early\0::"s, 'A' - '0'},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    std::memset(a.Bytes() + lcd::kListOffset, 'A', lcd::kListSize);
    WriteList(a, c.list);
    std::vector<uint8_t> before(a.Bytes(), a.Bytes() + lcd::kBlockSize);
    auto listUnchanged = [&] {
      return std::memcmp(a.Bytes() + lcd::kListOffset, before.data() + lcd::kListOffset,
                         lcd::kListSize) == 0;
    };
    EXPECT_EQ(a.FindConnectionFormat("early", 0), c.earlyFormat) << c.why;
    EXPECT_EQ(a.FindConnectionFormat(std::string(100, 'A'), 3), 0) << c.why;
    EXPECT_FALSE(a.TryAddConnection("late", 0, 0, '2')) << c.why;
    EXPECT_FALSE(a.RemoveConnection("early", 3)) << c.why;
    PostRaw(a, MessageTo("early"), 0);
    EXPECT_EQ(Target(a), "early");
    a.clock = 10000;
    EXPECT_TRUE(a.PruneDeadMessage()) << c.why;
    EXPECT_TRUE(listUnchanged()) << c.why;
  }
}

TEST(LcdHostileBlock, SuffixesCutOffByTheBlocksEnd) {
  // A name whose NUL sits 1 to 8 bytes before the block's end, followed by
  // colons to the end: the suffixes are incomplete and nothing is read past it.
  for (uint32_t tail = 1; tail <= 8; ++tail) {
    MemoryLcdAccessor a;
    uint32_t nul = lcd::kBlockSize - tail;
    std::memset(a.Bytes() + lcd::kListOffset, 'f', nul - lcd::kListOffset - 5);
    a.Bytes()[nul - 5] = 0;
    std::memcpy(a.Bytes() + nul - 4, "edge", 5);
    std::memset(a.Bytes() + nul + 1, ':', tail - 1);
    for (uint32_t realm = 0; realm < 4; ++realm) a.FindConnectionFormat("edge", realm);
    EXPECT_FALSE(a.RemoveConnection("edge", 3)) << tail;  // the list has no end
    EXPECT_FALSE(a.TryAddConnection("x", 0, 0, '2')) << tail;
  }
}

TEST(LcdHostileBlock, FieldsOutOfRange) {
  struct Case {
    uint32_t length;
    std::vector<uint8_t> data;
    bool hasData;
    std::string target;
  } cases[] = {
      {lcd::kDataSize + 1, {0x02, 0, 1, 'x'}, false, "<none>"},
      {0x80000000u, {0x02, 0, 1, 'x'}, false, "<none>"},
      {lcd::kDataSize, {0x0C, 0, 0, 0xA0, 0x00}, true, "<none>"},  // name of 40960 bytes
      {4, {0x0C, 0x7F, 0xFF, 0xFF, 0xFF}, true, "<none>"},
  };
  for (const Case& c : cases) {
    MemoryLcdAccessor a;
    std::memcpy(a.Bytes() + lcd::kDataOffset, c.data.data(), c.data.size());
    SetField(a, lcd::kLengthOffset, c.length);
    EXPECT_EQ(Target(a), c.target) << c.length;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(a.GetMessageData(&data, &length), c.hasData) << c.length;
    if (c.hasData) {
      EXPECT_EQ(length, c.length);
    }
  }
}

}  // namespace
