// Runtime start and stop over tables of the test's own.
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <string>

#include "host/layer/control.h"
#include "platform/memory.h"

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

// Only the first of nested starts constructs and only the last stop
// destroys; a stop without a start does not spoil the next start.
TEST_F(Runtime, ConstructsLastEntryFirstOnceAndDestroysInReverseAtTheLastStop) {
  runtimeDeinit();
  EXPECT_EQ(runtimeStartCount(), 0u);
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  runtimeInitFrom(std::begin(kTable), std::end(kTable));
  EXPECT_EQ(runtimeStartCount(), 2u);
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a");
  runtimeDeinit();
  EXPECT_EQ(gEvents, "+c+b+a-a-b-c");
  EXPECT_EQ(sim::liveAllocations(), 0u);
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

}  // namespace
