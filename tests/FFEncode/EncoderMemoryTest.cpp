// Many short tasks started and stopped in a loop keep the heap flat.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <fstream>

#include "EncoderTestSupport.h"
#include "FFEncode/FFEncode.h"
#include "Support/MediaFixtures.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace vexa::test {
namespace {

// Bytes the program holds on the heap now (the sanitizer's own count in the
// sanitizer build, where freed blocks sit in quarantine).
int64_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
  return static_cast<int64_t>(mallinfo2().uordblks);
#endif
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0;
  int64_t resident = 0;
  statm >> size >> resident;
  return resident * 4096;
}

TEST(EncoderMemoryTest, HundredStartedAndStoppedTasksKeepTheHeapFlat) {
  TFFEncoder encoder;
  ASSERT_TRUE(encoder.LoadLibraries(""));
  TTempDir dir;
  int notices = 0;
  encoder.SetOnTerminate([&](void*, const TTerminateInfo& info) {
    if (info.TaskIndex == -1) ++notices;
  });
  auto runOne = [&](int i) {
    encoder.ClearTasks();
    ASSERT_EQ(AddLavfiTask(encoder, LavfiVideo(10.0), dir.Path("loop" + std::to_string(i % 2) + ".mp4"), "-f lavfi",
                           "-c:v mpeg4"),
              0)
        << encoder.LastErrMsg();
    const int before = notices;
    encoder.StartTask(1);
    encoder.Stop(true);
    ASSERT_TRUE(PumpUntil([&] { return notices > before; }));
  };

  for (int i = 0; i < 10; ++i) ASSERT_NO_FATAL_FAILURE(runOne(i));
  encoder.ClearTasks();
  const int64_t heapBefore = HeapInUse();
  const int64_t rssBefore = ResidentBytes();
  for (int i = 0; i < 100; ++i) ASSERT_NO_FATAL_FAILURE(runOne(i));
  encoder.ClearTasks();
  const int64_t heapAfter = HeapInUse();
  const int64_t rssAfter = ResidentBytes();

  std::printf("heap in use: %lld -> %lld bytes (%+lld) over 100 tasks; resident: %lld -> %lld bytes\n",
              static_cast<long long>(heapBefore), static_cast<long long>(heapAfter),
              static_cast<long long>(heapAfter - heapBefore), static_cast<long long>(rssBefore),
              static_cast<long long>(rssAfter));
  RecordProperty("HeapGrowthBytes", std::to_string(heapAfter - heapBefore));
  // One task holds several megabytes (codec contexts, frames, muxer):
  // keeping even a small part of each would add up far beyond this.
  EXPECT_LT(heapAfter - heapBefore, 2 * 1024 * 1024);
  EXPECT_EQ(notices, 110);
}

}  // namespace
}  // namespace vexa::test
