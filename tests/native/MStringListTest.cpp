#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestStrings.h"
#include "foundation/MStringList.h"

namespace {

using Node = MStringList::MStringNode;

std::vector<std::string> Keys(const MStringList& list) {
  std::vector<std::string> keys;
  for (const Node& node : list) keys.push_back(Show(node.key));
  return keys;
}

// A node made "by another module": destroyed through its own Destroy, which
// records the order in which nodes go.
class RecordingNode final : public Node {
 public:
  RecordingNode(MString key, std::vector<std::string>* log)
      : Node(std::move(key), MString(u"v")), log_(log) {}

  void Destroy(bool freeMemory) override {
    log_->push_back(Show(key));
    this->~RecordingNode();
    if (freeMemory) ::operator delete(this);
  }

 private:
  std::vector<std::string>* log_;
};

// Puts `replacement` where `old` was in the chain and frees `old`. Head and
// tail pointers are the list's own, so only inner nodes can be swapped.
void Swap(Node* old, Node* replacement) {
  replacement->previous = old->previous;
  replacement->next = old->next;
  old->previous->next = replacement;
  old->next->previous = replacement;
  old->next = old->previous = nullptr;
  old->Release();
}

TEST(MStringList, AddAppendsAtTheTail) {
  MStringList list;
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Head(), nullptr);
  list.Add(u"a"_ms, u"1"_ms);
  list.Add(u"b"_ms, MString());
  list.AddName(u"c"_ms);
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"a", "b", "c"}));
  const Node* tail = list.Head()->next->next;
  EXPECT_EQ(tail->next, nullptr);
  EXPECT_EQ(tail->previous->previous, list.Head());
  EXPECT_EQ(tail->key.Buffer(), tail->value.Buffer());  // AddName shares one string
  EXPECT_TRUE(list.Head()->next->value.IsNull());
}

TEST(MStringList, ClearDestroysEveryNodeThroughItsOwnDestroyLastFirst) {
  ForeignBuffers::Reset();
  std::vector<std::string> destroyed;
  MStringList list;
  for (const char16_t* key : {u"a", u"b", u"c", u"d", u"e"}) {
    list.Add(MString::Adopt(ForeignBuffers::Make(key)), MString(u"v"));
  }
  Node* node = list.Head()->next;
  for (const char16_t* key : {u"B", u"C", u"D"}) {
    auto* replacement = new RecordingNode(MString::Adopt(ForeignBuffers::Make(key)), &destroyed);
    Node* next = node->next;
    Swap(node, replacement);
    node = next;
  }
  ASSERT_EQ(ForeignBuffers::released, 3);  // the swapped-out plain nodes
  ForeignBuffers::Reset();

  list.Clear();
  EXPECT_EQ(destroyed, (std::vector<std::string>{"D", "C", "B"}));
  EXPECT_EQ(ForeignBuffers::releasedTexts,
            (std::vector<std::u16string>{u"e", u"D", u"C", u"B", u"a"}));
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Head(), nullptr);

  // Cleared lists are usable again, and clearing twice is harmless.
  list.Clear();
  list.Add(u"x"_ms, u"y"_ms);
  EXPECT_EQ(Keys(list), std::vector<std::string>{"x"});
}

TEST(MStringList, DestructorClearsThroughDestroyToo) {
  std::vector<std::string> destroyed;
  {
    MStringList list;
    list.AddName(u"first"_ms);
    list.AddName(u"middle"_ms);
    list.AddName(u"last"_ms);
    Swap(list.Head()->next, new RecordingNode(u"mine"_ms, &destroyed));
  }
  EXPECT_EQ(destroyed, std::vector<std::string>{"mine"});
}

struct ContainsCase {
  const char16_t* s;
  bool exact, prefix;
};

TEST(MStringList, ContainsWithAndWithoutPrefix) {
  MStringList list;
  list.AddName(u"Glint"_ms);
  list.AddName(u"C:\\Program Files\\"_ms);
  const ContainsCase cases[] = {{u"Glint", true, true},
                                {u"GlintPlayer", false, true},
                                {u"Gli", false, false},
                                {u"glint", false, false},
                                {u"", false, false},
                                {nullptr, false, false},
                                {u"C:\\Program Files\\Glint\\x.dll", false, true},
                                {u"C:\\Program Files", false, false}};
  for (const auto& c : cases) {
    MString s = c.s == nullptr ? MString() : MString(c.s);
    EXPECT_EQ(list.Contains(s), c.exact) << Show(s);
    EXPECT_EQ(list.Contains(s, true), c.prefix) << Show(s);
  }

  // An empty key is a prefix of everything, and equal to both empty and null.
  list.Add(u""_ms, MString());
  EXPECT_TRUE(list.Contains(u"anything"_ms, true));
  EXPECT_TRUE(list.Contains(MString()));
  EXPECT_FALSE(list.Contains(u"anything"_ms));

  MStringList empty;
  EXPECT_FALSE(empty.Contains(u""_ms, true));
}

TEST(MStringListIterator, CopiesAndPastTheEnd) {
  MStringList list;
  list.Add(u"k1"_ms, u"v1"_ms);
  list.Add(u"k2"_ms, u"v2"_ms);
  auto it = list.Iterate();
  EXPECT_EQ(it->List(), &list);

  MString key = it->CurrentKey();
  EXPECT_EQ(Show(key), "k1");
  EXPECT_EQ(key.Buffer(), list.Head()->key.Buffer());  // a copy: shares the node's buffer
  EXPECT_EQ(list.Head()->key.Buffer()->count, 2);
  key = u"changed"_ms;
  EXPECT_EQ(Show(list.Head()->key), "k1");

  EXPECT_TRUE(it->Next());
  EXPECT_EQ(Show(it->CurrentValue()), "v2");
  EXPECT_TRUE(it->Next());  // moved past the last node
  EXPECT_TRUE(it->AtEnd());
  EXPECT_EQ(Show(it->CurrentKey()), "");  // empty, not null
  EXPECT_EQ(Show(it->CurrentValue()), "");
  EXPECT_FALSE(it->Next());
  EXPECT_FALSE(it->Next());

  MStringList empty;
  auto none = empty.Iterate();
  EXPECT_TRUE(none->AtEnd());
  EXPECT_EQ(Show(none->CurrentKey()), "");
  EXPECT_FALSE(none->Next());
  MStringListIterator detached(nullptr);
  EXPECT_TRUE(detached.AtEnd());
  EXPECT_FALSE(detached.Next());
}

}  // namespace
