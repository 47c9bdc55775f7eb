// The text of an add-in's signed manifest ("digest.s"): which files of the
// add-in's folder the digest covers, and the digest it claims. OS-free; the
// signature itself is checked before the text gets here.
//
// The text is in lines ended by CR LF. Two kinds of line count, each only
// when it starts at the beginning of its line and its closing part sits right
// before the CR:
//   <Reference URI="NAME" />       a covered file, relative to the folder
//   <DigestValue>TEXT</DigestValue>  Base64 of the SHA-256 over the files
// NAME and TEXT are at least one character long; every other line is
// ignored. References keep their order; of several digest lines the last
// counts.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <string_view>

// Reference names packed into one buffer, each ended by a NUL, the list
// ended by an empty name. The buffer starts at 1024 bytes and doubles.
class ManifestReferences {
 public:
  static constexpr size_t kInitialCapacity = 1024;

  // False for an empty name (it would read as the end mark) and when memory
  // runs out; the list is then unchanged.
  bool Append(std::string_view name);
  size_t Count() const { return count_; }
  // The packed names; "" (the end mark alone) for an empty list.
  const char* Data() const { return buffer_ ? buffer_.get() : ""; }
  size_t Capacity() const { return capacity_; }

  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string_view*;
    using reference = std::string_view;
    Iterator() = default;
    explicit Iterator(const char* at) : at_(at) {}
    std::string_view operator*() const { return at_; }
    Iterator& operator++() {
      at_ += std::string_view(at_).size() + 1;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    // Every iterator that stands on the end mark equals end().
    bool operator==(const Iterator& other) const {
      return AtEnd() ? other.AtEnd() : at_ == other.at_;
    }

   private:
    bool AtEnd() const { return at_ == nullptr || *at_ == '\0'; }
    const char* at_ = nullptr;
  };
  Iterator begin() const { return Iterator(Data()); }
  Iterator end() const { return Iterator(); }

 private:
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;  // bytes of the names and their NULs, without the end mark
  size_t count_ = 0;
};

struct AddInManifest {
  static constexpr size_t kDigestField = 72;  // the digest text and its NUL

  ManifestReferences references;
  char digest[kDigestField] = {};
};

// Reads manifest text of `size` bytes; the text ends early at a NUL byte.
// False when a digest line is too long for the digest field, or when memory
// runs out: such a manifest is refused as a whole.
bool ReadAddInManifest(const char* text, size_t size, AddInManifest& manifest);
