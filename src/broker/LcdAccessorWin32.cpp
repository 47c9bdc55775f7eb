#include "broker/LcdAccessorWin32.h"

namespace {

// A mutex whose owner ended without releasing it is ours after the wait that
// reports so. The block may be half written, and callers treat that wait as
// failed; the mutex is released at once so that other players can go on.
constexpr int kAbandonedRetries = 4;

bool WaitForOpening(HANDLE mutex) {
  for (int attempt = 0; attempt < kAbandonedRetries; ++attempt) {
    DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited == WAIT_OBJECT_0) return true;
    if (waited != WAIT_ABANDONED) return false;
    ReleaseMutex(mutex);
  }
  return false;
}

uint32_t ValidMarker(const uint8_t* block) {
  const volatile uint8_t* p = block + lcd::kValidOffset;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

Win32LcdAccessor::Win32LcdAccessor() {
  SetLastError(ERROR_SUCCESS);
  mutex_.Reset(CreateMutexA(nullptr, TRUE, kMutexName));
  if (!mutex_) return;
  // A new mutex is ours already; an existing one is waited for. Opening
  // happens once per broker object, so an abandoned mutex is waited for
  // again rather than leaving the object without memory for its lifetime.
  bool held = GetLastError() != ERROR_ALREADY_EXISTS || WaitForOpening(mutex_.Get());
  if (held) {
    SetLastError(ERROR_SUCCESS);
    mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      lcd::kBlockSize, kMappingName));
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mapping_) {
      // A mapping made smaller by someone else cannot be mapped at this size.
      view_.Reset(MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, lcd::kBlockSize));
    }
    if (view_) {
      auto* block = static_cast<uint8_t*>(view_.Get());
      if (!existed) lcd::InitializeLcdBlock(block);
      if (ValidMarker(block) != 1) view_.Reset();
    }
    ReleaseMutex(mutex_.Get());
  }
  if (!view_) {
    mapping_.Reset();
    mutex_.Reset();
    return;
  }
  SetBlock(static_cast<uint8_t*>(view_.Get()));
}

Win32LcdAccessor::~Win32LcdAccessor() {
  // A client that locked and went away must not leave every other player
  // waiting: the mutex stays owned by this thread until it is released.
  if (depth_.Count() >= 1 && mutex_) ReleaseMutex(mutex_.Get());
}

bool Win32LcdAccessor::TakeMutex() {
  if (!mutex_) return false;
  DWORD waited = WaitForSingleObject(mutex_.Get(), INFINITE);
  if (waited == WAIT_OBJECT_0) return true;
  if (waited == WAIT_ABANDONED) ReleaseMutex(mutex_.Get());
  return false;
}

int32_t Win32LcdAccessor::Lock() {
  if (Block() == nullptr) return 0;
  return depth_.Lock([this] { return TakeMutex(); },
                     [] { return static_cast<uint32_t>(GetTickCount()); });
}

int32_t Win32LcdAccessor::Unlock() {
  return depth_.Unlock([this] {
    if (mutex_) ReleaseMutex(mutex_.Get());
  });
}
