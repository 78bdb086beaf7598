#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/layer/control.h"
#include "platform/statusCodes.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

tAllocationHeader const& headerOf(void* object) {
  return static_cast<tAllocationHeader const*>(object)[-1];
}

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    blocks_ = sim::liveAllocations();
    bytes_ = sim::liveAllocationBytes();
  }
  void TearDown() override {
    EXPECT_EQ(sim::liveAllocations(), blocks_);
    EXPECT_EQ(sim::liveAllocationBytes(), bytes_);
    sim::reset();
  }
  uint64_t blocks_ = 0;
  uint64_t bytes_ = 0;
};

// ---- Header ------------------------------------------------------------------

TEST_F(MemoryTest, ZeroBytesStillGetAHeaderAndAPointer) {
  void* object = operatorNew(0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(sim::liveAllocationBytes(), bytes_ + 16);
  EXPECT_EQ(headerOf(object).totalSize, 16u);
  EXPECT_EQ(headerOf(object).flag, 1u);
  operatorDelete(object);
}

TEST_F(MemoryTest, HeaderCarriesTotalSizeAndCallersFlag) {
  for (uint8_t flag : {uint8_t{0}, uint8_t{1}, uint8_t{7}, uint8_t{255}}) {
    tStatus status;
    void* object = operatorNewFlagged(24, status, flag);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % 16, 0u);
    EXPECT_EQ(headerOf(object).totalSize, 40u);
    EXPECT_EQ(headerOf(object).flag, flag);
    EXPECT_EQ(sim::liveAllocationBytes(), bytes_ + 40);
    operatorDelete(object);
  }
}

TEST_F(MemoryTest, WarningDoesNotStopAllocation) {
  tStatus status;
  status.code = 240000;
  void* object = operatorNewFlagged(8, status, 1);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(status.code, 240000);
  operatorDelete(object);
}

TEST_F(MemoryTest, DeletingNullCallsNothing) {
  sim::enableCallLog(true);
  operatorDelete(nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR100_free"), 0u);
}

// ---- Failures ----------------------------------------------------------------

TEST_F(MemoryTest, NoMemoryRecordsLineByFlag) {
  struct {
    uint8_t flag;
    uint64_t line;
  } const cases[] = {{1, 520}, {0, 393}, {200, 520}};
  for (auto const& c : cases) {
    sim::failNthCall("nQVZOR100_malloc", 1);
    tLongStatus status;
    EXPECT_EQ(operatorNewFlagged(8, status, c.flag), nullptr);
    EXPECT_EQ(status.head.code, kStatusMemoryFull);
    EXPECT_EQ(std::string(status.component), "qvrm7_dri");
    EXPECT_EQ(std::string(status.file), "memory");
    EXPECT_EQ(status.line, c.line) << int(c.flag);
  }
}

TEST_F(MemoryTest, PlainAllocationFailureIsOnlyANull) {
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(operatorNew(8), nullptr);
}

TEST_F(MemoryTest, SizeOverflowFailsBeforeTheLayer) {
  sim::enableCallLog(true);
  for (uint64_t size : {UINT64_MAX - 15, UINT64_MAX}) {
    tLongStatus status;
    EXPECT_EQ(operatorNewFlagged(size, status, 1), nullptr);
    EXPECT_EQ(status.head.code, kStatusMemoryFull);
    EXPECT_EQ(std::string(status.file), "memoryAllocation");
    EXPECT_EQ(status.line, 46u);
  }
  EXPECT_EQ(operatorNew(UINT64_MAX), nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR100_malloc"), 0u);
}

TEST_F(MemoryTest, SizeOverflowKeepsAnEarlierError) {
  tStatus status;
  status.code = kStatusBadArgument;
  EXPECT_EQ(operatorNewFlagged(UINT64_MAX, status, 1), nullptr);
  EXPECT_EQ(status.code, kStatusBadArgument);
}

TEST_F(MemoryTest, EarlierErrorAllocatesNothing) {
  sim::enableCallLog(true);
  tStatus status;
  status.code = kStatusBadArgument;
  EXPECT_EQ(operatorNewFlagged(8, status, 1), nullptr);
  EXPECT_EQ(status.code, kStatusBadArgument);
  EXPECT_EQ(sim::callCount("nQVZOR100_malloc"), 0u);
}

// ---- Object creation ---------------------------------------------------------

struct Counted {
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  ~Counted() { ++*destroyed_; }
  int* destroyed_;
};

TEST_F(MemoryTest, CreateAndDestroyObject) {
  int destroyed = 0;
  tStatus status;
  Counted* object = createObject<Counted>(status, &destroyed);
  ASSERT_NE(object, nullptr);
  destroyObject(object);
  EXPECT_EQ(destroyed, 1);
  destroyObject<Counted>(nullptr);

  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(createObject<Counted>(status, &destroyed), nullptr);
  EXPECT_EQ(status.code, kStatusMemoryFull);
}

}  // namespace
