#include "broker/localconnection/LcdAccessor.h"

#include <cstring>

using namespace lcd;

namespace {

constexpr uint32_t kNowhere = UINT32_MAX;

// Fields that other processes write are read once, byte by byte, so that the
// value checked is the value used.
uint32_t ReadField(const uint8_t* block, uint32_t offset) {
  const volatile uint8_t* p = block + offset;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void WriteField(uint8_t* block, uint32_t offset, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The byte at `offset`; past the end of the block reads as 0, which is never
// part of a suffix.
uint8_t ByteAt(const uint8_t* block, size_t offset) {
  return offset < kBlockSize ? block[offset] : 0;
}

// The NUL that ends the string at `at`, or kNowhere when it runs to the end
// of the block. Two of every three strings in a list the broker wrote are
// suffixes ("::" and one byte), whose end needs no search.
uint32_t StringEnd(const uint8_t* block, uint32_t at) {
  if (at + 3 < kBlockSize && block[at] == ':' && block[at + 1] == ':' && block[at + 2] != 0 &&
      block[at + 3] == 0) {
    return at + 3;
  }
  const void* found = std::memchr(block + at, 0, kBlockSize - at);
  return found == nullptr ? kNowhere
                          : static_cast<uint32_t>(static_cast<const uint8_t*>(found) - block);
}

// After a name's NUL: "::" format NUL "::" realm NUL. Without the colons the
// entry predates realms and formats.
bool HasSuffixes(const uint8_t* block, size_t nul) {
  return ByteAt(block, nul + 1) == ':' && ByteAt(block, nul + 2) == ':' &&
         ByteAt(block, nul + 5) == ':' && ByteAt(block, nul + 6) == ':';
}

// Realm 1 and realms 0 and 2 do not see each other; realm 3, and entries
// without a realm, are seen from everywhere.
bool IsVisible(const uint8_t* block, size_t nul, uint32_t realm) {
  if (!HasSuffixes(block, nul)) return true;
  if (nul + 7 >= kBlockSize) return false;  // the realm byte is cut off by the block's end
  int entryRealm = int{block[nul + 7]} - '1';
  if (realm == 1 && (entryRealm == 0 || entryRealm == 2)) return false;
  if (entryRealm == 1 && (realm == 0 || realm == 2)) return false;
  return true;
}

// The format byte follows "::"; entries without it speak format 1.
int32_t FormatAfter(const uint8_t* block, size_t nul) {
  if (ByteAt(block, nul + 1) != ':' || ByteAt(block, nul + 2) != ':') return 1;
  if (nul + 3 >= kBlockSize) return 0;
  return int32_t{block[nul + 3]} - '0';
}

}  // namespace

void lcd::InitializeLcdBlock(uint8_t* block) {
  WriteField(block, kValidOffset, 1);
  WriteField(block, kInitOffset, 1);
  block[kListOffset] = 0;
  WriteField(block, kLengthOffset, 0);
  WriteField(block, kTimeOffset, 0);
}

// The accessor's lock for the length of one operation; the operation fails
// when it is not held.
class CoreLcdAccessor::Held {
 public:
  explicit Held(ILcdAccessor& accessor) : accessor_(accessor), held_(accessor.Lock() >= 1) {}
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (held_) accessor_.Unlock();
  }
  explicit operator bool() const { return held_; }

 private:
  ILcdAccessor& accessor_;
  bool held_;
};

struct CoreLcdAccessor::Walk {
  uint32_t match = kNowhere;  // offset of the matching name
  uint32_t end = kNowhere;    // offset of the empty string that ends the list
};

// Walks every string of the list, suffixes included. A list that runs to the
// end of the block has no end: nothing after its last complete string is
// found, and nothing can be added to it.
CoreLcdAccessor::Walk CoreLcdAccessor::Lookup(std::string_view name, uint32_t realm,
                                              bool toListEnd) const {
  Walk walk;
  const uint8_t* block = block_;
  uint32_t at = kListOffset;
  while (at < kBlockSize) {
    if (block[at] == 0) {
      walk.end = at;
      break;
    }
    uint32_t nul = StringEnd(block, at);
    if (nul == kNowhere) break;
    if (walk.match == kNowhere && nul - at == name.size() && !name.empty() &&
        std::memcmp(block + at, name.data(), name.size()) == 0 && IsVisible(block, nul, realm)) {
      walk.match = at;
      if (!toListEnd) break;
    }
    at = nul + 1;
  }
  return walk;
}

int32_t CoreLcdAccessor::FindConnectionFormat(std::string_view name, uint32_t realm) {
  if (block_ == nullptr || name.empty()) return 0;
  Held held(*this);
  if (!held) return 0;
  Walk walk = Lookup(name, realm, false);
  if (walk.match == kNowhere) return 0;
  return FormatAfter(block_, walk.match + name.size());
}

bool CoreLcdAccessor::RemoveConnection(std::string_view name, uint32_t realm) {
  if (block_ == nullptr || name.empty()) return false;
  Held held(*this);
  if (!held) return false;
  Walk walk = Lookup(name, realm, true);
  if (walk.match == kNowhere || walk.end == kNowhere) return false;
  size_t from = walk.match + name.size() + 1;
  if (ByteAt(block_, from) == ':' && ByteAt(block_, from + 1) == ':') {
    from += 4;
    if (ByteAt(block_, from) == ':' && ByteAt(block_, from + 1) == ':') from += 4;
  }
  // Suffixes that do not have their usual shape may reach past the list's end.
  if (from > walk.end) from = walk.end;
  std::memmove(block_ + walk.match, block_ + from, walk.end + 1 - from);
  return true;
}

bool CoreLcdAccessor::TryAddConnection(std::string_view name, uint32_t realmToSeek,
                                       uint32_t realmToAdd, int32_t messageFormatVersion) {
  if (block_ == nullptr || name.empty()) return false;
  // A NUL inside the entry would end the list early for every reader.
  auto format = static_cast<uint8_t>(messageFormatVersion);
  auto realm = static_cast<uint8_t>('1' + realmToAdd);
  if (format == 0 || realm == 0 || std::memchr(name.data(), 0, name.size()) != nullptr) {
    return false;
  }
  Held held(*this);
  if (!held) return false;
  Walk walk = Lookup(name, realmToSeek, false);
  if (walk.match != kNowhere || walk.end == kNowhere) return false;
  size_t entry = name.size() + 1 + 4 + 4;
  if (walk.end + entry + 1 > kBlockSize) return false;
  uint8_t* out = block_ + walk.end;
  std::memcpy(out, name.data(), name.size());
  out += name.size();
  const uint8_t suffixes[] = {0, ':', ':', format, 0, ':', ':', realm, 0, 0};
  std::memcpy(out, suffixes, sizeof suffixes);
  return true;
}

bool CoreLcdAccessor::ReadTarget(char* buffer, size_t size) const {
  uint32_t length = ReadField(block_, kLengthOffset);
  if (length <= 1 || length > kDataSize) return false;
  const volatile uint8_t* data = block_ + kDataOffset;
  uint8_t marker = data[0];
  uint32_t header = 0;
  uint64_t count = 0;
  if (marker == kShortStringMarker) {
    header = 3;
    if (length < header) return false;
    count = uint64_t{data[1]} << 8 | data[2];
  } else if (marker == kLongStringMarker) {
    header = 5;
    if (length < header) return false;
    count = uint64_t{data[1]} << 24 | uint64_t{data[2]} << 16 | uint64_t{data[3]} << 8 | data[4];
  } else {
    return false;
  }
  if (header + count > length || count + 1 > size) return false;
  std::memcpy(buffer, block_ + kDataOffset + header, count);
  buffer[count] = '\0';
  return true;
}

void CoreLcdAccessor::WriteMessageFields(uint32_t time, uint32_t length) {
  WriteField(block_, kTimeOffset, time);
  WriteField(block_, kLengthOffset, length);
}

bool CoreLcdAccessor::GetMessageTarget(char* buffer, size_t size) {
  if (block_ == nullptr || buffer == nullptr || size == 0) return false;
  Held held(*this);
  if (!held) return false;
  return ReadTarget(buffer, size);
}

int32_t CoreLcdAccessor::DispatchMessage(const uint8_t* data, uint32_t length,
                                         uint32_t senderVersion, uint32_t expectedFormat,
                                         uint32_t realm) {
  if (block_ == nullptr || length > kDataSize || (data == nullptr && length != 0)) {
    return kDispatchRefused;
  }
  Held held(*this);
  if (!held) return kDispatchRefused;
  if (ReadField(block_, kLengthOffset) != 0) return kDispatchRefused;

  WriteMessageFields(LockTime(), length);
  if (length != 0) std::memcpy(block_ + kDataOffset, data, length);
  int32_t result = kDispatchPosted;

  // A target that cannot be read is posted without asking for its receiver.
  char target[kTargetBufferSize];
  if (ReadTarget(target, sizeof target)) {
    int32_t format = FindConnectionFormat(target, realm);
    if (format == 0) {
      result = kDispatchNoReceiver;
      WriteMessageFields(0, 0);
    } else if (senderVersion >= 9 && format != static_cast<int32_t>(expectedFormat)) {
      result = kDispatchNoReceiver;
      if (senderVersion >= 11) WriteMessageFields(0, 0);
    }
  }
  return result;
}

bool CoreLcdAccessor::ClearMessage() {
  if (block_ == nullptr) return false;
  Held held(*this);
  if (!held) return false;
  WriteMessageFields(0, 0);
  return true;
}

bool CoreLcdAccessor::PruneDeadMessage() {
  if (block_ == nullptr) return false;
  Held held(*this);
  if (!held) return false;
  if (ReadField(block_, kLengthOffset) == 0) return false;
  // Tick counts wrap after 49.7 days: the age is the signed difference.
  auto age = static_cast<int32_t>(LockTime() - ReadField(block_, kTimeOffset));
  if (age <= MessageTimeout()) return false;
  char target[kTargetBufferSize];
  if (ReadTarget(target, sizeof target)) {
    // Each removal shortens the list, so this ends; the bound is for a list
    // that a peer keeps filling while we walk it.
    std::string_view name(target);
    for (uint32_t i = 0; i < kListSize && RemoveConnection(name, kAnyRealm); ++i) {
    }
  }
  WriteMessageFields(0, 0);
  return true;
}

bool CoreLcdAccessor::GetMessageData(const uint8_t** data, uint32_t* length) {
  if (data == nullptr || length == nullptr) return false;
  *data = nullptr;
  *length = 0;
  if (block_ == nullptr) return false;
  Held held(*this);
  if (!held) return false;
  uint32_t pending = ReadField(block_, kLengthOffset);
  if (pending == 0 || pending > kDataSize) return false;
  *data = block_ + kDataOffset;
  *length = pending;
  return true;
}
