#include <gtest/gtest.h>

#include "TestStrings.h"
#include "foundation/MStringList.h"

namespace {

using Node = MStringList::MStringNode;

std::vector<std::string> Keys(const MStringList& list) {
  std::vector<std::string> keys;
  for (const Node& node : list) keys.push_back(Show(node.key));
  return keys;
}

// A node made "by another module": its own Destroy records the order in which nodes go.
struct RecordingNode final : Node {
  RecordingNode(MString key, std::vector<std::string>* log)
      : Node(std::move(key), MString(u"v")), log(log) {}
  void Destroy(bool freeMemory) override {
    log->push_back(Show(key));
    this->~RecordingNode();
    if (freeMemory) ::operator delete(this);
  }
  std::vector<std::string>* log;
};

// Puts `replacement` where the inner node `old` was and frees `old`.
void Swap(Node* old, Node* replacement) {
  replacement->previous = old->previous;
  replacement->next = old->next;
  old->previous->next = old->next->previous = replacement;
  old->next = old->previous = nullptr;
  old->Release();
}

TEST(MStringList, AddClearAndDestroyThroughEachNodesOwnTable) {
  ForeignBuffers::released.clear();
  std::vector<std::string> destroyed;
  {
    MStringList list;
    EXPECT_TRUE(list.Count() == 0u && list.Head() == nullptr);
    list.Add(u"a"_ms, u"1"_ms);
    list.Add(u"b"_ms, MString());
    list.AddName(u"c"_ms);
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"a", "b", "c"}));
    const Node* tail = list.Head()->next->next;
    EXPECT_TRUE(list.Count() == 3u && tail->next == nullptr &&
                tail->previous->previous == list.Head());
    EXPECT_EQ(tail->key.Buffer(), tail->value.Buffer());  // AddName shares one string
    EXPECT_TRUE(list.Head()->next->value.IsNull());
    Swap(list.Head()->next, new RecordingNode(u"mine"_ms, &destroyed));
  }
  EXPECT_EQ(destroyed, std::vector<std::string>{"mine"});  // the destructor clears too
  destroyed.clear();

  MStringList list;
  for (const char16_t* key : {u"a", u"b", u"c", u"d", u"e"})
    list.Add(MString::Adopt(ForeignBuffers::Make(key)), MString(u"v"));
  Node* node = list.Head()->next;
  for (const char16_t* key : {u"B", u"C", u"D"}) {
    Node* next = node->next;
    Swap(node, new RecordingNode(MString::Adopt(ForeignBuffers::Make(key)), &destroyed));
    node = next;
  }
  ASSERT_EQ(ForeignBuffers::released.size(), 3u);  // the swapped-out plain nodes
  ForeignBuffers::released.clear();
  list.Clear();  // last first, each through its own Destroy
  EXPECT_EQ(destroyed, (std::vector<std::string>{"D", "C", "B"}));
  EXPECT_EQ(ForeignBuffers::released, (std::vector<std::u16string>{u"e", u"D", u"C", u"B", u"a"}));
  EXPECT_TRUE(list.Count() == 0u && list.Head() == nullptr);
  list.Clear();  // usable again, and clearing twice is harmless
  list.Add(u"x"_ms, u"y"_ms);
  list.Add(u"z"_ms, u"y"_ms);
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"x", "z"}));
}

TEST(MStringList, ContainsWithAndWithoutPrefix) {
  MStringList list;
  list.AddName(u"Glint"_ms);
  list.AddName(u"C:\\Program Files\\"_ms);
  // clang-format off
  const struct { const char16_t* s; bool exact, prefix; } cases[] = {{u"Glint", 1, 1},
      {u"GlintPlayer", 0, 1}, {u"Gli", 0, 0}, {u"glint", 0, 0}, {u"", 0, 0}, {nullptr, 0, 0},
      {u"C:\\Program Files\\Glint\\x.dll", 0, 1}, {u"C:\\Program Files", 0, 0},
      {u"C:\\Program Files\\", 1, 1}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(list.Contains(Str(c.s)), c.exact) << Show(Str(c.s));
    EXPECT_EQ(list.Contains(Str(c.s), true), c.prefix) << Show(Str(c.s));
  }
  list.Add(u""_ms, MString());  // an empty key: a prefix of everything, equal to empty and null
  EXPECT_TRUE(list.Contains(u"anything"_ms, true) && list.Contains(MString()));
  EXPECT_FALSE(list.Contains(u"anything"_ms));
  EXPECT_FALSE(MStringList().Contains(u""_ms, true));
}

TEST(MStringListIterator, CopiesAndPastTheEnd) {
  MStringList list;
  list.Add(u"k1"_ms, u"v1"_ms);
  list.Add(u"k2"_ms, u"v2"_ms);
  auto it = list.Iterate();
  EXPECT_EQ(it->List(), &list);
  MString key = it->CurrentKey();
  EXPECT_EQ(Show(key) + Show(it->CurrentValue()), "k1v1");
  EXPECT_EQ(list.Head()->key.Buffer()->count, 2);  // a copy shares the node's buffer
  key = u"changed"_ms;
  EXPECT_EQ(Show(list.Head()->key), "k1");
  EXPECT_TRUE(it->Next());
  EXPECT_EQ(Show(it->CurrentKey()) + Show(it->CurrentValue()), "k2v2");
  EXPECT_TRUE(it->Next());  // moved past the last node: empty, not null
  EXPECT_TRUE(it->AtEnd());
  EXPECT_EQ(Show(it->CurrentKey()) + "|" + Show(it->CurrentValue()), "|");
  EXPECT_FALSE(it->Next());
  MStringList empty;
  auto none = empty.Iterate();
  EXPECT_TRUE(none->AtEnd());
  EXPECT_EQ(Show(none->CurrentKey()), "");
  EXPECT_FALSE(none->Next());
  MStringListIterator detached(nullptr);
  EXPECT_TRUE(detached.AtEnd() && !detached.Next() && detached.List() == nullptr);
}

}  // namespace
