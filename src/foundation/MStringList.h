// Key/value lists of MStrings. Lists grow at the tail and are cleared whole.
// Nodes may come from either side of the Start boundary, so each one is
// destroyed through its own table, by the module that made it.
#pragma once

#include <cstdint>
#include <memory>

#include "MString.h"

class MStringListIterator;

class MStringList {
 public:
  class MStringNode {
   public:
    MStringNode(MString key, MString value) : key(std::move(key)), value(std::move(value)) {}
    MStringNode(const MStringNode&) = delete;
    MStringNode& operator=(const MStringNode&) = delete;

    // Slot 0: runs the destructor, then frees the memory when asked.
    virtual void Destroy(bool freeMemory);
    // Slot 1: destroys and frees the node.
    virtual void Release();

    MString key;
    MString value;
    MStringNode* next = nullptr;
    MStringNode* previous = nullptr;

   protected:
    ~MStringNode() = default;
  };

  MStringList() = default;
  MStringList(const MStringList&) = delete;
  MStringList& operator=(const MStringList&) = delete;
  ~MStringList() { Clear(); }

  void Add(MString key, MString value);
  void AddName(const MString& name) { Add(name, name); }
  void Clear() noexcept;
  // Without `prefix`: some key Equals s. With it: s StartsWith some key.
  bool Contains(const MString& s, bool prefix = false) const noexcept;
  std::unique_ptr<MStringListIterator> Iterate() const;

  uint32_t Count() const noexcept { return count_; }
  MStringNode* Head() const noexcept { return head_; }

  // Range-for over the nodes, head to tail.
  class NodeIterator {
   public:
    explicit NodeIterator(MStringNode* node) : node_(node) {}
    const MStringNode& operator*() const { return *node_; }
    NodeIterator& operator++() {
      node_ = node_->next;
      return *this;
    }
    bool operator!=(const NodeIterator& other) const { return node_ != other.node_; }

   private:
    MStringNode* node_;
  };
  NodeIterator begin() const { return NodeIterator(head_); }
  NodeIterator end() const { return NodeIterator(nullptr); }

 private:
  MStringNode* head_ = nullptr;
  MStringNode* tail_ = nullptr;
  uint32_t count_ = 0;
};

class MStringListIterator {
 public:
  explicit MStringListIterator(const MStringList* list)
      : list_(list), current_(list != nullptr ? list->Head() : nullptr) {}
  // Copies of the current pair; the empty string past the end.
  MString CurrentKey() const;
  MString CurrentValue() const;
  // Moves on; false when already past the end.
  bool Next() noexcept;
  bool AtEnd() const noexcept { return current_ == nullptr; }
  const MStringList* List() const noexcept { return list_; }

 private:
  const MStringList* list_;
  MStringList::MStringNode* current_;
};
