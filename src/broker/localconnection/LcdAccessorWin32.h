// The accessor over the machine's one local-connection block: the named
// mutex "KestrelinkMutexOmega" guards the named mapping "KestrelinkFMOmega".
// Each broker object owns at most one, created on its first local-connection
// call; all its calls arrive on the server's apartment thread.
//
// A mutex belongs to a thread, and every broker object of the process runs on
// the same one, so the mutex alone cannot keep two players of one broker
// apart. The process therefore records which accessor holds the lock. The
// first Lock by another accessor waits until the holder's last Unlock, or
// until the holder goes away with its broker object; while it waits, Locks
// of any other accessor answer a failed lock at once (count 0), and their
// players try again. Every wait keeps the apartment serving calls (the
// holder's own Unlock must be able to arrive) and ends within kLockBoundMs:
// what cannot be had by then is a failed lock.
#pragma once

#include <windows.h>

#include "broker/localconnection/LcdAccessor.h"
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
  static constexpr DWORD kLockBoundMs = 10000;

  // Opens (or creates and initialises) the block. Without a usable block
  // every call fails; see OpeningTimedOut for a block that was busy.
  Win32LcdAccessor();
  ~Win32LcdAccessor() override;

  int32_t Lock() override;
  int32_t Unlock() override;
  uint32_t LockTime() override { return depth_.Time(); }
  int32_t MessageTimeout() override { return lcd::kMessageTimeoutMs; }

  // The mutex stayed taken for the whole bound while opening, or another
  // process kept it while a wait for it was under way already: this
  // accessor has no memory, but one made later may.
  bool OpeningTimedOut() const { return openingTimedOut_; }

 private:
  bool TakeMutex();
  void GiveBack();

  LcdLockDepth depth_;
  UniqueHandle mutex_;
  UniqueHandle mapping_;
  UniqueMappedView view_;
  bool openingTimedOut_ = false;
};
