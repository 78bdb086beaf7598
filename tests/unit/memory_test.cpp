#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

TEST_F(MemoryTest, HeaderCarriesTotalSizeAndCallersFlag) {
  struct {
    uint64_t size;
    uint8_t flag;
  } const cases[] = {{24, 0}, {24, 7}, {24, 255}, {0, 1}};
  for (auto const& c : cases) {
    tStatus status{16, 240000};  // a warning does not stop the allocation
    void* object = operatorNewFlagged(c.size, status, c.flag);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(status.code, 240000);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % 16, 0u);
    EXPECT_EQ(headerOf(object).totalSize, c.size + 16);
    EXPECT_EQ(headerOf(object).flag, c.flag);
    EXPECT_EQ(sim::liveAllocationBytes(), bytes_ + c.size + 16);
    operatorDelete(object);
  }
  void* plain = operatorNew(0);  // flagged 1
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(headerOf(plain).flag, 1u);
  operatorDelete(plain);
  operatorDelete(nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR100_free"), 5u);
}

TEST_F(MemoryTest, NoMemoryRecordsLineByFlag) {
  struct {
    uint8_t flag;
    uint64_t line;
  } const cases[] = {{1, 520}, {0, 393}, {200, 520}};
  for (auto const& c : cases) {
    sim::failNthCall("nQVZOR100_malloc", 1);
    tLongStatus status;
    EXPECT_EQ(operatorNewFlagged(8, status, c.flag), nullptr);
    SCOPED_TRACE(int(c.flag));
    testing_support::expectSite(status, kStatusMemoryFull, "memory", c.line);
  }
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
