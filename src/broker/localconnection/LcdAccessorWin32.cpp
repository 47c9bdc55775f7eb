#include "broker/localconnection/LcdAccessorWin32.h"

#include <objbase.h>

#include <algorithm>

namespace {

// A mutex whose owner ended without releasing it is ours after the wait that
// reports so. The block may be half written, and callers treat that wait as
// failed; the mutex is released at once so that other players can go on.
constexpr int kAbandonedRetries = 4;

// The longest single wait: after each one the wait looks again at the
// holder record, which calls served meanwhile may have changed.
constexpr DWORD kSliceMs = 100;

// Which accessor of this process holds the lock, which one waits for it, and
// an event (manual reset) that the holder's last Unlock sets for the waiter.
// The waiter resets it before each slice, so that an uncontended lock costs
// no event calls. Broker calls all run on the apartment thread, so the
// record needs no lock of its own.
//
// A wait that serves the apartment is a frame on the thread's stack, and a
// call served inside it that waits too can only return once every wait
// above it has: waits stacked that way are taken last in, first out, and
// players that keep coming back keep the first waiter below them for good.
// Hence one Lock waits at a time; another object's Lock meanwhile answers a
// failed lock at once, and its player tries again.
struct HolderRecord {
  const Win32LcdAccessor* holder = nullptr;
  const Win32LcdAccessor* waiter = nullptr;
  bool opening = false;  // an accessor waits for the mutex to open the block
  UniqueHandle free{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

HolderRecord& Holder() {
  static HolderRecord record;
  return record;
}

// Sets a field of the record for the length of a wait.
template <typename T>
class Marked {
 public:
  Marked(T& field, T value) : field_(field), before_(field) { field_ = value; }
  Marked(const Marked&) = delete;
  Marked& operator=(const Marked&) = delete;
  ~Marked() { field_ = before_; }

 private:
  T& field_;
  T before_;
};

enum class Waited { Signalled, Abandoned, TimedOut, Failed };

// Waits up to `ms` for `handle`. A wait that may last serves the thread's
// apartment meanwhile: calls for other broker objects, the holder's Unlock
// among them, are answered inside it.
Waited WaitServing(HANDLE handle, DWORD ms) {
  DWORD index = WAIT_FAILED;
  if (ms == 0) {
    index = WaitForSingleObject(handle, 0);
  } else {
    HRESULT waited = CoWaitForMultipleHandles(0, ms, 1, &handle, &index);
    if (waited == RPC_S_CALLPENDING) return Waited::TimedOut;
    // A thread without COM has no apartment to serve.
    if (waited == CO_E_NOTINITIALIZED) {
      index = WaitForSingleObject(handle, ms);
    } else if (FAILED(waited)) {
      return Waited::Failed;
    }
  }
  if (index == WAIT_OBJECT_0) return Waited::Signalled;
  if (index == WAIT_ABANDONED_0) return Waited::Abandoned;
  return index == WAIT_TIMEOUT ? Waited::TimedOut : Waited::Failed;
}

// What is left of a bound that ends at `deadline` (GetTickCount64 units).
DWORD Left(ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
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
  bool held = GetLastError() != ERROR_ALREADY_EXISTS;
  HolderRecord& record = Holder();
  const ULONGLONG deadline = GetTickCount64() + kLockBoundMs;
  int abandoned = 0;
  if (!held) {
    // Free, or owned by this thread for a holder of this process: no wait.
    Waited now = WaitServing(mutex_.Get(), 0);
    held = now == Waited::Signalled;
    if (now == Waited::Abandoned) {
      ReleaseMutex(mutex_.Get());
      ++abandoned;
    }
  }
  if (!held && (record.waiter != nullptr || record.opening)) {
    // Another process keeps the mutex and a wait for it is on the stack
    // already: a second one on top would hold that one up. The next call
    // opens the block again.
    openingTimedOut_ = true;
  }
  Marked<bool> opening(record.opening, record.opening || !held);
  while (!held && !openingTimedOut_ && abandoned < kAbandonedRetries) {
    DWORD left = Left(deadline);
    Waited waited = WaitServing(mutex_.Get(), std::min(left, kSliceMs));
    if (waited == Waited::Signalled) {
      held = true;
    } else if (waited == Waited::Abandoned) {
      ReleaseMutex(mutex_.Get());
      ++abandoned;
    } else if (waited == Waited::Failed) {
      break;
    } else if (left <= kSliceMs) {
      openingTimedOut_ = true;
    }
  }
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
  if (depth_.Count() >= 1) GiveBack();
}

// The outermost level: the process's holder record first, then the mutex.
// While another accessor holds the lock this waits for the record's event;
// while nobody in the process does, for the mutex. Both waits serve calls;
// other accessors' Locks answer failed meanwhile, so nothing takes the lock
// on top of this wait.
bool Win32LcdAccessor::TakeMutex() {
  if (!mutex_) return false;
  HolderRecord& record = Holder();
  // This object's own calls served inside its wait fail here as well.
  if (record.waiter != nullptr) return false;
  // Uncontended, the mutex is had without serving anything.
  if (record.holder == nullptr) {
    Waited now = WaitServing(mutex_.Get(), 0);
    if (now == Waited::Signalled) {
      record.holder = this;
      return true;
    }
    if (now != Waited::TimedOut) {
      if (now == Waited::Abandoned) ReleaseMutex(mutex_.Get());
      return false;
    }
  }
  Marked<const Win32LcdAccessor*> waiting(record.waiter, this);
  const ULONGLONG deadline = GetTickCount64() + kLockBoundMs;
  for (bool first = true;; first = false) {
    DWORD left = Left(deadline);
    if (!first && left == 0) return false;
    if (record.holder != nullptr) {
      ResetEvent(record.free.Get());
      if (WaitServing(record.free.Get(), std::min(left, kSliceMs)) == Waited::Failed) return false;
      continue;
    }
    Waited waited = WaitServing(mutex_.Get(), std::min(left, kSliceMs));
    if (waited == Waited::Signalled) {
      if (record.holder == nullptr) {
        record.holder = this;
        return true;
      }
      ReleaseMutex(mutex_.Get());  // the holder's ownership, counted twice
    } else if (waited != Waited::TimedOut) {
      if (waited == Waited::Abandoned) ReleaseMutex(mutex_.Get());
      return false;
    }
  }
}

void Win32LcdAccessor::GiveBack() {
  if (mutex_) ReleaseMutex(mutex_.Get());
  HolderRecord& record = Holder();
  if (record.holder == this) {
    record.holder = nullptr;
    if (record.waiter != nullptr) SetEvent(record.free.Get());
  }
}

int32_t Win32LcdAccessor::Lock() {
  if (Block() == nullptr) return 0;
  return depth_.Lock([this] { return TakeMutex(); },
                     [] { return static_cast<uint32_t>(GetTickCount()); });
}

int32_t Win32LcdAccessor::Unlock() {
  return depth_.Unlock([this] { GiveBack(); });
}
