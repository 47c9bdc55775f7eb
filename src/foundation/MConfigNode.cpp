#include "MConfigNode.h"

#include <vector>

void FreeConfigNodes(MConfigNode* list) noexcept {
  // Iterative, so that deeply nested hostile text cannot exhaust the stack.
  std::vector<MConfigNode*> pending;
  if (list != nullptr) pending.push_back(list);
  while (!pending.empty()) {
    MConfigNode* node = pending.back();
    pending.pop_back();
    while (node != nullptr) {
      if (node->values != nullptr) pending.push_back(node->values);
      if (node->children != nullptr) pending.push_back(node->children);
      MConfigNode* next = node->next;
      delete node;
      node = next;
    }
  }
}

namespace {

// One brace level being parsed.
struct Level {
  MConfigNode* list = nullptr;         // nodes of this level, newest first
  MConfigNode* lastCreated = nullptr;  // the node a '{' hangs its block under
  MConfigNode* open = nullptr;         // node of the open statement
  MConfigNode* lastValue = nullptr;    // tail of the open node's values
};

// Hangs a finished nested list under its node. A second block after the
// same node goes in front of the first, as if both were one block.
void HangBlock(MConfigNode* owner, MConfigNode* block) {
  if (block == nullptr) return;
  MConfigNode* tail = block;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = owner->children;
  owner->children = block;
}

constexpr const char* kTokenEnds = " \t\r\n\";{}";
constexpr const char* kQuotedEnds = "\"";

}  // namespace

MConfigList ParseConfigText(const MString& source) {
  MString text = source;
  std::vector<Level> levels(1);
  bool quoted = false;
  bool stop = false;
  while (!stop && !text.IsEmpty()) {
    Level& level = levels.back();
    MString token = TakeSpan(text, quoted ? kQuotedEnds : kTokenEnds, SpanMode::Excluding);
    if (!token.IsEmpty()) {
      auto* node = new MConfigNode;
      node->name = std::move(token);
      if (level.open == nullptr) {
        node->next = level.list;
        level.list = node;
        level.lastCreated = node;
        level.open = node;
        level.lastValue = nullptr;
      } else {
        if (level.lastValue == nullptr) {
          level.open->values = node;
        } else {
          level.lastValue->next = node;
        }
        level.lastValue = node;
      }
    }
    if (text.IsEmpty()) break;
    char16_t unit = text[0];
    text.Consume(1);
    switch (unit) {
      case u' ':
      case u'\t':
      case u'\r':
      case u'\n':
        break;
      case u'"':
        quoted = !quoted;
        break;
      case u';':
        level.open = nullptr;
        level.lastValue = nullptr;
        break;
      case u'{':
        if (level.lastCreated != nullptr) levels.emplace_back();
        break;
      case u'}':
        if (levels.size() == 1) {
          stop = true;
        } else {
          MConfigNode* block = levels.back().list;
          levels.pop_back();
          HangBlock(levels.back().lastCreated, block);
        }
        break;
      default:  // NUL and any other unit that ends a token stop the parse
        stop = true;
        break;
    }
  }
  // Unclosed levels keep what they parsed.
  while (levels.size() > 1) {
    MConfigNode* block = levels.back().list;
    levels.pop_back();
    HangBlock(levels.back().lastCreated, block);
  }
  return MConfigList(levels.front().list);
}

namespace {

template <typename Matches>
const MConfigNode* Find(const MConfigNode* list, const MString& path, Matches matches) {
  MString rest = path;
  MString segment = TakeSpan(rest, ".", SpanMode::Excluding);
  bool more = !rest.IsEmpty();
  if (more) rest.Consume(1);
  for (const MConfigNode* node = list; node != nullptr; node = node->next) {
    if (!matches(segment, node->name)) continue;
    if (!more) return node;
    if (const MConfigNode* found = Find(node->children, rest, matches)) return found;
  }
  return nullptr;
}

bool SegmentEquals(const MString& segment, const MString& name) { return Equals(name, segment); }
bool SegmentStartsWith(const MString& segment, const MString& name) {
  return StartsWith(segment, name);
}

template <typename Matches>
const MConfigNode* FindInTexts(const MConfigNode* texts, const MString& path, Matches matches) {
  for (const MConfigNode* entry = texts; entry != nullptr; entry = entry->next) {
    if (const MConfigNode* found = Find(entry->children, path, matches)) return found;
  }
  return nullptr;
}

}  // namespace

const MConfigNode* FindConfigNode(const MConfigNode* list, const MString& path) {
  return Find(list, path, SegmentEquals);
}

const MConfigNode* FindConfigNodeByPrefix(const MConfigNode* list, const MString& path) {
  return Find(list, path, SegmentStartsWith);
}

void AppendParsedConfigText(MConfigList& texts, const MString& text) {
  auto* entry = new MConfigNode;
  entry->children = ParseConfigText(text).release();
  entry->next = texts.release();
  texts.reset(entry);
}

const MConfigNode* FindConfigNodeInTexts(const MConfigNode* texts, const MString& path) {
  return FindInTexts(texts, path, SegmentEquals);
}

const MConfigNode* FindConfigNodeByPrefixInTexts(const MConfigNode* texts, const MString& path) {
  return FindInTexts(texts, path, SegmentStartsWith);
}

uint32_t ConfigValueCount(const MConfigNode* node) noexcept {
  uint32_t count = 0;
  for (const MConfigNode* v = node != nullptr ? node->values : nullptr; v; v = v->next) ++count;
  return count;
}

MString ConfigValue(const MConfigNode* node, uint32_t index) {
  for (const MConfigNode* v = node != nullptr ? node->values : nullptr; v; v = v->next) {
    if (index-- == 0) return v->name;
  }
  return MString();
}
