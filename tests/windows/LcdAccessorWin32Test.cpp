// The local-connection accessor over the real named mutex and mapping: opening
// the block, and blocks it must not use. Abandoned mutexes, other holders and
// accessors that go away locked are met across processes (LcdCrossProcessTest).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "broker/localconnection/LcdAccessorWin32.h"

namespace {

constexpr DWORD kBlockSize = 64528;

// Whether another thread finds the mutex free at once (and lets it go again).
DWORD TakeOnAnotherThread() {
  auto take = [] {
    UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "KestrelinkMutexOmega"));
    DWORD waited = mutex ? WaitForSingleObject(mutex.Get(), 0) : WAIT_FAILED;
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(mutex.Get());
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
  EXPECT_EQ(TakeOnAnotherThread(), WAIT_OBJECT_0);  // no thread owns the mutex
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
    EXPECT_EQ(TakeOnAnotherThread(), WAIT_OBJECT_0);
    EXPECT_EQ(std::memcmp(view, &c.marker, sizeof c.marker), 0);
    UnmapViewOfFile(view);
  }
}

}  // namespace
