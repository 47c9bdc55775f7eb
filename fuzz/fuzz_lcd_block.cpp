// The local-connection block as another process may leave it, and any
// sequence of accessor operations on it, with peers writing into the block
// between them.
//
// An input of at least a block's size starts with the whole block image;
// a shorter one starts from a freshly initialised block. The rest is a list
// of operations (see Step). Beyond what the sanitizers catch, the lock depth
// follows its rule, answers stay inside their buffers, and a list the
// accessor wrote to keeps its end and holds the name just added.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LcdMemoryAccessor.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t U16() { return Byte() | uint32_t{Byte()} << 8; }
  uint32_t U32() { return U16() | U16() << 16; }
  // Up to `count` bytes, fewer at the end of the input.
  std::string Bytes(size_t count) {
    size_t n = count < size_ - at_ ? count : size_ - at_;
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }
  std::string Name() {
    size_t length = Byte();
    if (length == 255) length = U16() % 2048;  // now and then a long one
    return Bytes(length);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Whether the connection list ends inside the block.
bool ListEnds(const uint8_t* block) {
  uint32_t at = lcd::kListOffset;
  while (at < lcd::kBlockSize) {
    if (block[at] == 0) return true;
    const void* nul = std::memchr(block + at, 0, lcd::kBlockSize - at);
    if (nul == nullptr) return false;
    at = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - block) + 1;
  }
  return false;
}

struct Fuzz {
  MemoryLcdAccessor accessor;
  int32_t depth = 0;  // the lock depth the rule predicts

  void Step(Input& in) {
    uint8_t* block = accessor.Bytes();
    switch (in.Byte() % 16) {
      case 0: {
        int32_t expected = depth >= 1 ? depth + 1 : (accessor.refuseLock ? 0 : 1);
        depth = accessor.Lock();
        Check(depth == expected);
        break;
      }
      case 1:
        depth = depth >= 2 ? depth - 1 : 0;
        Check(accessor.Unlock() == depth);
        break;
      case 2: {
        std::string name = in.Name();
        accessor.FindConnectionFormat(name, in.Byte() % 5);
        break;
      }
      case 3: {
        std::string name = in.Name();
        if (accessor.RemoveConnection(name, in.Byte() % 5)) Check(ListEnds(block));
        break;
      }
      case 4: {
        std::string name = in.Name();
        uint32_t seek = in.Byte() % 5;
        uint32_t add = in.Byte() % 5;
        auto version = static_cast<int32_t>(in.U16());
        if (accessor.TryAddConnection(name, seek, add, version)) {
          Check(ListEnds(block));
          // Seen from every realm, so it can be removed again.
          MemoryLcdAccessor copy;
          std::memcpy(copy.Bytes(), block, lcd::kBlockSize);
          Check(copy.RemoveConnection(name, lcd::kAnyRealm));
        }
        break;
      }
      case 5: {
        size_t size = in.Byte() % 4 == 0 ? in.U16() % 1100 : lcd::kTargetBufferSize;
        std::vector<char> buffer(size == 0 ? 1 : size);
        if (accessor.GetMessageTarget(size == 0 ? nullptr : buffer.data(), size)) {
          Check(std::memchr(buffer.data(), 0, size) != nullptr);
        }
        break;
      }
      case 6: {
        size_t length = in.U16() % (lcd::kDataSize + 2);
        std::string message = in.Bytes(length);
        message.resize(length, 'm');
        uint32_t sender = in.Byte() % 14;
        uint32_t expected = in.Byte() % 12;
        int32_t result = accessor.DispatchMessage(reinterpret_cast<const uint8_t*>(message.data()),
                                                  static_cast<uint32_t>(length), sender, expected,
                                                  in.Byte() % 5);
        Check(result >= lcd::kDispatchRefused && result <= lcd::kDispatchNoReceiver);
        if (length > lcd::kDataSize) Check(result == lcd::kDispatchRefused);
        break;
      }
      case 7:
        accessor.ClearMessage();
        break;
      case 8:
        accessor.PruneDeadMessage();
        break;
      case 9: {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        if (accessor.GetMessageData(&data, &length)) {
          Check(data == block + lcd::kDataOffset && length >= 1 && length <= lcd::kDataSize);
        } else {
          Check(data == nullptr && length == 0);
        }
        break;
      }
      case 10:
        accessor.clock += in.U16() * 4;
        break;
      case 11: {  // a peer writes bytes anywhere
        uint32_t offset = in.U16() % lcd::kBlockSize;
        std::string bytes = in.Bytes(in.Byte());
        size_t room = lcd::kBlockSize - offset;
        std::memcpy(block + offset, bytes.data(), bytes.size() < room ? bytes.size() : room);
        break;
      }
      case 12: {  // a peer fills a range
        uint32_t offset = in.U16() % lcd::kBlockSize;
        uint32_t length = in.U16();
        uint8_t value = in.Byte();
        uint32_t room = lcd::kBlockSize - offset;
        std::memset(block + offset, value, length < room ? length : room);
        break;
      }
      case 13: {  // a peer sets the time or the length field
        uint32_t offset = in.Byte() % 2 == 0 ? lcd::kTimeOffset : lcd::kLengthOffset;
        uint32_t value = in.U32();
        std::memcpy(block + offset, &value, sizeof value);
        break;
      }
      case 14:
        accessor.refuseLock = !accessor.refuseLock;
        break;
      case 15: {  // a peer posts a message to a name, with either header
        std::string name = in.Name();
        bool wide = in.Byte() % 2 != 0;
        std::string message(
            1, static_cast<char>(wide ? lcd::kLongStringMarker : lcd::kShortStringMarker));
        uint32_t count = static_cast<uint32_t>(name.size()) + in.Byte() % 3 - 1;  // off by one
        for (int shift = wide ? 24 : 8; shift >= 0; shift -= 8) {
          message += static_cast<char>(count >> shift);
        }
        message += name;
        message += in.Bytes(in.Byte());
        std::memcpy(block + lcd::kDataOffset, message.data(), message.size());
        auto length = static_cast<uint32_t>(message.size());
        std::memcpy(block + lcd::kLengthOffset, &length, sizeof length);
        break;
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz fuzz;
  if (size >= lcd::kBlockSize) {
    std::memcpy(fuzz.accessor.Bytes(), data, lcd::kBlockSize);
    data += lcd::kBlockSize;
    size -= lcd::kBlockSize;
  }
  Input in(data, size);
  for (int steps = 0; steps < 4096 && !in.Empty(); ++steps) fuzz.Step(in);
  return 0;
}
