#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

#include "FFUtils/FFUtils.h"

namespace vexa {
namespace {

struct TRecord {
  int64_t A;
  int32_t B;
};

TEST(GrowArrayTest, GrowsWithZeroedElementsAndKeepsOldOnes) {
  std::vector<TRecord> array{{7, 8}};
  GrowArray(array, 4);
  ASSERT_EQ(4u, array.size());
  EXPECT_EQ(7, array[0].A);
  EXPECT_EQ(8, array[0].B);
  for (size_t i = 1; i < array.size(); ++i) {
    EXPECT_EQ(0, array[i].A);
    EXPECT_EQ(0, array[i].B);
  }
}

TEST(GrowArrayTest, SmallerOrEqualSizeChangesNothing) {
  std::vector<int> array{1, 2, 3};
  for (int64_t size : {3, 2, 0, -5}) {
    GrowArray(array, size);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), array) << size;
  }
}

struct TBigElement {
  char Bytes[1 << 20];
};

TEST(GrowArrayTest, LimitIsTheIntRangeDividedByTheElementSize) {
  const int64_t limit = 2147483647 / static_cast<int64_t>(sizeof(TBigElement));
  EXPECT_EQ(limit, GrowArrayLimit(sizeof(TBigElement)));
  std::vector<TBigElement> array;
  try {
    GrowArray(array, limit);
    FAIL() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ("Array too big.", e.what());
  }
  EXPECT_TRUE(array.empty());
  GrowArray(array, 2);
  EXPECT_EQ(2u, array.size());

  std::vector<char> bytes;
  EXPECT_THROW(GrowArray(bytes, 2147483647), FFmpegException);
}

template <typename T>
struct TFailingAllocator {
  using value_type = T;
  TFailingAllocator() = default;
  template <typename U>
  TFailingAllocator(const TFailingAllocator<U>&) {}
  T* allocate(size_t) { throw std::bad_alloc(); }
  void deallocate(T*, size_t) {}
  bool operator==(const TFailingAllocator&) const { return true; }
  bool operator!=(const TFailingAllocator&) const { return false; }
};

TEST(GrowArrayTest, AllocationFailureIsReported) {
  std::vector<int, TFailingAllocator<int>> array;
  try {
    GrowArray(array, 10);
    FAIL() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ("Could not alloc buffer.", e.what());
  }
}

}  // namespace
}  // namespace vexa
