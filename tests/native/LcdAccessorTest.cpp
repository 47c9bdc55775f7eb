// The local-connection block without the system: entries and realms, the
// list's order and capacity, dispatch, target names, pruning, the recursive
// lock, and blocks that other processes filled with anything at all. The
// block is its own allocation of exactly its size: the sanitizers catch any
// access past its end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LcdMemoryAccessor.h"

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

std::string List(const MemoryLcdAccessor& a) {  // up to and including the terminating empty string
  const char* start = reinterpret_cast<const char*>(a.Bytes() + lcd::kListOffset);
  std::string out;
  for (uint32_t i = 0; i + 1 < lcd::kListSize; ++i) {
    out += start[i];
    if (start[i] == 0 && (i == 0 || start[i - 1] == 0)) break;
  }
  return out;
}
void WriteList(MemoryLcdAccessor& a, const std::string& b) {
  std::memcpy(a.Bytes() + lcd::kListOffset, b.data(), b.size());
}
std::string Entry(const std::string& name, char format, uint32_t realm) {
  return name + "\0::"s + format + "\0::"s + static_cast<char>('1' + realm) + '\0';
}
uint32_t Field(const MemoryLcdAccessor& a, uint32_t offset) {
  uint32_t v;
  std::memcpy(&v, a.Bytes() + offset, sizeof v);
  return v;
}
void SetField(MemoryLcdAccessor& a, uint32_t offset, uint32_t v) {
  std::memcpy(a.Bytes() + offset, &v, sizeof v);
}
Bytes Snapshot(const MemoryLcdAccessor& a) {
  return Bytes(a.Bytes(), a.Bytes() + lcd::kBlockSize);
}

// A message whose first value names its target: 0x02 and a 16-bit length.
Bytes MessageTo(const std::string& target, const std::string& rest = "payload") {
  Bytes m = {lcd::kShortStringMarker, static_cast<uint8_t>(target.size() >> 8),
             static_cast<uint8_t>(target.size())};
  m.insert(m.end(), target.begin(), target.end());
  m.insert(m.end(), rest.begin(), rest.end());
  return m;
}
void PostRaw(MemoryLcdAccessor& a, const Bytes& m, uint32_t time) {  // as a peer posts directly
  std::memcpy(a.Bytes() + lcd::kDataOffset, m.data(), m.size());
  SetField(a, lcd::kLengthOffset, static_cast<uint32_t>(m.size()));
  SetField(a, lcd::kTimeOffset, time);
}
int32_t Dispatch(MemoryLcdAccessor& a, const Bytes& m, uint32_t sender, uint32_t expected,
                 uint32_t realm) {
  return a.DispatchMessage(m.data(), static_cast<uint32_t>(m.size()), sender, expected, realm);
}
std::string Target(MemoryLcdAccessor& a, size_t size = lcd::kTargetBufferSize) {
  std::vector<char> buffer(size, 'z');
  return a.GetMessageTarget(buffer.data(), size) ? std::string(buffer.data()) : "<none>";
}
bool HasData(MemoryLcdAccessor& a, uint32_t* length = nullptr) {
  const uint8_t* data = a.Bytes();
  uint32_t n = 7;
  bool has = a.GetMessageData(&data, &n);
  EXPECT_EQ(data, has ? a.Bytes() + lcd::kDataOffset : nullptr);
  if (length != nullptr) *length = n;
  return has;
}

TEST(LcdEntries, NameFormatRealmAndWhoSeesWhom) {
  // clang-format off
  const struct { std::string name; uint32_t realm; int32_t version; std::string list; int32_t format; } cases[] = {
    {"recv", 0, 0x32, "recv\0::2\0::1\0\0"s, 2}, {"_recv", 2, 0x33, "_recv\0::3\0::3\0\0"s, 3},
    {"a", 1, 0x7731, "a\0::1\0::2\0\0"s, 1} /* only the low byte */, {"localhost:chat", 3, 0x39, "localhost:chat\0::9\0::4\0\0"s, 9}};
  // clang-format on
  for (const auto& c : cases) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection(c.name, c.realm, c.realm, c.version)) << c.name;
    EXPECT_EQ(List(a), c.list) << c.name;
    EXPECT_EQ(a.FindConnectionFormat(c.name, c.realm), c.format) << c.name;
  }
  // visible[added][sought]; adding is refused exactly where the entry is seen.
  const bool visible[4][4] = {{1, 0, 1, 1}, {0, 1, 0, 1}, {1, 0, 1, 1}, {1, 1, 1, 1}};
  for (uint32_t added = 0; added < 4; ++added) {
    for (uint32_t sought = 0; sought < 4; ++sought) {
      MemoryLcdAccessor a;
      ASSERT_TRUE(a.TryAddConnection("conn", added, added, '2'));
      EXPECT_EQ(a.FindConnectionFormat("conn", sought) != 0, visible[added][sought])
          << added << " " << sought;
      EXPECT_EQ(a.TryAddConnection("conn", sought, sought, '2'), !visible[added][sought])
          << added << " " << sought;
    }
  }
  // Entries without suffixes (older writers) match every realm.
  for (const auto& [list, format] : {std::pair{"old\0\0"s, 1},
                                     {"old\0::7\0\0"s, 7},
                                     {"old\0::7\0next\0\0"s, 7},
                                     {"old\0:x7\0::1\0\0"s, 1}}) {
    for (uint32_t realm : {0u, 1u, 2u, 3u, 9u, 0xFFFFFFFFu}) {
      MemoryLcdAccessor a;
      WriteList(a, list);
      EXPECT_EQ(a.FindConnectionFormat("old", realm), format) << realm;
      EXPECT_FALSE(a.TryAddConnection("old", realm, realm, '2'));
    }
  }
  MemoryLcdAccessor a;  // names compare byte for byte
  ASSERT_TRUE(a.TryAddConnection("Chat", 0, 0, '2'));
  for (const std::string& other : {"chat"s, "Cha"s, "Chat2"s, "Chat\0"s, ""s})
    EXPECT_EQ(a.FindConnectionFormat(other, 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("Chat", 0), 2);
  EXPECT_TRUE(a.TryAddConnection("chat", 0, 0, '2'));
}

TEST(LcdEntries, RefusedRemovedAndAFullList) {
  // Entries that would break the list: empty name, NUL inside, format byte 0, realm byte 0.
  for (const auto& [name, realm, version] :
       {std::tuple<std::string, uint32_t, int32_t>{""s, 0u, '2'},
        {"ab\0cd"s, 0u, '2'},
        {"name"s, 0u, 0x100},
        {"name"s, 0xCFu, '2'}}) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection("first", 0, 0, '2'));
    EXPECT_FALSE(a.TryAddConnection(name, 0, realm, version)) << name;
    EXPECT_EQ(List(a), Entry("first", '2', 0) + '\0') << name;
  }
  const std::string a1 = Entry("alpha", '2', 0), b1 = Entry("beta", '3', 1),
                    c1 = Entry("gamma", '2', 2), all = a1 + b1 + c1 + '\0';
  const struct {
    std::string name;
    uint32_t realm;
    bool removed;
    std::string left;
  } removals[] = {{"beta", 1, true, a1 + c1 + '\0'},  {"alpha", 0, true, b1 + c1 + '\0'},
                  {"gamma", 3, true, a1 + b1 + '\0'}, {"beta", 0, false, all},
                  {"delta", 3, false, all},           {"", 3, false, all}};
  for (const auto& c : removals) {
    MemoryLcdAccessor a;
    WriteList(a, all);
    EXPECT_EQ(a.RemoveConnection(c.name, c.realm), c.removed) << c.name;
    EXPECT_EQ(List(a), c.left) << c.name;
  }
  // Old entries take only their own strings; suffixes past the list's end stop at it.
  for (const auto& [list, left] : {std::pair{"a\0old\0b\0\0"s, "a\0b\0\0"s},
                                   {"old\0::5\0b\0\0"s, "b\0\0"s},
                                   {"old\0::5\0::1\0b\0\0"s, "b\0\0"s},
                                   {"x\0old\0::\0\0"s, "x\0\0"s}}) {
    MemoryLcdAccessor a;
    WriteList(a, list);
    EXPECT_TRUE(a.RemoveConnection("old", 0));
    EXPECT_EQ(List(a), left);
  }
  // A filler puts the list's end where "name" (13 bytes and the new end) just fits, or misses by
  // one.
  for (uint32_t extra : {0u, 1u}) {
    MemoryLcdAccessor a;
    WriteList(a, std::string(lcd::kListSize - 15 + extra, 'f') + "\0\0"s);
    EXPECT_EQ(a.TryAddConnection("name", 0, 0, '2'), extra == 0) << extra;
    EXPECT_EQ(a.FindConnectionFormat("name", 0), extra == 0 ? 2 : 0);
    EXPECT_EQ(a.Bytes()[lcd::kBlockSize - 1], 0);
  }
  MemoryLcdAccessor a;  // filled entry by entry: every name stays findable; a removal makes room
  int added = 0;
  while (a.TryAddConnection("connection-" + std::to_string(added), 0, 0, '2')) ++added;
  EXPECT_GT(added, 900);
  for (int i = 0; i < added; i += 97)
    EXPECT_EQ(a.FindConnectionFormat("connection-" + std::to_string(i), 0), 2) << i;
  EXPECT_EQ(a.FindConnectionFormat("connection-" + std::to_string(added), 0), 0);
  EXPECT_TRUE(a.RemoveConnection("connection-7", 0));
  EXPECT_TRUE(a.TryAddConnection("connection-x", 0, 0, '2'));
}

TEST(LcdDispatch, RulesBySenderVersionAndPendingMessages) {
  // clang-format off
  const struct { bool listening; uint32_t sender, expected, realm; int32_t result; bool pending; } cases[] = {
    {false, 8, 2, 0, lcd::kDispatchNoReceiver, false}, {false, 11, 2, 0, lcd::kDispatchNoReceiver, false},
    {true, 11, 2, 1, lcd::kDispatchNoReceiver, false} /* another realm */, {true, 8, 3, 0, lcd::kDispatchPosted, true},
    {true, 9, 2, 0, lcd::kDispatchPosted, true}, {true, 9, 3, 0, lcd::kDispatchNoReceiver, true},
    {true, 10, 3, 0, lcd::kDispatchNoReceiver, true}, {true, 11, 3, 0, lcd::kDispatchNoReceiver, false},
    {true, 11, 2, 2, lcd::kDispatchPosted, true}};
  // clang-format on
  for (const auto& c : cases) {
    MemoryLcdAccessor a;
    if (c.listening) ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
    a.clock = 4242;
    Bytes m = MessageTo("recv");
    EXPECT_EQ(Dispatch(a, m, c.sender, c.expected, c.realm), c.result)
        << c.sender << " " << c.expected;
    EXPECT_EQ(Field(a, lcd::kLengthOffset), c.pending ? m.size() : 0u)
        << c.sender << " " << c.expected;
    EXPECT_EQ(Field(a, lcd::kTimeOffset), c.pending ? 4242u : 0u) << c.sender << " " << c.expected;
    if (c.pending) EXPECT_EQ(std::memcmp(a.Bytes() + lcd::kDataOffset, m.data(), m.size()), 0);
  }
  MemoryLcdAccessor a;  // a pending message is kept until cleared
  ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
  Bytes first = MessageTo("recv", "first");
  ASSERT_EQ(Dispatch(a, first, 11, 2, 0), lcd::kDispatchPosted);
  EXPECT_EQ(Dispatch(a, MessageTo("recv", "second one"), 11, 2, 0), lcd::kDispatchRefused);
  uint32_t length = 0;
  ASSERT_TRUE(HasData(a, &length));
  EXPECT_EQ(Bytes(a.Bytes() + lcd::kDataOffset, a.Bytes() + lcd::kDataOffset + length), first);
  EXPECT_TRUE(a.ClearMessage());
  EXPECT_FALSE(HasData(a));
  EXPECT_EQ(Dispatch(a, MessageTo("recv", "second one"), 11, 2, 0), lcd::kDispatchPosted);
}

TEST(LcdDispatch, UnreadableTargetsAndOversizedMessages) {
  // A target that cannot be read is posted unchecked.
  for (const auto& [m, result] :
       {std::pair{Bytes{0x06, 0, 4, 'r', 'e', 'c', 'v'}, lcd::kDispatchPosted},
        {Bytes{lcd::kShortStringMarker}, lcd::kDispatchPosted},
        {Bytes{}, lcd::kDispatchPosted},
        {MessageTo(std::string(1023, 'n')), lcd::kDispatchNoReceiver},
        {MessageTo(std::string(1024, 'n')), lcd::kDispatchPosted}}) {
    MemoryLcdAccessor a;
    EXPECT_EQ(Dispatch(a, m, 11, 2, 0), result) << m.size();
  }
  MemoryLcdAccessor a;  // longer than the data area, or no data: nothing is touched
  Bytes m = MessageTo("recv", std::string(lcd::kDataSize, 'x')), before = Snapshot(a);
  EXPECT_EQ(Dispatch(a, m, 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(a.DispatchMessage(nullptr, 4, 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(Snapshot(a), before);
  m.resize(lcd::kDataSize);  // exactly the data area is taken (and cleared: nobody listens)
  EXPECT_EQ(Dispatch(a, m, 11, 2, 0), lcd::kDispatchNoReceiver);
}

TEST(LcdTarget, HeadersFieldsAndBuffers) {
  // Each: the length field, the data area's first bytes, the target (or <none>), whether data is
  // handed out.
  // clang-format off
  const struct { uint32_t length; Bytes data; std::string target; } cases[] = {
    {8, {0x02, 0, 4, 'r', 'e', 'c', 'v', 0x0A}, "recv"}, {9, {0x0C, 0, 0, 0, 4, 'r', 'e', 'c', 'v'}, "recv"},
    {5, {0x02, 0, 2, 'o', 'k'}, "ok"}, {3, {0x02, 0, 0}, ""}, {7, {0x02, 0, 5, 'r', 'e', 'c', 'v'}, "<none>"},
    {6, {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}, "<none>"}, {6, {0x0C, 0xFF, 0xFF, 0xFF, 0xFE, 'x'}, "<none>"},
    {2, {0x02, 0}, "<none>"}, {4, {0x0C, 0, 0, 0}, "<none>"}, {1, {0x0C}, "<none>"}, {4, {0x03, 0, 1, 'x'}, "<none>"},
    {4, {0x0C, 0x7F, 0xFF, 0xFF, 0xFF}, "<none>"}, {lcd::kDataSize, {0x0C, 0, 0, 0xA0, 0}, "<none>"} /* 40960 bytes */,
    {lcd::kDataSize + 1, {0x02, 0, 1, 'x'}, "<none>"}, {0x80000000u, {0x02, 0, 1, 'x'}, "<none>"},
    {0xFFFFFFFFu, {0x02, 0, 1, 'x'}, "<none>"}};
  // clang-format on
  for (const auto& c : cases) {
    MemoryLcdAccessor a;
    PostRaw(a, c.data, 0);
    SetField(a, lcd::kLengthOffset, c.length);
    EXPECT_EQ(Target(a), c.target) << c.length;
    uint32_t length = 0;
    EXPECT_EQ(HasData(a, &length), c.length <= lcd::kDataSize) << c.length;
    EXPECT_EQ(length, c.length <= lcd::kDataSize ? c.length : 0u);
  }
  MemoryLcdAccessor a;  // the buffer must hold the name and its NUL
  PostRaw(a, MessageTo("abcd"), 0);
  EXPECT_EQ(Target(a, 5), "abcd");
  EXPECT_EQ(Target(a, 4), "<none>");
  EXPECT_EQ(Target(a, 1), "<none>");
  EXPECT_FALSE(a.GetMessageTarget(nullptr, 10));
  EXPECT_FALSE(a.GetMessageTarget(std::vector<char>(4).data(), 0));
  EXPECT_FALSE(a.GetMessageData(nullptr, nullptr));
}

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
  EXPECT_EQ(Field(a, lcd::kLengthOffset) | Field(a, lcd::kTimeOffset), 0u);
  EXPECT_FALSE(a.PruneDeadMessage());
  // The age is the signed tick difference: {posted, now, pruned}.
  for (const auto& [posted, now, pruned] : {std::tuple{0xFFFFF000u, 0xFFFFF000u + 6000u, true},
                                            {0xFFFFF000u, 0xFFFFF000u + 5000u, false},
                                            {10000u, 9000u, false},
                                            {0u, 0x80000000u, false},
                                            {0u, 0x7FFFFFFFu, true}}) {
    MemoryLcdAccessor b;
    PostRaw(b, MessageTo("t"), posted);
    b.clock = now;
    EXPECT_EQ(b.PruneDeadMessage(), pruned) << posted << " " << now;
  }
  // A garbage message blocks dispatch until it is dead; the list survives its clearing.
  MemoryLcdAccessor g;
  ASSERT_TRUE(g.TryAddConnection("keep", 0, 0, '2'));
  SetField(g, lcd::kLengthOffset, 0xFFFFFFFFu);
  g.clock = 1000;
  EXPECT_EQ(Dispatch(g, MessageTo("keep"), 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_FALSE(g.PruneDeadMessage());
  g.clock = 7000;
  EXPECT_TRUE(g.PruneDeadMessage());
  EXPECT_EQ(g.FindConnectionFormat("keep", 0), 2);
  EXPECT_EQ(Dispatch(g, MessageTo("keep"), 11, 2, 0), lcd::kDispatchPosted);
}

TEST(LcdLock, LevelsNestAndOnlyTheLastUnlockReleases) {
  MemoryLcdAccessor a;
  a.clock = 5;
  EXPECT_EQ(a.Lock(), 1);
  a.clock = 9;
  EXPECT_EQ(a.Lock(), 2);
  EXPECT_EQ(a.Lock(), 3);
  EXPECT_EQ(a.LockTime(), 5u);                      // taken at the outermost level
  EXPECT_TRUE(a.TryAddConnection("n", 0, 0, '2'));  // operations inside do not give it back
  EXPECT_EQ(a.FindConnectionFormat("n", 0), 2);
  EXPECT_EQ(a.Unlock(), 2);
  EXPECT_EQ(a.Unlock(), 1);
  EXPECT_EQ(a.releases, 0);
  EXPECT_EQ(a.Unlock(), 0);
  EXPECT_EQ(a.releases, 1);
  EXPECT_EQ(a.Unlock(), 0);  // one too many releases nothing
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
  Bytes before = Snapshot(a);
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
    const uint8_t* data = a.Bytes();
    uint32_t length = 7;
    EXPECT_FALSE(a.GetMessageData(&data, &length));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(a.releases, 0);
    EXPECT_EQ(Snapshot(a), before);
  }
}

TEST(LcdHostileBlock, AListWithoutItsEndFindsNothingAndIsFull) {
  // Written at the list's start, the rest filled with 'A': no NUL anywhere, an
  // entry then a name to the end, suffix colons to the end.
  for (const auto& [list, early] :
       {std::pair{""s, 0}, {Entry("early", '4', 0), 4}, {"early\0::"s, 'A' - '0'}}) {
    MemoryLcdAccessor a;
    std::memset(a.Bytes() + lcd::kListOffset, 'A', lcd::kListSize);
    WriteList(a, list);
    std::string before =
        std::string(reinterpret_cast<char*>(a.Bytes() + lcd::kListOffset), lcd::kListSize);
    EXPECT_EQ(a.FindConnectionFormat("early", 0), early);
    EXPECT_EQ(a.FindConnectionFormat(std::string(100, 'A'), 3), 0);
    EXPECT_FALSE(a.TryAddConnection("late", 0, 0, '2'));
    EXPECT_FALSE(a.RemoveConnection("early", 3));
    PostRaw(a, MessageTo("early"), 0);
    EXPECT_EQ(Target(a), "early");
    a.clock = 10000;
    EXPECT_TRUE(a.PruneDeadMessage());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a.Bytes() + lcd::kListOffset), lcd::kListSize),
              before);
  }
  // A name whose NUL sits 1 to 8 bytes before the block's end, colons to the end.
  for (uint32_t tail = 1; tail <= 8; ++tail) {
    MemoryLcdAccessor a;
    uint32_t nul = lcd::kBlockSize - tail;
    std::memset(a.Bytes() + lcd::kListOffset, 'f', nul - lcd::kListOffset - 5);
    a.Bytes()[nul - 5] = 0;
    std::memcpy(a.Bytes() + nul - 4, "edge", 5);
    std::memset(a.Bytes() + nul + 1, ':', tail - 1);
    const int32_t formats[] = {1, 1, 0, 10, 10, 10, 0, 10};  // suffixes cut short read as absent
    for (uint32_t realm = 0; realm < 4; ++realm)
      EXPECT_EQ(a.FindConnectionFormat("edge", realm), formats[tail - 1]) << tail;
    EXPECT_FALSE(a.RemoveConnection("edge", 3)) << tail;
    EXPECT_FALSE(a.TryAddConnection("x", 0, 0, '2')) << tail;
  }
}

}  // namespace
