// The local-connection block without the system, also as other processes may have filled it;
// the sanitizers catch any access past the block (LcdMemoryAccessor.h).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "LcdMemoryAccessor.h"

namespace {

using namespace std::string_literals;
using S = std::string;

// The list up to and including its terminating empty string.
S List(const MemoryLcdAccessor& a) {
  const char* start = reinterpret_cast<const char*>(a.Bytes() + lcd::kListOffset);
  S out;
  for (uint32_t i = 0; i + 1 < lcd::kListSize; ++i) {
    out += start[i];
    if (start[i] == 0 && (i == 0 || start[i - 1] == 0)) break;
  }
  return out;
}
S Block(const MemoryLcdAccessor& a) {
  return S(reinterpret_cast<char*>(a.Bytes()), lcd::kBlockSize);
}
void Write(MemoryLcdAccessor& a, uint32_t at, const S& b) {
  std::memcpy(a.Bytes() + at, b.data(), b.size());
}
S Entry(const S& name, char format, uint32_t realm) {
  return name + "\0::"s + format + "\0::"s + static_cast<char>('1' + realm) + '\0';
}
uint32_t Field(const MemoryLcdAccessor& a, uint32_t offset) {
  uint32_t v;
  std::memcpy(&v, a.Bytes() + offset, sizeof v);
  return v;
}
void SetField(MemoryLcdAccessor& a, uint32_t offset, uint32_t v) {
  Write(a, offset, S(reinterpret_cast<char*>(&v), 4));
}

// A message whose first value names its target: 0x02 and a 16-bit length.
S MessageTo(const S& target, const S& rest = "payload") {
  return "\x02"s + static_cast<char>(target.size() >> 8) + static_cast<char>(target.size()) +
         target + rest;
}
void PostRaw(MemoryLcdAccessor& a, const S& m, uint32_t time) {  // as a peer posts directly
  Write(a, lcd::kDataOffset, m);
  SetField(a, lcd::kLengthOffset, static_cast<uint32_t>(m.size()));
  SetField(a, lcd::kTimeOffset, time);
}
int32_t Dispatch(MemoryLcdAccessor& a, const S& m, uint32_t sender, uint32_t expected,
                 uint32_t realm) {
  return a.DispatchMessage(reinterpret_cast<const uint8_t*>(m.data()),
                           static_cast<uint32_t>(m.size()), sender, expected, realm);
}
S Target(MemoryLcdAccessor& a, size_t size = lcd::kTargetBufferSize) {
  std::vector<char> buffer(size, 'z');
  return a.GetMessageTarget(buffer.data(), size) ? S(buffer.data()) : "<none>";
}
// The pending message's bytes, or "<none>" (with the pointer and length cleared).
S Data(MemoryLcdAccessor& a) {
  const uint8_t* data = a.Bytes();
  uint32_t length = 7;
  if (a.GetMessageData(&data, &length)) {
    EXPECT_EQ(data, a.Bytes() + lcd::kDataOffset);
    return S(reinterpret_cast<const char*>(data), length);
  }
  EXPECT_TRUE(data == nullptr && length == 0);
  return "<none>";
}

// Other players expect every field written whatever the memory held before.
TEST(LcdBlock, InitializingWritesEveryFieldOverOldBytes) {
  MemoryLcdAccessor a;
  std::memset(a.Bytes(), 0xFF, lcd::kBlockSize);
  lcd::InitializeLcdBlock(a.Bytes());
  EXPECT_EQ(Block(a).substr(0, 16), "\x01\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\0"s);
  EXPECT_EQ(List(a), "\0"s);
}

TEST(LcdEntries, NameFormatRealmAndWhoSeesWhom) {
  // name, realm, version (only its low byte is kept), list, format
  const std::tuple<S, uint32_t, int, S, int> cases[] = {
      {"recv", 0, 0x32, "recv\0::2\0::1\0\0"s, 2},
      {"_recv", 2, 0x33, "_recv\0::3\0::3\0\0"s, 3},
      {"a", 1, 0x7731, "a\0::1\0::2\0\0"s, 1},
      {"localhost:chat", 3, 0x39, "localhost:chat\0::9\0::4\0\0"s, 9}};
  for (const auto& [name, realm, version, list, format] : cases) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection(name, realm, realm, version)) << name;
    EXPECT_EQ(List(a), list) << name;
    EXPECT_EQ(a.FindConnectionFormat(name, realm), format) << name;
  }
  // visible[added][sought]; adding is refused exactly where the entry is seen.
  const bool visible[4][4] = {{1, 0, 1, 1}, {0, 1, 0, 1}, {1, 0, 1, 1}, {1, 1, 1, 1}};
  for (uint32_t added = 0; added < 4; ++added) {
    for (uint32_t sought = 0; sought < 4; ++sought) {
      MemoryLcdAccessor a;
      ASSERT_TRUE(a.TryAddConnection("conn", added, added, '2'));
      EXPECT_EQ(a.FindConnectionFormat("conn", sought) != 0, visible[added][sought])
          << added << sought;
      EXPECT_EQ(a.TryAddConnection("conn", sought, sought, '2'), !visible[added][sought])
          << added << sought;
    }
  }
  // Entries without suffixes (older writers) match every realm; "::xy" is no suffix.
  const std::pair<S, int> old[] = {{"old\0\0"s, 1},
                                   {"old\0::7\0\0"s, 7},
                                   {"old\0::7\0next\0\0"s, 7},
                                   {"old\0:x7\0::1\0\0"s, 1},
                                   {"a\0::xy\0old\0\0"s, 1}};
  for (const auto& [list, format] : old) {
    for (uint32_t realm : {0u, 1u, 2u, 3u, 9u, 0xFFFFFFFFu}) {
      MemoryLcdAccessor a;
      Write(a, lcd::kListOffset, list);
      EXPECT_EQ(a.FindConnectionFormat("old", realm), format) << realm;
      EXPECT_FALSE(a.TryAddConnection("old", realm, realm, '2'));
    }
  }
  MemoryLcdAccessor a;  // names compare byte for byte
  ASSERT_TRUE(a.TryAddConnection("Chat", 0, 0, '2'));
  for (const S& other : {"chat"s, "Cha"s, "Chat2"s, "Chat\0"s, ""s})
    EXPECT_EQ(a.FindConnectionFormat(other, 0), 0);
  EXPECT_EQ(a.FindConnectionFormat("Chat", 0), 2);
  EXPECT_TRUE(a.TryAddConnection("chat", 0, 0, '2'));
}

TEST(LcdEntries, RefusedRemovedAndAFullList) {
  // Entries that would break the list: empty name, NUL inside, format byte 0, realm byte 0.
  const std::tuple<S, uint32_t, int> refused[] = {
      {"", 0, '2'}, {"ab\0cd"s, 0, '2'}, {"name", 0, 0x100}, {"name", 0xCF, '2'}};
  for (const auto& [name, realm, version] : refused) {
    MemoryLcdAccessor a;
    ASSERT_TRUE(a.TryAddConnection("first", 0, 0, '2'));
    EXPECT_FALSE(a.TryAddConnection(name, 0, realm, version)) << name;
    EXPECT_EQ(List(a), Entry("first", '2', 0) + '\0') << name;
  }
  const S a1 = Entry("alpha", '2', 0), b1 = Entry("beta", '3', 1), c1 = Entry("gamma", '2', 2),
          all = a1 + b1 + c1 + '\0';
  const std::tuple<S, uint32_t, bool, S> removals[] = {
      {"beta", 1, true, a1 + c1 + '\0'},  {"alpha", 0, true, b1 + c1 + '\0'},
      {"gamma", 3, true, a1 + b1 + '\0'}, {"beta", 0, false, all},
      {"delta", 3, false, all},           {"", 3, false, all}};
  for (const auto& [name, realm, removed, left] : removals) {
    MemoryLcdAccessor a;
    Write(a, lcd::kListOffset, all);
    EXPECT_EQ(a.RemoveConnection(name, realm), removed) << name;
    EXPECT_EQ(List(a), left) << name;
  }
  // Old entries take only their own strings; suffixes past the list's end stop at it.
  const std::pair<S, S> olds[] = {{"a\0old\0b\0\0"s, "a\0b\0\0"s},
                                  {"old\0::5\0b\0\0"s, "b\0\0"s},
                                  {"old\0::5\0::1\0b\0\0"s, "b\0\0"s},
                                  {"x\0old\0::\0\0"s, "x\0\0"s}};
  for (const auto& [list, left] : olds) {
    MemoryLcdAccessor a;
    Write(a, lcd::kListOffset, list);
    EXPECT_TRUE(a.RemoveConnection("old", 0));
    EXPECT_EQ(List(a), left);
  }
  // A filler leaves exactly the room of "name" (13 bytes and the new end), or one byte less.
  for (uint32_t extra : {0u, 1u}) {
    MemoryLcdAccessor a;
    Write(a, lcd::kListOffset, S(lcd::kListSize - 15 + extra, 'f') + "\0\0"s);
    EXPECT_EQ(a.TryAddConnection("name", 0, 0, '2'), extra == 0) << extra;
    EXPECT_EQ(a.FindConnectionFormat("name", 0), extra == 0 ? 2 : 0);
    EXPECT_EQ(a.Bytes()[lcd::kBlockSize - 1], 0);
  }
  MemoryLcdAccessor a;  // filled entry by entry: every name stays findable; a removal makes room
  int added = 0;
  while (a.TryAddConnection("connection-" + std::to_string(added), 0, 0, '2')) ++added;
  EXPECT_GT(added, 900);
  for (int i = 0; i < added; i += 97)
    EXPECT_EQ(a.FindConnectionFormat("connection-" + std::to_string(i), 0), 2);
  EXPECT_EQ(a.FindConnectionFormat("connection-" + std::to_string(added), 0), 0);
  EXPECT_TRUE(a.RemoveConnection("connection-7", 0));
  EXPECT_TRUE(a.TryAddConnection("connection-x", 0, 0, '2'));
}

TEST(LcdDispatch, RulesBySenderVersionPendingMessagesAndUncheckedTargets) {
  // listening, sender, expected format, realm, result, message left pending
  const std::tuple<bool, uint32_t, uint32_t, uint32_t, int, bool> cases[] = {
      {false, 8, 2, 0, lcd::kDispatchNoReceiver, false},
      {true, 11, 2, 1, lcd::kDispatchNoReceiver, false},
      {true, 8, 3, 0, lcd::kDispatchPosted, true},
      {true, 9, 2, 0, lcd::kDispatchPosted, true},
      {true, 9, 3, 0, lcd::kDispatchNoReceiver, true},
      {true, 10, 3, 0, lcd::kDispatchNoReceiver, true},
      {true, 11, 3, 0, lcd::kDispatchNoReceiver, false},
      {true, 11, 2, 2, lcd::kDispatchPosted, true}};
  for (const auto& [listening, sender, expected, realm, result, pending] : cases) {
    MemoryLcdAccessor a;
    if (listening) ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
    a.clock = 4242;
    EXPECT_EQ(Dispatch(a, MessageTo("recv"), sender, expected, realm), result)
        << sender << expected;
    EXPECT_EQ(Data(a), pending ? MessageTo("recv") : "<none>") << sender << expected;
    EXPECT_EQ(Field(a, lcd::kTimeOffset), pending ? 4242u : 0u) << sender << expected;
  }
  MemoryLcdAccessor a;  // a pending message is kept until cleared
  ASSERT_TRUE(a.TryAddConnection("recv", 0, 0, '2'));
  ASSERT_EQ(Dispatch(a, MessageTo("recv", "first"), 11, 2, 0), lcd::kDispatchPosted);
  EXPECT_EQ(Dispatch(a, MessageTo("recv", "second one"), 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(Data(a), MessageTo("recv", "first"));
  EXPECT_TRUE(a.ClearMessage());
  EXPECT_EQ(Data(a), "<none>");
  EXPECT_EQ(Dispatch(a, MessageTo("recv", "second one"), 11, 2, 0), lcd::kDispatchPosted);
  // A target that cannot be read is posted unchecked.
  const std::pair<S, int> unchecked[] = {{"\x06\0\x04recv"s, lcd::kDispatchPosted},
                                         {"\x02", lcd::kDispatchPosted},
                                         {"", lcd::kDispatchPosted},
                                         {MessageTo(S(1023, 'n')), lcd::kDispatchNoReceiver},
                                         {MessageTo(S(1024, 'n')), lcd::kDispatchPosted}};
  for (const auto& [m, result] : unchecked) {
    MemoryLcdAccessor b;
    EXPECT_EQ(Dispatch(b, m, 11, 2, 0), result) << m.size();
  }
  MemoryLcdAccessor b;  // longer than the data area, or no data: nothing is touched
  S m = MessageTo("recv", S(lcd::kDataSize, 'x')), before = Block(b);
  EXPECT_EQ(Dispatch(b, m, 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(b.DispatchMessage(nullptr, 4, 11, 2, 0), lcd::kDispatchRefused);
  EXPECT_EQ(Block(b), before);
  m.resize(lcd::kDataSize);  // exactly the data area is taken (and cleared: nobody listens)
  EXPECT_EQ(Dispatch(b, m, 11, 2, 0), lcd::kDispatchNoReceiver);
}

TEST(LcdTarget, HeadersFieldsAndBuffers) {
  // The length field, the data area's first bytes and the target; data up to the area's size.
  const std::tuple<uint32_t, S, S> cases[] = {
      {8, "\x02\0\x04recv\n"s, "recv"},
      {9, "\x0C\0\0\0\x04recv"s, "recv"},
      {5, "\x02\0\x02ok"s, "ok"},
      {3, "\x02\0\0"s, ""},
      {5, "\x0C\0\0\0\0"s, ""},
      {7, "\x02\0\x05recv"s, "<none>"},
      {6, "\x0C\xFF\xFF\xFF\xFFx"s, "<none>"},
      {6, "\x0C\xFF\xFF\xFF\xFEx"s, "<none>"},
      {2, "\x02\0"s, "<none>"},
      {4, "\x0C\0\0\0"s, "<none>"},
      {1, "\x0C", "<none>"},
      {4, "\x03\0\x01x"s, "<none>"},
      {lcd::kDataSize, "\x0C\0\0\xA0\0"s, "<none>"} /* 40960 bytes */,
      {lcd::kDataSize + 1, "\x02\0\x01x"s, "<none>"},
      {0x80000000u, "\x02\0\x01x"s, "<none>"},
      {0xFFFFFFFFu, "\x02\0\x01x"s, "<none>"}};
  for (const auto& [length, data, target] : cases) {
    MemoryLcdAccessor a;
    PostRaw(a, data, 0);
    SetField(a, lcd::kLengthOffset, length);
    EXPECT_EQ(Target(a), target) << length;
    EXPECT_EQ(Data(a),
              length <= lcd::kDataSize ? Block(a).substr(lcd::kDataOffset, length) : "<none>");
  }
  MemoryLcdAccessor a;  // the buffer must hold the name and its NUL
  PostRaw(a, MessageTo("abcd"), 0);
  EXPECT_EQ(Target(a, 5) + Target(a, 4) + Target(a, 1), "abcd<none><none>");
  EXPECT_FALSE(a.GetMessageTarget(nullptr, 10));
  EXPECT_FALSE(a.GetMessageTarget(std::vector<char>(4).data(), 0));
  EXPECT_FALSE(a.GetMessageData(nullptr, nullptr));
}

TEST(LcdPrune, ADeadMessageTakesEveryConnectionOfItsTarget) {
  MemoryLcdAccessor a;
  ASSERT_TRUE(a.TryAddConnection("gone", 1, 1, '2'));
  ASSERT_TRUE(a.TryAddConnection("stay", 0, 0, '2'));
  ASSERT_TRUE(a.TryAddConnection("gone", 0, 0, '3'));
  Write(a, lcd::kListOffset,
        List(a).substr(0, List(a).size() - 1) + "gone\0\0"s);  // and an old entry
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
  // The age is the signed tick difference: posted, now, pruned.
  const std::tuple<uint32_t, uint32_t, bool> ages[] = {{0xFFFFF000u, 0xFFFFF000u + 6000u, true},
                                                       {0xFFFFF000u, 0xFFFFF000u + 5000u, false},
                                                       {10000, 9000, false},
                                                       {0, 0x80000000u, false},
                                                       {0, 0x7FFFFFFFu, true}};
  for (const auto& [posted, now, pruned] : ages) {
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

TEST(LcdLock, LevelsNestOnlyTheLastUnlockReleasesAndARefusedLockChangesNothing) {
  MemoryLcdAccessor a;
  a.clock = 5;
  EXPECT_EQ(a.Lock(), 1);
  a.clock = 9;
  EXPECT_EQ(a.Lock() + a.Lock(), 5);
  EXPECT_EQ(a.LockTime(), 5u);                      // taken at the outermost level
  EXPECT_TRUE(a.TryAddConnection("n", 0, 0, '2'));  // operations inside do not give it back
  EXPECT_EQ(a.Unlock() + a.Unlock(), 3);
  EXPECT_EQ(a.releases, 0);
  EXPECT_EQ(a.Unlock() + a.Unlock(), 0);  // one too many releases nothing
  EXPECT_EQ(a.releases, 1);
  EXPECT_EQ(a.Lock(), 1);
  EXPECT_EQ(a.LockTime(), 9u);

  MemoryLcdAccessor b;
  ASSERT_TRUE(b.TryAddConnection("recv", 0, 0, '2'));
  PostRaw(b, MessageTo("recv"), 0);
  b.clock = 100000;
  b.releases = 0;
  S before = Block(b);
  for (bool noBlock : {false, true}) {
    b.refuseLock = !noBlock;
    if (noBlock) b.DropBlock();
    EXPECT_EQ(b.Lock(), 0);
    EXPECT_EQ(b.FindConnectionFormat("recv", 0), 0);
    EXPECT_FALSE(b.RemoveConnection("recv", 0) || b.TryAddConnection("other", 0, 0, '2'));
    EXPECT_EQ(Target(b), "<none>");
    EXPECT_EQ(Dispatch(b, MessageTo("recv"), 11, 2, 0), lcd::kDispatchRefused);
    EXPECT_FALSE(b.ClearMessage() || b.PruneDeadMessage());
    EXPECT_EQ(Data(b), "<none>");
    EXPECT_EQ(b.releases, 0);
    EXPECT_EQ(Block(b), before);
  }
}

TEST(LcdHostileBlock, ListsWithoutTheirEndAndSuffixesCutOffByTheBlocksEnd) {
  // Written at the list's start, the rest filled with 'A': no NUL anywhere, an
  // entry then a name to the end, suffix colons to the end.
  for (const auto& [list, early] :
       {std::pair{""s, 0}, {Entry("early", '4', 0), 4}, {"early\0::"s, 'A' - '0'}}) {
    MemoryLcdAccessor a;
    std::memset(a.Bytes() + lcd::kListOffset, 'A', lcd::kListSize);
    Write(a, lcd::kListOffset, list);
    S before = Block(a).substr(lcd::kListOffset);
    EXPECT_EQ(a.FindConnectionFormat("early", 0), early);
    EXPECT_EQ(a.FindConnectionFormat(S(100, 'A'), 3), 0);
    EXPECT_FALSE(a.TryAddConnection("late", 0, 0, '2') || a.RemoveConnection("early", 3));
    PostRaw(a, MessageTo("early"), 0);
    EXPECT_EQ(Target(a), "early");
    a.clock = 10000;
    EXPECT_TRUE(a.PruneDeadMessage());
    EXPECT_EQ(Block(a).substr(lcd::kListOffset), before);
  }
  // A name whose NUL sits 1 to 8 bytes before the block's end, colons to the
  // end: suffixes cut short read as absent, and the list has no end.
  const int formats[] = {1, 1, 0, 10, 10, 10, 0, 10};
  for (uint32_t tail = 1; tail <= 8; ++tail) {
    MemoryLcdAccessor a;
    uint32_t nul = lcd::kBlockSize - tail;
    std::memset(a.Bytes() + lcd::kListOffset, 'f', nul - lcd::kListOffset - 5);
    Write(a, nul - 5, "\0edge\0"s + S(tail - 1, ':'));
    for (uint32_t realm = 0; realm < 4; ++realm)
      EXPECT_EQ(a.FindConnectionFormat("edge", realm), formats[tail - 1]);
    EXPECT_FALSE(a.RemoveConnection("edge", 3) || a.TryAddConnection("x", 0, 0, '2')) << tail;
  }
}

}  // namespace
