// An accessor over a block in this process's memory (for the OS-free tests,
// the fuzz target and the benchmarks): the broker's recursive lock over a lock
// a test can refuse and a clock it sets. The block is its own allocation of
// exactly the block's size, so that the sanitizers see any access past it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "broker/localconnection/LcdAccessor.h"

class MemoryLcdAccessor final : public CoreLcdAccessor {
 public:
  MemoryLcdAccessor() : storage_(new uint8_t[lcd::kBlockSize]()) {
    lcd::InitializeLcdBlock(storage_.get());
    SetBlock(storage_.get());
  }
  int32_t Lock() override {
    if (Block() == nullptr) return 0;
    return depth_.Lock([this] { return !refuseLock; }, [this] { return clock; });
  }
  int32_t Unlock() override {
    return depth_.Unlock([this] { ++releases; });
  }
  uint32_t LockTime() override { return depth_.Time(); }
  int32_t MessageTimeout() override { return lcd::kMessageTimeoutMs; }
  uint8_t* Bytes() const { return storage_.get(); }
  void DropBlock() { SetBlock(nullptr); }  // as an accessor whose opening failed

  uint32_t clock = 0;       // the tick count an outermost Lock records
  bool refuseLock = false;  // the system lock cannot be taken
  int releases = 0;         // times the system lock was given back

 private:
  std::unique_ptr<uint8_t[]> storage_;
  LcdLockDepth depth_;
};
