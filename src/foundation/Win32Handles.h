// Owners of Win32 resources: each closes what it holds exactly once, on
// every path.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;
  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueResource() { Reset(); }

  Value Get() const { return value_; }
  bool Valid() const { return Traits::Valid(value_); }
  explicit operator bool() const { return Valid(); }
  Value Release() { return std::exchange(value_, Traits::Invalid()); }
  void Reset(Value value = Traits::Invalid()) {
    Value old = std::exchange(value_, value);
    if (Traits::Valid(old)) Traits::Close(old);
  }
  // For functions that return the resource through a pointer.
  Value* Receive() {
    Reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct HandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
  static void Close(Value v) { CloseHandle(v); }
};
// A kernel handle; both null and INVALID_HANDLE_VALUE count as none.
using UniqueHandle = UniqueResource<HandleTraits>;

struct FindTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
  static void Close(Value v) { FindClose(v); }
};
using UniqueFind = UniqueResource<FindTraits>;

struct ModuleTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr && v != reinterpret_cast<HMODULE>(-1); }
  static void Close(Value v) { FreeLibrary(v); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct RegKeyTraits {
  using Value = HKEY;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { RegCloseKey(v); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

struct LocalTraits {
  using Value = HLOCAL;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { LocalFree(v); }
};
// Memory the system allocated with LocalAlloc for the caller (security
// descriptors, access lists).
using UniqueLocal = UniqueResource<LocalTraits>;

struct ScHandleTraits {
  using Value = SC_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { CloseServiceHandle(v); }
};
// A handle of the service control manager or of one service.
using UniqueScHandle = UniqueResource<ScHandleTraits>;
