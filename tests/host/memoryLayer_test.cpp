// The layer's allocator as the driver relies on it: aligned blocks, no block
// for a size that cannot exist, and a loud stop on a bad free.
#include <gtest/gtest.h>

#include <cstdint>

#include "host/layer/control.h"
#include "platform/kernelServices.h"

namespace {

TEST(LayerMemory, BlocksAreSixteenByteAlignedAndZeroSizedOnesAreDistinct) {
  void* a = nQVZOR100_malloc(0);
  void* b = nQVZOR100_malloc(0);
  void* c = nQVZOR100_malloc(17);
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c) % 16, 0u);
  EXPECT_EQ(sim::liveAllocations(), 3u);
  nQVZOR100_free(a);
  nQVZOR100_free(b);
  nQVZOR100_free(c);
  nQVZOR100_free(nullptr);
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST(LayerMemory, SizesNearTheTopOfTheAddressSpaceAreRefused) {
  EXPECT_EQ(nQVZOR100_malloc(UINT64_MAX), nullptr);
  EXPECT_EQ(nQVZOR100_malloc(UINT64_MAX - 14), nullptr);
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST(LayerMemoryDeathTest, FreeingWhatWasNeverAllocatedStopsTheProgram) {
  int onStack = 0;
  EXPECT_DEATH(nQVZOR100_free(&onStack), "not a live block");
}

TEST(LayerMemory, VsnPrintfReportsTextThatDidNotFit) {
  char buffer[8];
  auto format = [&](uint64_t size, char const* text, ...) {
    va_list arguments;
    va_start(arguments, text);
    int32_t result = nQVZOR100_vsnPrintf(buffer, size, text, arguments);
    va_end(arguments);
    return result;
  };
  EXPECT_EQ(format(sizeof buffer, "%s", "1234567"), 7);
  EXPECT_EQ(format(sizeof buffer, "%s", "12345678"), -1);
  EXPECT_STREQ(buffer, "1234567");
}

}  // namespace
