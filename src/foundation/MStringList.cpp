#include "MStringList.h"

#include <new>

void MStringList::MStringNode::Destroy(bool freeMemory) {
  this->MStringNode::~MStringNode();
  if (freeMemory) ::operator delete(this);
}

void MStringList::MStringNode::Release() { Destroy(true); }

void MStringList::Add(MString key, MString value) {
  auto* node = new MStringNode(std::move(key), std::move(value));
  node->previous = tail_;
  if (tail_ != nullptr) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  ++count_;
}

void MStringList::Clear() noexcept {
  MStringNode* node = tail_;
  head_ = nullptr;
  tail_ = nullptr;
  count_ = 0;
  while (node != nullptr) {
    MStringNode* previous = node->previous;
    node->Destroy(true);
    node = previous;
  }
}

bool MStringList::Contains(const MString& s, bool prefix) const noexcept {
  for (const MStringNode* node = head_; node != nullptr; node = node->next) {
    if (prefix ? StartsWith(s, node->key) : Equals(node->key, s)) return true;
  }
  return false;
}

std::unique_ptr<MStringListIterator> MStringList::Iterate() const {
  return std::make_unique<MStringListIterator>(this);
}

MString MStringListIterator::CurrentKey() const {
  return current_ != nullptr ? current_->key : MString(u"");
}

MString MStringListIterator::CurrentValue() const {
  return current_ != nullptr ? current_->value : MString(u"");
}

bool MStringListIterator::Next() noexcept {
  if (current_ == nullptr) return false;
  current_ = current_->next;
  return true;
}
