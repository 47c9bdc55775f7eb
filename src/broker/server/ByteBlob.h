// A byte array from the player, read in place. It is usable when present,
// of one dimension, with one-byte elements (whatever type it says they
// are), lower bound 0 and accessible; its data stay locked while this lives
// and are unlocked on every path. Automation delivers arrays as the caller
// built them, so every method that takes one reads it through this.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <span>

class ByteBlob {
 public:
  explicit ByteBlob(SAFEARRAY* array) {
    LONG lower = 0, upper = -1;
    if (array == nullptr || SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1 ||
        FAILED(SafeArrayGetLBound(array, 1, &lower)) || lower != 0 ||
        FAILED(SafeArrayGetUBound(array, 1, &upper))) {
      return;
    }
    void* data = nullptr;
    result_ = SafeArrayAccessData(array, &data);
    if (FAILED(result_)) return;
    array_ = array;
    // Counted in 64 bits: an upper bound of -1 is an empty array.
    bytes_ = std::span<const uint8_t>(static_cast<const uint8_t*>(data),
                                      static_cast<size_t>(static_cast<int64_t>(upper) + 1));
  }
  ~ByteBlob() {
    if (array_ != nullptr) SafeArrayUnaccessData(array_);
  }
  ByteBlob(const ByteBlob&) = delete;
  ByteBlob& operator=(const ByteBlob&) = delete;

  bool Valid() const { return array_ != nullptr; }
  // S_OK; E_FAIL for an array of another shape; or why its data could not be reached.
  HRESULT Result() const { return result_; }
  std::span<const uint8_t> Bytes() const { return bytes_; }

 private:
  SAFEARRAY* array_ = nullptr;
  HRESULT result_ = E_FAIL;
  std::span<const uint8_t> bytes_;
};
