// Configuration text from arbitrary bytes, read as little-endian UTF-16 (an
// odd last byte is dropped). The parsed tree is checked node by node, then
// searched with paths taken from the lines of the same input and with a path
// built from the tree itself, which must be found.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "foundation/MConfigNode.h"

namespace {

bool HasUnit(const MString& s, char16_t unit) {
  for (char16_t u : s) {
    if (u == unit) return true;
  }
  return false;
}

// Walks the whole tree without recursion: every name is a non-empty token,
// which can hold neither a quote nor a NUL, and value nodes have no values or
// children of their own.
void CheckTree(const MConfigNode* list) {
  std::vector<const MConfigNode*> pending;
  if (list != nullptr) pending.push_back(list);
  while (!pending.empty()) {
    const MConfigNode* node = pending.back();
    pending.pop_back();
    for (; node != nullptr; node = node->next) {
      Check(!node->name.IsEmpty() && !HasUnit(node->name, u'"') && !HasUnit(node->name, 0));
      uint32_t count = 0;
      for (const MConfigNode* v = node->values; v != nullptr; v = v->next, ++count) {
        Check(!v->name.IsEmpty() && !HasUnit(v->name, u'"') && !HasUnit(v->name, 0));
        Check(v->values == nullptr && v->children == nullptr);
        Check(Equals(ConfigValue(node, count), v->name));
      }
      Check(ConfigValueCount(node) == count);
      Check(ConfigValue(node, count).IsNull());
      if (node->children != nullptr) pending.push_back(node->children);
    }
  }
}

// The last dotted segment of a path.
MString LastSegment(const MString& path) {
  MString last = FromLastOf(path, ".");
  if (last.IsNull()) return path;
  last.Consume(1);
  return last;
}

void LookUp(const MConfigNode* list, const MString& path) {
  const MConfigNode* exact = FindConfigNode(list, path);
  const MConfigNode* prefix = FindConfigNodeByPrefix(list, path);
  if (exact != nullptr) {
    Check(Equals(exact->name, LastSegment(path)));
    Check(prefix != nullptr);  // an exact match is also a prefix match
  }
  if (prefix != nullptr) Check(StartsWith(LastSegment(path), prefix->name));
}

// Lookups recurse once per path segment. Paths come from code, not from the
// text, so keep them to a realistic length.
constexpr uint32_t kMaxPathUnits = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MString text = Units(data, size);
  MConfigList list = ParseConfigText(text);
  CheckTree(list.get());

  // Each of the first lines of the input as a path.
  MString rest = text;
  for (int i = 0; i < 8 && !rest.IsEmpty(); ++i) {
    MString line = TakeSpan(rest, "\n", SpanMode::Excluding);
    rest.Consume(1);
    if (line.Length() <= kMaxPathUnits) LookUp(list.get(), line);
  }

  // A path down the front node of each level exists, unless a name has a dot.
  MString path;
  const MConfigNode* last = nullptr;
  for (const MConfigNode* node = list.get(); node != nullptr; node = node->children) {
    if (HasUnit(node->name, u'.') || path.Length() + node->name.Length() >= kMaxPathUnits) break;
    if (last != nullptr) path += u"."_ms;
    path += node->name;
    last = node;
  }
  if (last != nullptr) {
    Check(FindConfigNode(list.get(), path) != nullptr);
    Check(FindConfigNodeByPrefix(list.get(), path) != nullptr);
  }
  LookUp(list.get(), path);

  // The same text, and its second half on top: the path is found in either.
  MConfigList texts;
  AppendParsedConfigText(texts, text);
  MString half = text;
  half.Consume(half.Length() / 2);
  AppendParsedConfigText(texts, half);
  if (last != nullptr) Check(FindConfigNodeInTexts(texts.get(), path) != nullptr);
  FindConfigNodeByPrefixInTexts(texts.get(), path);
  return 0;
}
