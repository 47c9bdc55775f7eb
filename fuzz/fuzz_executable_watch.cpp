// Sequences of writes from arbitrary bytes against a sparse simulated file.
// Each write is judged by the watch and carried out unless it is refused. A
// separate look at the file the write would leave must agree with the watch,
// so that no sequence leaves an executable image behind. When the input makes
// the file's bytes unreadable, the watch may miss an image but must never
// refuse a write that does not make one.
//
// Input: a flags byte, then writes. Each write is a kind byte, a position,
// a length byte and either that many data bytes or, for a template write,
// two bytes of a header offset H: the data is then the matching slice of an
// image with "MZ" at 0, H at 60..63 and "PE\0\0" at H, so that images are
// easy to assemble in pieces, out of order and after seeks.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "broker/policy/ExecutableWatch.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr uint64_t kTop = std::numeric_limits<uint64_t>::max();

// Bytes that were never written read as zeros, as a gap does.
struct SparseFile {
  uint64_t size = 0;
  std::map<uint64_t, uint8_t> bytes;

  uint8_t At(uint64_t offset) const {
    auto found = bytes.find(offset);
    return found == bytes.end() ? 0 : found->second;
  }
};

// The file after writing `data` at `position`, without changing it.
struct AfterWrite {
  const SparseFile& file;
  uint64_t position;
  const std::vector<uint8_t>& data;

  uint64_t Size() const {
    if (data.empty()) return file.size;
    return file.size > position + data.size() ? file.size : position + data.size();
  }
  uint8_t At(uint64_t offset) const {
    if (offset >= position && offset - position < data.size()) return data[offset - position];
    return file.At(offset);
  }
};

bool IsImage(const AfterWrite& file) {
  uint64_t size = file.Size();
  if (size < 64 || file.At(0) != 'M' || file.At(1) != 'Z') return false;
  uint64_t h = 0;
  for (int i = 3; i >= 0; --i) h = h << 8 | file.At(60 + i);
  return h + 4 <= size && file.At(h) == 'P' && file.At(h + 1) == 'E' && file.At(h + 2) == 0 &&
         file.At(h + 3) == 0;
}

uint8_t TemplateByte(uint64_t offset, uint32_t h) {
  if (offset >= h && offset - h < 4) return "PE\0\0"[offset - h];
  if (offset == 0) return 'M';
  if (offset == 1) return 'Z';
  if (offset >= 60 && offset < 64) return static_cast<uint8_t>(h >> (8 * (offset - 60)));
  return 0xCC;
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint64_t Take(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(Next()) << (8 * i);
    return value;
  }
  uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint8_t flags = in.Next();
  // 1: every read fails; 2: reads of some offsets fail.
  bool allFail = flags & 1;
  bool someFail = flags & 2;
  uint8_t failMask = in.Next();
  bool mayMiss = allFail || someFail;

  SparseFile file;
  std::vector<uint8_t> write;
  for (int count = 0; count < 512 && !in.Empty(); ++count) {
    uint8_t kind = in.Next();
    uint64_t position = 0;
    switch (kind & 3) {
      case 0:
        position = in.Take(1);
        break;
      case 1:
        position = in.Take(2);
        break;
      case 2: {  // at the end, or a little past it
        uint64_t gap = in.Take(1);
        if (file.size > kTop - 512) continue;
        position = file.size + gap;
        break;
      }
      default:
        position = in.Take(8);
        if (position > kTop - 512) position = kTop - 512;
        break;
    }
    size_t length = in.Next();
    write.clear();
    if (kind & 4) {
      auto h = static_cast<uint32_t>(in.Take(2));
      if (kind & 8) h |= static_cast<uint32_t>(in.Take(2)) << 16;
      for (size_t i = 0; i < length; ++i) write.push_back(TemplateByte(position + i, h));
    } else {
      for (size_t i = 0; i < length && !in.Empty(); ++i) write.push_back(in.Next());
    }

    int reads = 0;
    ExecutableWatch::Reader reader = [&](uint64_t offset, uint8_t* out, size_t want) -> size_t {
      ++reads;
      // Only bytes the file has and the write does not cover are asked for.
      Check(offset < file.size && want >= 1);
      Check(!(offset >= position && offset - position < write.size()));
      if (allFail || (someFail && ((offset ^ failMask) & 1))) return 0;
      size_t n = 0;
      for (; n < want && offset + n < file.size; ++n) out[n] = file.At(offset + n);
      return n;
    };
    bool refused =
        ExecutableWatch::WouldMakeImage(position, write.data(), write.size(), file.size, reader);
    Check(reads <= 10);

    bool makesImage = !write.empty() && IsImage(AfterWrite{file, position, write});
    if (mayMiss) {
      Check(!refused || makesImage);
    } else {
      Check(refused == makesImage);
    }
    if (refused) continue;
    for (size_t i = 0; i < write.size(); ++i) file.bytes[position + i] = write[i];
    if (!write.empty() && position + write.size() > file.size) file.size = position + write.size();
  }
  return 0;
}
