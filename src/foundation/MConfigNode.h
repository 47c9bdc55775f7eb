// Configuration text: statements (a name, then values, ended by ';') and
// brace blocks of nested statements, parsed into a small tree.
//
//   FilenamesAX "GlintAX.ocx" "GlintAX.dll";
//   Product { Name "Glint Player"; }
//
// Each level lists its nodes in reverse order of appearance; values keep
// their order.
#pragma once

#include <memory>

#include "MString.h"

struct MConfigNode {
  MConfigNode* next = nullptr;      // next sibling
  MString name;                     // node name, or the text of a value node
  MConfigNode* values = nullptr;    // first value node (only next and name in use)
  MConfigNode* children = nullptr;  // nested statements
};

// Frees a list of nodes with all their values and children.
void FreeConfigNodes(MConfigNode* list) noexcept;

struct MConfigNodeDeleter {
  void operator()(MConfigNode* list) const noexcept { FreeConfigNodes(list); }
};
using MConfigList = std::unique_ptr<MConfigNode, MConfigNodeDeleter>;

MConfigList ParseConfigText(const MString& text);

// A dotted path: the first segment names a node of `list`, the rest is
// looked up among its children; every matching sibling is tried in order.
const MConfigNode* FindConfigNode(const MConfigNode* list, const MString& path);
// The same, where a segment matches a node whose name it starts with.
const MConfigNode* FindConfigNodeByPrefix(const MConfigNode* list, const MString& path);

// Lists of parsed texts: each entry's children hold one parsed text, the
// most recently appended entry first.
void AppendParsedConfigText(MConfigList& texts, const MString& text);
const MConfigNode* FindConfigNodeInTexts(const MConfigNode* texts, const MString& path);
const MConfigNode* FindConfigNodeByPrefixInTexts(const MConfigNode* texts, const MString& path);

// Number of values of a node (0 for none).
uint32_t ConfigValueCount(const MConfigNode* node) noexcept;
// The value at `index`, or the null string.
MString ConfigValue(const MConfigNode* node, uint32_t index);
