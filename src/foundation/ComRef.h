// Owners of COM resources: one interface pointer, released exactly once on
// every path, one BSTR and one SAFEARRAY.
#pragma once

#include <oleauto.h>
#include <unknwn.h>

#include <utility>

#include "foundation/Win32Handles.h"

template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ~ComRef() { Reset(); }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  void Reset() {
    if (T* old = std::exchange(pointer_, nullptr)) old->Release();
  }
  // For functions that return an interface through a void**.
  void** Receive() {
    Reset();
    return reinterpret_cast<void**>(&pointer_);
  }
  T** ReceiveTyped() {
    Reset();
    return &pointer_;
  }

 private:
  T* pointer_ = nullptr;
};

struct BstrTraits {
  using Value = BSTR;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { SysFreeString(v); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

struct SafeArrayTraits {
  using Value = SAFEARRAY*;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { SafeArrayDestroy(v); }
};
using UniqueSafeArray = UniqueResource<SafeArrayTraits>;
