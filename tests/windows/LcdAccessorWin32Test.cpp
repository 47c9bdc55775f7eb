// The local-connection accessor over the real named mutex and mapping: opening
// the block, blocks it must not use, and its recursive lock against threads that
// die holding the mutex, other accessors of one thread, and going away locked.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>

#include "broker/localconnection/LcdAccessorWin32.h"

namespace {

constexpr DWORD kBlockSize = 64528;

// A thread's wait for the mutex (up to `waitMs`); unless it releases it, it ends holding it.
DWORD TakeOnAnotherThread(bool release, DWORD waitMs = 5000) {
  auto take = [=] {
    UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "KestrelinkMutexOmega"));
    DWORD waited = mutex ? WaitForSingleObject(mutex.Get(), waitMs) : WAIT_FAILED;
    if (release && (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)) ReleaseMutex(mutex.Get());
    return waited;
  };
  return std::async(std::launch::async, take).get();  // the future's end joins the thread
}

// Nobody else may hold the named objects: each test starts from nothing.
class LcdAccessorWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    UniqueHandle existing(OpenFileMappingA(FILE_MAP_READ, FALSE, "KestrelinkFMOmega"));
    ASSERT_FALSE(existing) << "another process holds the shared block";
  }
};

TEST_F(LcdAccessorWin32, TheFirstAccessorCreatesAndInitialisesTheBlock) {
  Win32LcdAccessor first;
  ASSERT_NE(first.Block(), nullptr);
  UniqueHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, "KestrelinkFMOmega"));
  ASSERT_TRUE(mapping);
  auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  MEMORY_BASIC_INFORMATION region{};
  VirtualQuery(view, &region, sizeof region);
  EXPECT_GE(region.RegionSize, kBlockSize);
  const uint8_t header[16] = {1, 0, 0, 0, 1};
  EXPECT_EQ(std::memcmp(view, header, sizeof header), 0);
  EXPECT_EQ(view[40976], 0);
  // A second accessor opens the same block and leaves it as it is.
  ASSERT_TRUE(first.TryAddConnection("kept", 0, 0, '2'));
  Win32LcdAccessor second;
  EXPECT_EQ(second.FindConnectionFormat("kept", 0), 2);
  EXPECT_EQ(std::memcmp(view + 40976, "kept\0::2\0::1\0", 14), 0);
  EXPECT_EQ(TakeOnAnotherThread(true, 0), WAIT_OBJECT_0);  // no thread owns the mutex
  UnmapViewOfFile(view);
}

TEST_F(LcdAccessorWin32, BlocksItMustNotUseLeaveItWithoutMemory) {
  // clang-format off
  const struct { const char* why; DWORD size; uint32_t marker; } cases[] = {
      {"made smaller by another program", 4096, 1}, {"never initialised", kBlockSize, 0},
      {"another marker", kBlockSize, 2}};
  // clang-format on
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, "KestrelinkMutexOmega"));  // outlives accessors
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            c.size, "KestrelinkFMOmega"));
    void* view =
        mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, c.size) : nullptr;
    ASSERT_NE(view, nullptr);
    std::memcpy(view, &c.marker, sizeof c.marker);
    {
      Win32LcdAccessor accessor;
      EXPECT_EQ(accessor.Block(), nullptr);
      EXPECT_EQ(accessor.Lock(), 0);
      EXPECT_FALSE(accessor.TryAddConnection("x", 0, 0, '2'));
      EXPECT_EQ(accessor.Unlock(), 0);
      EXPECT_EQ(accessor.MessageTimeout(), 5000);
    }
    // Nothing was left owned or written.
    EXPECT_EQ(TakeOnAnotherThread(true, 0), WAIT_OBJECT_0);
    EXPECT_EQ(std::memcmp(view, &c.marker, sizeof c.marker), 0);
    UnmapViewOfFile(view);
  }
}

TEST_F(LcdAccessorWin32, AnAbandonedMutexIsAFailedLockAndIsNotKept) {
  Win32LcdAccessor accessor;
  ASSERT_NE(accessor.Block(), nullptr);
  ASSERT_EQ(TakeOnAnotherThread(false), WAIT_OBJECT_0);  // that thread ended holding it
  EXPECT_EQ(accessor.Lock(), 0);
  EXPECT_EQ(accessor.FindConnectionFormat("x", 0), 0);
  EXPECT_EQ(TakeOnAnotherThread(true, 0), WAIT_OBJECT_0);
  EXPECT_EQ(accessor.Lock(), 1);
  EXPECT_EQ(accessor.Unlock(), 0);
  // Opening finds it abandoned: it takes it again and opens normally.
  ASSERT_EQ(TakeOnAnotherThread(false), WAIT_OBJECT_0);
  Win32LcdAccessor late;
  ASSERT_NE(late.Block(), nullptr);
  EXPECT_TRUE(late.TryAddConnection("late", 0, 0, '2'));
  EXPECT_EQ(TakeOnAnotherThread(true, 0), WAIT_OBJECT_0);
}

TEST_F(LcdAccessorWin32, ALockIsItsAccessorsAndGoesWithIt) {
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, "KestrelinkMutexOmega"));  // outlives accessors
  auto holder = std::make_unique<Win32LcdAccessor>();
  Win32LcdAccessor other;
  ASSERT_NE(holder->Block(), nullptr);
  EXPECT_EQ(holder->Lock(), 1);
  EXPECT_EQ(other.Unlock(), 0);  // never locked: must not release the holder's level
  EXPECT_EQ(TakeOnAnotherThread(true, 100), WAIT_TIMEOUT);
  EXPECT_EQ(holder->Unlock(), 0);
  EXPECT_EQ(TakeOnAnotherThread(true, 0), WAIT_OBJECT_0);
  // An accessor that goes away locked releases the mutex.
  ASSERT_EQ(holder->Lock(), 1);
  EXPECT_EQ(holder->Lock(), 2);
  EXPECT_NE(holder->LockTime(), 0u);
  EXPECT_EQ(TakeOnAnotherThread(true, 100), WAIT_TIMEOUT);
  holder.reset();
  EXPECT_EQ(TakeOnAnotherThread(true, 0), WAIT_OBJECT_0);
}

}  // namespace
