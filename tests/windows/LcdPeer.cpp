// lcd_peer: an unsandboxed player that opens the shared block by name with
// plain Win32 calls and does one thing to it, holding the mutex (waiting up
// to 10 s): dump FILE | age MS (the message's time MS earlier) | fill BYTE |
// random SEED | write OFFSET HEX | try-lock MS (take and release, waiting at
// most MS) | die-holding (end without releasing) | hold MS (print "held",
// keep it MS, end without releasing). Exit code 0 on success; 2 bad
// arguments, 3 no mutex or no lock, 4 no block, 5 write failure, 6 the mutex
// stayed taken for try-lock.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  constexpr DWORD kBlockSize = 64528;
  if (argc < 2) return 2;
  const std::wstring command = argv[1];
  const unsigned long number = argc > 2 ? std::wcstoul(argv[2], nullptr, 0) : 0;
  HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "KestrelinkMutexOmega");
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "KestrelinkFMOmega");
  if (mutex == nullptr) return 3;
  auto* block = static_cast<uint8_t*>(
      mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize) : nullptr);
  if (block == nullptr) return 4;
  // The process ends (and the system closes its handles) right after.
  DWORD waited = WaitForSingleObject(mutex, command == L"try-lock" ? number : 10000);
  bool locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  if (command == L"die-holding") ExitProcess(0);
  if (command == L"hold" && locked) {
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(number);
    ExitProcess(0);
  }
  if (!locked) return command == L"try-lock" ? 6 : 3;
  int result = 0;
  if (command == L"try-lock") {
  } else if (command == L"dump" && argc == 3) {
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    result = WriteFile(file, block, kBlockSize, &written, nullptr) && written == kBlockSize ? 0 : 5;
    CloseHandle(file);
  } else if (command == L"age" && argc == 3) {
    uint32_t time;
    std::memcpy(&time, block + 8, sizeof time);
    time -= std::wcstoul(argv[2], nullptr, 10);
    std::memcpy(block + 8, &time, sizeof time);
  } else if (command == L"fill" && argc == 3) {
    std::memset(block, static_cast<int>(number), kBlockSize);
  } else if (command == L"random" && argc == 3) {
    for (uint32_t i = 0, state = static_cast<uint32_t>(number) | 1; i < kBlockSize; ++i) {
      state ^= state << 13, state ^= state >> 17, state ^= state << 5;
      block[i] = static_cast<uint8_t>(state);
    }
  } else if (command == L"write" && argc == 4) {
    const std::wstring hex = argv[3];
    for (size_t i = 0, at = number; i + 1 < hex.size() && at < kBlockSize; i += 2, ++at) {
      block[at] = static_cast<uint8_t>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
  } else {
    result = 2;
  }
  ReleaseMutex(mutex);
  return result;
}
