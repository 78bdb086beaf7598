#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "host/layer/control.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

tAllocationHeader const& headerOf(void* object) {
  return static_cast<tAllocationHeader const*>(object)[-1];
}

// Every test ends with what it allocated freed, and logs the layer's calls.
class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::enableCallLog(true);
  }
  void TearDown() override {
    EXPECT_EQ(sim::liveAllocations(), blocks_);
    EXPECT_EQ(sim::liveAllocationBytes(), bytes_);
    sim::reset();
  }
  uint64_t const blocks_ = sim::liveAllocations();
  uint64_t const bytes_ = sim::liveAllocationBytes();
};

// A warning does not stop the allocation; the plain form flags its blocks.
TEST_F(MemoryTest, HeaderCarriesTotalSizeAndCallersFlag) {
  for (auto [size, flag] : {std::pair<uint64_t, uint8_t>{24, 7}, {0, 255}}) {
    tStatus status{16, 240000};
    void* object = operatorNewFlagged(size, status, flag);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % 16, 0u);
    EXPECT_EQ(headerOf(object).totalSize, size + 16);
    EXPECT_EQ(headerOf(object).flag, flag);
    EXPECT_EQ(sim::liveAllocationBytes(), bytes_ + size + 16);
    operatorDelete(object);
  }
  void* plain = operatorNew(0);
  EXPECT_EQ(headerOf(plain).flag, 1u);
  operatorDelete(plain);
  operatorDelete(nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR100_free"), 3u);
}

TEST_F(MemoryTest, NoMemoryIsReportedAndNothingReturned) {
  sim::failNthCall("nQVZOR100_malloc", 1);
  tStatus status;
  EXPECT_EQ(operatorNewFlagged(8, status, 0), nullptr);
  EXPECT_EQ(status.code, kStatusMemoryFull);
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(operatorNew(8), nullptr);
}

TEST_F(MemoryTest, SizeOverflowFailsBeforeTheLayerAndAnEarlierErrorIsKept) {
  for (uint64_t size : {UINT64_MAX - 15, UINT64_MAX}) {
    tLongStatus status;
    EXPECT_EQ(operatorNewFlagged(size, status, 1), nullptr);
    testing_support::expectSite(status, kStatusMemoryFull, "memoryAllocation", 46);
  }
  EXPECT_EQ(operatorNew(UINT64_MAX), nullptr);
  for (uint64_t size : {uint64_t{8}, UINT64_MAX}) {
    tStatus failed{16, kStatusBadArgument};
    EXPECT_EQ(operatorNewFlagged(size, failed, 1), nullptr);
    EXPECT_EQ(failed.code, kStatusBadArgument);
  }
  EXPECT_EQ(sim::callCount("nQVZOR100_malloc"), 0u);
}

}  // namespace
