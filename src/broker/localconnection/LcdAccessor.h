// Local connections: the block of shared memory through which player
// instances on one machine exchange messages. A receiver registers a
// connection name, a sender posts one message addressed to a name, and the
// receiver collects it.
//
// Other processes read and write the same block directly, so its layout is a
// wire format, and its content is hostile input: every operation here stays
// inside the block whatever it holds. OS-free; the named mutex and mapping are
// in LcdAccessorWin32.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// user32's DispatchMessage macro would rename the accessor operation below in
// files that include <windows.h> first; those call DispatchMessageW by name.
#ifdef DispatchMessage
#undef DispatchMessage
#endif

namespace lcd {

// The block and its fields (byte offsets; integers little-endian).
constexpr uint32_t kBlockSize = 64528;
constexpr uint32_t kValidOffset = 0;    // 1 once initialised
constexpr uint32_t kInitOffset = 4;     // set to 1 at initialisation, never read
constexpr uint32_t kTimeOffset = 8;     // tick count at which the message was posted
constexpr uint32_t kLengthOffset = 12;  // message length; 0 = no message pending
constexpr uint32_t kDataOffset = 16;
constexpr uint32_t kDataSize = 40960;
constexpr uint32_t kListOffset = kDataOffset + kDataSize;  // NUL-terminated strings
constexpr uint32_t kListSize = kBlockSize - kListOffset;
static_assert(kListOffset == 40976 && kListSize == 23552);

// A message's first value, its target name: marker, big-endian length, bytes.
constexpr uint8_t kShortStringMarker = 0x02;  // 16-bit length
constexpr uint8_t kLongStringMarker = 0x0C;   // 32-bit length

constexpr uint32_t kTargetBufferSize = 1024;
constexpr int32_t kMessageTimeoutMs = 5000;
// The realm that every connection is visible in.
constexpr uint32_t kAnyRealm = 3;

// Dispatch results.
constexpr int32_t kDispatchRefused = 0;  // a message is pending already, or no lock
constexpr int32_t kDispatchPosted = 1;
constexpr int32_t kDispatchNoReceiver = 2;  // nobody listens, or in another format

// Writes the fields of a block that has just been created: valid, no
// message, empty connection list.
void InitializeLcdBlock(uint8_t* block);

}  // namespace lcd

// The recursive lock of one accessor: only the outermost Lock takes the
// system lock, and only the Unlock that ends it gives the lock back.
class LcdLockDepth {
 public:
  // `take` is asked for the system lock at the outermost level and answers
  // whether it holds it; `now` gives the lock time once it is held.
  template <typename Take, typename Now>
  int32_t Lock(Take&& take, Now&& now) {
    if (count_ >= 1) {
      if (count_ < INT32_MAX) ++count_;
      return count_;
    }
    if (take()) {
      time_ = now();
      count_ = 1;
    } else {
      count_ = 0;
    }
    return count_;
  }

  // `give` releases the system lock. An Unlock without a Lock does not call
  // it: the thread may own the lock through another accessor.
  template <typename Give>
  int32_t Unlock(Give&& give) {
    if (count_ >= 2) return --count_;
    if (count_ == 1) give();
    count_ = 0;
    return count_;
  }

  int32_t Count() const { return count_; }
  uint32_t Time() const { return time_; }

 private:
  int32_t count_ = 0;
  uint32_t time_ = 0;
};

// The accessor's operations, in the order of its table. Every operation but
// Lock, Unlock, LockTime and MessageTimeout takes the lock itself and fails
// without effect when it cannot.
class ILcdAccessor {
 public:
  virtual ~ILcdAccessor() = default;
  // New lock depth; 0 when the lock could not be taken.
  virtual int32_t Lock() = 0;
  virtual int32_t Unlock() = 0;
  // Tick count at which the outermost lock was taken.
  virtual uint32_t LockTime() = 0;
  // Format of the first connection `name` visible in `realm`; 0 when none.
  virtual int32_t FindConnectionFormat(std::string_view name, uint32_t realm) = 0;
  virtual bool RemoveConnection(std::string_view name, uint32_t realm) = 0;
  virtual bool TryAddConnection(std::string_view name, uint32_t realmToSeek, uint32_t realmToAdd,
                                int32_t messageFormatVersion) = 0;
  // The pending message's target name, NUL-terminated, into `buffer`.
  virtual bool GetMessageTarget(char* buffer, size_t size) = 0;
  virtual int32_t DispatchMessage(const uint8_t* data, uint32_t length, uint32_t senderVersion,
                                  uint32_t expectedFormat, uint32_t realm) = 0;
  virtual bool ClearMessage() = 0;
  // Drops a message older than MessageTimeout() and every connection named
  // like its target.
  virtual bool PruneDeadMessage() = 0;
  virtual int32_t MessageTimeout() = 0;
  // Where the pending message lies in the block. The bytes may change once
  // the lock is given back; a caller that needs them stable holds the lock.
  virtual bool GetMessageData(const uint8_t** data, uint32_t* length) = 0;
};

// The shared-memory operations over a block of lcd::kBlockSize bytes, on top
// of the lock operations of a derived class. Without a block every operation
// fails.
class CoreLcdAccessor : public virtual ILcdAccessor {
 public:
  explicit CoreLcdAccessor(uint8_t* block = nullptr) : block_(block) {}
  CoreLcdAccessor(const CoreLcdAccessor&) = delete;
  CoreLcdAccessor& operator=(const CoreLcdAccessor&) = delete;

  int32_t FindConnectionFormat(std::string_view name, uint32_t realm) override;
  bool RemoveConnection(std::string_view name, uint32_t realm) override;
  bool TryAddConnection(std::string_view name, uint32_t realmToSeek, uint32_t realmToAdd,
                        int32_t messageFormatVersion) override;
  bool GetMessageTarget(char* buffer, size_t size) override;
  int32_t DispatchMessage(const uint8_t* data, uint32_t length, uint32_t senderVersion,
                          uint32_t expectedFormat, uint32_t realm) override;
  bool ClearMessage() override;
  bool PruneDeadMessage() override;
  bool GetMessageData(const uint8_t** data, uint32_t* length) override;

  uint8_t* Block() const { return block_; }

 protected:
  void SetBlock(uint8_t* block) { block_ = block; }

 private:
  class Held;
  struct Walk;
  Walk Lookup(std::string_view name, uint32_t realm, bool toListEnd) const;
  bool ReadTarget(char* buffer, size_t size) const;
  void WriteMessageFields(uint32_t time, uint32_t length);

  uint8_t* block_;
};
