// Runtime start and stop over tables of the test's own, the at-exit list and
// the allocation header.
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/control.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"
#include "platform/trace.h"
#include "registers/version.h"
#include "support/expectSite.h"
#include "support/layerTest.h"

using namespace qvrm7_driver::nQVWEND000;

namespace {

std::string gEvents;

template <char Name>
void construct() {
  gEvents += '+';
  gEvents += Name;
  registerAtExit(
      [](void*) {
        gEvents += '-';
        gEvents += Name;
      },
      nullptr, &gAtExitHead);
}

constexpr tStaticConstructor kTable[] = {construct<'a'>, construct<'b'>, construct<'c'>};

using Runtime = testing_support::LayerTest;

// Only the first of nested starts constructs and only the last stop
// destroys; a stop without a start does not spoil the next start.
TEST_F(Runtime, ConstructsLastEntryFirstOnceAndDestroysInReverseAtTheLastStop) {
  gEvents.clear();
  runtimeDeinit();
  EXPECT_EQ(runtimeStartCount(), 0u);
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  EXPECT_EQ(runtimeStartCount(), 2u);
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a");
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a-a-b-c");
}

// The driver's own table builds the console destination first, then the
// trace on it, then every other static object; at stop the trace goes before
// its destination. The at-exit list, newest first, shows the order in which
// the entries ran; each node's function is then wrapped to note the order
// in which the list destroys them.
std::vector<std::pair<void (*)(void*), void*>> gOriginals;
std::vector<void const*> gDestroyed;

void noteThenDestroy(void* object) {
  gDestroyed.push_back(object);
  for (auto const& [function, argument] : gOriginals)
    if (argument == object) function(object);
}

TEST_F(Runtime, DriverTableBuildsTheDestinationThenTheTraceAndDestroysThemInReverse) {
  ASSERT_EQ(runtimeStartCount(), 0u);
  runtimeInit();
  tTrace* trace = getTraceInstance();
  ASSERT_NE(trace, nullptr);
  std::vector<void const*> const newestFirst = {&qvregitools::noneVersion(), trace,
                                                trace->destination()};
  std::vector<void const*> listed;
  gOriginals.clear();
  gDestroyed.clear();
  for (tAtExitNode* node = gAtExitHead; node != nullptr; node = node->next) {
    listed.push_back(node->argument);
    gOriginals.emplace_back(node->function, node->argument);
    node->function = noteThenDestroy;
  }
  EXPECT_EQ(listed, newestFirst);
  EXPECT_EQ(trace->destination()->getName(), std::string("qvsdbg_printf"));
  runtimeDeinit();
  EXPECT_EQ(gDestroyed, newestFirst);
  EXPECT_EQ(getTraceInstance(), nullptr);
}

// A registration without memory fails and leaves the list as it was.
TEST_F(Runtime, NodeIsFreedBeforeItsFunctionRunsAndLateOrRefusedRegistrationsKeepTheList) {
  static uint64_t liveWhenCalled;
  gEvents.clear();
  runtimeInitFrom(nullptr, nullptr);
  registerAtExit(
      [](void*) {
        liveWhenCalled = sim::liveAllocations();
        registerAtExit([](void*) { gEvents += "late"; }, nullptr, &gAtExitHead);
      },
      nullptr, &gAtExitHead);
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(registerAtExit([](void*) { gEvents += "lost"; }, nullptr, &gAtExitHead), -1);
  runtimeDeinit();
  EXPECT_EQ(liveWhenCalled, baseline_);
  EXPECT_EQ(gEvents, "late");
}

tAllocationHeader const& headerOf(void* object) {
  return static_cast<tAllocationHeader const*>(object)[-1];
}

using MemoryTest = testing_support::LayerTest;

// A warning does not stop the allocation; the plain form flags its blocks.
TEST_F(MemoryTest, HeaderCarriesTotalSizeAndCallersFlag) {
  for (auto [size, flag] : {std::pair<uint64_t, uint8_t>{24, 7}, {0, 255}}) {
    tStatus status{16, 240000};
    void* object = operatorNewFlagged(size, status, flag);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % 16, 0u);
    EXPECT_EQ(headerOf(object).totalSize, size + 16);
    EXPECT_EQ(headerOf(object).flag, flag);
    operatorDelete(object);
  }
  void* plain = operatorNew(0);
  EXPECT_EQ(headerOf(plain).flag, 1u);
  operatorDelete(plain);
  operatorDelete(nullptr);  // the layer would refuse a block it never gave
}

// Without memory nothing is returned; a size that leaves no room for the
// header, or an error already held, fails before the layer is asked.
TEST_F(MemoryTest, SizeOverflowFailsBeforeTheLayerAndAnEarlierErrorIsKept) {
  tStatus status;
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(operatorNewFlagged(8, status, 0), nullptr);
  EXPECT_EQ(status.code, kStatusMemoryFull);
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(operatorNew(8), nullptr);
  sim::enableCallLog(true);
  for (uint64_t size : {UINT64_MAX - 15, UINT64_MAX}) {
    nQVWENDS100::tLongStatus overflow;
    EXPECT_EQ(operatorNewFlagged(size, overflow, 1), nullptr);
    testing_support::expectSite(overflow, kStatusMemoryFull, "memoryAllocation", 46);
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
