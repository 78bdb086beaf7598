// Runtime start and stop over tables of the test's own, and the entry's
// failure paths in the hosted build.
#include <gtest/gtest.h>

#include <string>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "platform/driverEntry.h"
#include "platform/memory.h"
#include "platform/runtime.h"

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

class Runtime : public ::testing::Test {
 protected:
  void SetUp() override { gEvents.clear(); }
};

TEST_F(Runtime, ConstructsLastEntryFirstAndDestroysInReverse) {
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  EXPECT_EQ(gEvents, "+c+b+a");
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a-a-b-c");
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST_F(Runtime, NestedStartsConstructOnceAndOnlyTheLastStopDestroys) {
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  EXPECT_EQ(runtimeStartCount(), 2u);
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a");
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a-a-b-c");
}

TEST_F(Runtime, AnUnmatchedStopDoesNotPreventTheNextStart) {
  runtimeDeinit();
  EXPECT_EQ(runtimeStartCount(), 0u);
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  EXPECT_EQ(gEvents, "+c+b+a");
  runtimeDeinit();
}

TEST_F(Runtime, NodeIsFreedBeforeItsFunctionRunsAndLateRegistrationsRunToo) {
  static uint64_t liveWhenCalled;
  runtimeInitFrom(nullptr, nullptr);
  registerAtExit(
      [](void*) {
        liveWhenCalled = sim::liveAllocations();
        registerAtExit([](void*) { gEvents += "late"; }, nullptr, &gAtExitHead);
      },
      nullptr, &gAtExitHead);
  runtimeDeinit();
  EXPECT_EQ(liveWhenCalled, 0u);
  EXPECT_EQ(gEvents, "late");
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST_F(Runtime, RegistrationWithoutMemoryFailsAndLeavesTheListAlone) {
  tAtExitNode* head = nullptr;
  ASSERT_EQ(registerAtExit([](void*) {}, nullptr, &head), 0);
  tAtExitNode* const first = head;
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(registerAtExit([](void*) {}, nullptr, &head), -1);
  EXPECT_EQ(head, first);
  EXPECT_EQ(head->next, nullptr);
  operatorDelete(head);
}

TEST(DriverEntryHosted, RefusedRegistrationLeavesNoRecordAndNoRuntime) {
  sim::failEveryCall("nQVZOR200_registerDriver");
  sim::setFailureCode("nQVZOR200_registerDriver", -51300);
  sim::LoadedDriver driver(nQVWEND200_driverEntry);
  EXPECT_EQ(driver.load(), -51300);
  EXPECT_EQ(runtimeStartCount(), 0u);
  EXPECT_EQ(registeredDriverRecord(), nullptr);
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST(DriverEntryHosted, UnloadClearsTheRecordPointerAndStopsTheRuntime) {
  sim::LoadedDriver driver(nQVWEND200_driverEntry);
  ASSERT_EQ(driver.load(), 0);
  EXPECT_EQ(registeredDriverRecord(), &driver.record());
  EXPECT_EQ(runtimeStartCount(), 1u);
  driver.unload();
  EXPECT_EQ(registeredDriverRecord(), nullptr);
  EXPECT_EQ(runtimeStartCount(), 0u);
}

TEST(DriverEntryHosted, VersionRecordHoldsKeyValueTextsEndedByNull) {
  char const* const* record = getVersionRecord();
  int entries = 0;
  for (; record[entries] != nullptr; ++entries)
    EXPECT_NE(std::string(record[entries]).find('='), std::string::npos) << record[entries];
  EXPECT_EQ(entries + 1, 9);
}

}  // namespace
