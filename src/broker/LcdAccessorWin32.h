// The accessor over the machine's one local-connection block: the named
// mutex "KestrelinkMutexOmega" guards the named mapping "KestrelinkFMOmega".
// Each broker object owns at most one, created on its first local-connection
// call; all its calls arrive on the server's apartment thread.
#pragma once

#include <windows.h>

#include "broker/LcdAccessor.h"
#include "foundation/Win32Handles.h"

struct MappedViewTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { UnmapViewOfFile(v); }
};
using UniqueMappedView = UniqueResource<MappedViewTraits>;

class Win32LcdAccessor final : public CoreLcdAccessor {
 public:
  static constexpr char kMutexName[] = "KestrelinkMutexOmega";
  static constexpr char kMappingName[] = "KestrelinkFMOmega";

  // Opens (or creates and initialises) the block. Waits for the mutex
  // without a time limit; without a usable block every call fails.
  Win32LcdAccessor();
  ~Win32LcdAccessor() override;

  int32_t Lock() override;
  int32_t Unlock() override;
  uint32_t LockTime() override { return depth_.Time(); }
  int32_t MessageTimeout() override { return lcd::kMessageTimeoutMs; }

 private:
  bool TakeMutex();

  LcdLockDepth depth_;
  UniqueHandle mutex_;
  UniqueHandle mapping_;
  UniqueMappedView view_;
};
