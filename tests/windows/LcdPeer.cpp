// lcd_peer: an unsandboxed player instance as the local-connection tests
// need one. It opens the shared block by name with plain Win32 calls (never
// through the library) and does one thing to it:
//
//   lcd_peer dump FILE          writes the whole block to FILE
//   lcd_peer age MS             moves the pending message's time MS into the past
//   lcd_peer fill BYTE          fills the whole block with one byte value
//   lcd_peer random SEED        fills the whole block with pseudo-random bytes
//   lcd_peer write OFFSET HEX   writes bytes at an offset of the block
//   lcd_peer die-holding        takes the mutex and ends without releasing it
//   lcd_peer hold MS            takes the mutex, prints "held", keeps it MS, ends
//                               without releasing it
//   lcd_peer try-lock MS        takes and releases the mutex, waiting at most MS
//
// The other commands hold the mutex while they work, waiting up to 10 s for
// it. Exit code 0 on success; 2 bad arguments, 3 no mutex or no lock, 4 no
// block, 5 write failure, 6 the mutex stayed taken for try-lock.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kBlockSize = 64528;
constexpr DWORD kTimeOffset = 8;

struct Peer {
  HANDLE mutex = nullptr;
  HANDLE mapping = nullptr;
  uint8_t* block = nullptr;

  ~Peer() {
    if (block != nullptr) UnmapViewOfFile(block);
    if (mapping != nullptr) CloseHandle(mapping);
    if (mutex != nullptr) CloseHandle(mutex);
  }

  int Open() {
    mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "KestrelinkMutexOmega");
    if (mutex == nullptr) return 3;
    mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "KestrelinkFMOmega");
    if (mapping == nullptr) return 4;
    block = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize));
    return block == nullptr ? 4 : 0;
  }

  bool Lock() {
    DWORD waited = WaitForSingleObject(mutex, 10000);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
};

int Dump(Peer& peer, const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 5;
  DWORD written = 0;
  BOOL ok = WriteFile(file, peer.block, kBlockSize, &written, nullptr);
  CloseHandle(file);
  return ok && written == kBlockSize ? 0 : 5;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring command = argv[1];
  Peer peer;
  if (int opened = peer.Open(); opened != 0) return opened;

  if (command == L"die-holding") {
    WaitForSingleObject(peer.mutex, 10000);
    ExitProcess(0);
  }
  if (command == L"hold" && argc == 3) {
    if (WaitForSingleObject(peer.mutex, 10000) == WAIT_TIMEOUT) return 3;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(std::wcstoul(argv[2], nullptr, 10));
    ExitProcess(0);
  }
  if (command == L"try-lock" && argc == 3) {
    DWORD waited = WaitForSingleObject(peer.mutex, std::wcstoul(argv[2], nullptr, 10));
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return 6;
    ReleaseMutex(peer.mutex);
    return 0;
  }
  if (!peer.Lock()) return 3;
  int result = 0;
  if (command == L"dump" && argc == 3) {
    result = Dump(peer, argv[2]);
  } else if (command == L"age" && argc == 3) {
    uint32_t time;
    std::memcpy(&time, peer.block + kTimeOffset, sizeof time);
    time -= static_cast<uint32_t>(std::wcstoul(argv[2], nullptr, 10));
    std::memcpy(peer.block + kTimeOffset, &time, sizeof time);
  } else if (command == L"fill" && argc == 3) {
    std::memset(peer.block, static_cast<int>(std::wcstoul(argv[2], nullptr, 0)), kBlockSize);
  } else if (command == L"random" && argc == 3) {
    uint32_t state = static_cast<uint32_t>(std::wcstoul(argv[2], nullptr, 0)) | 1;
    for (DWORD i = 0; i < kBlockSize; ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      peer.block[i] = static_cast<uint8_t>(state);
    }
  } else if (command == L"write" && argc == 4) {
    DWORD offset = std::wcstoul(argv[2], nullptr, 0);
    std::wstring hex = argv[3];
    for (size_t i = 0; i + 1 < hex.size() && offset < kBlockSize; i += 2, ++offset) {
      peer.block[offset] =
          static_cast<uint8_t>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
  } else {
    result = 2;
  }
  ReleaseMutex(peer.mutex);
  return result;
}
