// The device core in one thread: the PnP state machine row by row, the IO
// gate's answers that need no second thread, and pending requests with
// their cancellation. Waits that need another thread are in
// tests/concurrency/deviceGate_test.cpp.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "support/testDevice.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;
using testing_support::DeviceJournal;
using testing_support::DeviceScript;
using testing_support::TestDevice;
using Calls = std::vector<std::string>;

constexpr tEventDescriptor kNoSession{nullptr};

void expectSite(tLongStatus const& status, i64 code, char const* file, u64 line) {
  EXPECT_EQ(status.head.code, code);
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

class DeviceCore : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }

  bool transition(u32 target, u32 mode = 0, u8 refuseWhenOpen = 0) {
    tStatus status;
    return device.transitionPnPState(kNoSession, target, mode, refuseWhenOpen, status);
  }

  DeviceJournal journal;
  DeviceScript script;
  tStatus constructed;
  TestDevice device{journal, script, constructed};
};

// ---- The PnP state machine ---------------------------------------------------------

struct Row {
  char const* name;
  std::vector<u32> path;  // transitions that reach the starting state
  u32 target;
  Calls calls;
  bool result;
  i32 state;
  i32 previous;
};

class PnPTable : public DeviceCore, public ::testing::WithParamInterface<Row> {};

TEST_P(PnPTable, CallsTheStepsInOrderAndEndsInTheState) {
  Row const& row = GetParam();
  for (u32 step : row.path) ASSERT_TRUE(transition(step));
  journal.take();

  tLongStatus status;
  EXPECT_EQ(device.transitionPnPState(kNoSession, row.target, 1, 0, status), row.result);
  EXPECT_EQ(journal.take(), row.calls);
  EXPECT_EQ(device.pnpState(), row.state);
  EXPECT_EQ(device.previousPnPState(), row.previous);
  if (row.result) {
    EXPECT_EQ(status.head.code, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PnPTable,
    ::testing::Values(
        Row{"NotStartedToReady", {}, 1, {"startDevice"}, true, 1, 0},
        Row{"NotStartedToNotPresentOnlyMarks", {}, 4, {"markNotPresent"}, true, 4, 0},
        Row{"NotStartedToSleep", {}, 3, {"startDevice", "suspendIO", "enterSleep"}, true, 3, 2},
        Row{"ReadyToNotPresent", {1}, 4, {"suspendIO", "stopDevice", "markNotPresent"}, true, 4, 0},
        Row{"ReadyToSleep", {1}, 3, {"suspendIO", "enterSleep"}, true, 3, 2},
        Row{"ReadyToNotStarted", {1}, 0, {"suspendIO", "stopDevice"}, true, 0, 2},
        Row{"IOSuspendedToReady", {1, 2}, 1, {"resumeIO"}, true, 1, 2},
        Row{"IOSuspendedToNotStarted", {1, 2}, 0, {"stopDevice"}, true, 0, 2},
        Row{"SleepToReady", {1, 3}, 1, {"leaveSleep", "resumeIO"}, true, 1, 2},
        Row{"SleepToNotPresent",
            {1, 3},
            4,
            {"leaveSleep", "stopDevice", "markNotPresent"},
            true,
            4,
            0},
        Row{"ToTheCurrentStateDoesNothing", {1}, 1, {}, true, 1, 0},
        Row{"NotPresentStaysNotPresent", {4}, 4, {}, true, 4, 0},
        Row{"NoExitFromNotPresent", {4}, 1, {}, false, 4, 0},
        Row{"NoTargetOutsideTheStates", {}, 7, {}, false, 0, 0}),
    [](::testing::TestParamInfo<Row> const& row) { return std::string(row.param.name); });

TEST_F(DeviceCore, RefusedTransitionsReportABadArgument) {
  ASSERT_TRUE(transition(4));
  tLongStatus status;
  EXPECT_FALSE(device.transitionPnPState(kNoSession, 0, 0, 0, status));
  expectSite(status, kStatusBadArgument, "tDeviceCore", 364);
}

TEST_F(DeviceCore, FailedStartStaysNotStarted) {
  DeviceScript failing;
  failing.failStart = true;
  tStatus built;
  TestDevice failingDevice(journal, failing, built);
  tLongStatus status;
  EXPECT_FALSE(failingDevice.transitionPnPState(kNoSession, 1, 0, 0, status));
  EXPECT_EQ(status.head.code, testing_support::kScriptedFailure);
  EXPECT_EQ(failingDevice.pnpState(), kPnPStateNotStarted);
  EXPECT_EQ(failingDevice.previousPnPState(), kPnPStateNotStarted);
}

TEST_F(DeviceCore, SuspendRefusedWhileSessionsAreOpenLeavesTheGate) {
  ASSERT_TRUE(transition(1));
  tStatus status;
  tSession* session = device.openSessionCounted(kNoSession, &device.deviceInterface(0), status);
  ASSERT_NE(session, nullptr);
  EXPECT_FALSE(transition(4, 1, 1));
  EXPECT_EQ(device.pnpState(), kPnPStateReady);
  EXPECT_EQ(device.ioGateState(), kIOGatePass);
  device.finishCloseSession(tEventDescriptor{session}, session);
  EXPECT_EQ(device.openSessionCount(), 0u);
  EXPECT_TRUE(transition(4, 1, 1));
}

TEST_F(DeviceCore, SuspendClosesBelowModeTwoAndHoldsFromIt) {
  ASSERT_TRUE(transition(1));
  ASSERT_TRUE(transition(2, 2));
  EXPECT_EQ(device.ioGateState(), kIOGateHold);
  ASSERT_TRUE(transition(1));
  EXPECT_EQ(device.ioGateState(), kIOGatePass);
  ASSERT_TRUE(transition(2, 1));
  EXPECT_EQ(device.ioGateState(), kIOGateRefuse);
}

TEST_F(DeviceCore, DumpNamesTheStateAndWhereItCameFrom) {
  ASSERT_TRUE(transition(1));
  ASSERT_TRUE(transition(4));
  char line[200];
  ASSERT_GT(device.dumpDevice(line, sizeof line, "> ", 0x10, 0x20, " <"), 0);
  std::string const text = line;
  EXPECT_EQ(text.rfind("> tDevice(", 0), 0u);
  EXPECT_NE(text.find("(kPnPStateNotPresent from kPnPStateNotStarted) <"), std::string::npos);
  EXPECT_STREQ(pnpStateName(5), "invalid");
  EXPECT_STREQ(pnpStateName(-1), "invalid");
}

// ---- Construction --------------------------------------------------------------------

TEST_F(DeviceCore, RefusedLocksAreReportedAndNoneIsLeftBehind) {
  u64 const before = sim::liveSpinLocks();
  for (u64 refused : {1u, 2u, 3u}) {
    sim::failNthCall("nQVZOR100_createSpinLock", refused);
    tLongStatus status;
    {
      TestDevice broken(journal, script, status);
      EXPECT_EQ(sim::liveSpinLocks(), before + refused - 1) << "no lock after the refusal";
    }
    expectSite(status, kStatusMemoryFull, "synchronization", refused == 1 ? 1083 : 1919);
    EXPECT_EQ(sim::liveSpinLocks(), before);
  }
}

// ---- The IO gate without waiting -------------------------------------------------------

TEST_F(DeviceCore, ClosedGateRefusesAtOnceAndCountsNothing) {
  tLongStatus status;
  EXPECT_FALSE(device.acquireIOGate(nullptr, status, kWaitForever));
  expectSite(status, kStatusDeviceNotStarted, "tDeviceCore", 446);
  EXPECT_EQ(device.activeIOCount(), 0u);
}

TEST_F(DeviceCore, PassingGateCountsTheRequestForDeviceAndSession) {
  ASSERT_TRUE(transition(1));
  tStatus status;
  tSession* session = device.openSessionCounted(kNoSession, &device.deviceInterface(0), status);
  ASSERT_TRUE(device.acquireIOGate(session, status, kWaitForever));
  ASSERT_TRUE(device.tryEnterIOGate(nullptr, status));
  EXPECT_EQ(device.activeIOCount(), 2u);
  EXPECT_EQ(session->inFlightCount(), 1u);
  device.releaseIOGate(session);
  device.releaseIOGate(nullptr);
  EXPECT_EQ(device.activeIOCount(), 0u);
  EXPECT_EQ(session->inFlightCount(), 0u);
  device.finishCloseSession(tEventDescriptor{session}, session);
}

TEST_F(DeviceCore, HeldGateNeverWaitsForATryOrAZeroTimeout) {
  device.setIOGateState(kIOGateHold, false);
  tLongStatus tried;
  EXPECT_FALSE(device.tryEnterIOGate(nullptr, tried));
  expectSite(tried, kStatusDeviceNotStarted, "tDeviceCore", 501);

  tLongStatus waited;
  EXPECT_FALSE(device.acquireIOGate(nullptr, waited, 0));
  EXPECT_EQ(waited.head.code, kStatusTimeout);
  EXPECT_EQ(device.activeIOCount(), 0u);
}

TEST_F(DeviceCore, DrainWithNothingActiveReturnsAndStaysSignalled) {
  for (int round = 0; round < 2; ++round) {
    tStatus status;
    device.drainIO(false, status, 0);
    EXPECT_EQ(status.code, 0) << "a drain with timeout 0 finds the event signalled";
  }
}

// ---- Pending requests ---------------------------------------------------------------------

class TestRequest : public tPendingRequest {
 public:
  TestRequest(DeviceJournal& journal, bool cancellable, bool endsItself)
      : journal_(journal), cancellable_(cancellable), endsItself_(endsItself) {}
  void start() override { journal_.note("start"); }
  bool cancel() override {
    journal_.note("cancel");
    return cancellable_;
  }
  void complete() override {
    journal_.note("complete");
    if (endsItself_) delete this;
  }

 private:
  DeviceJournal& journal_;
  bool cancellable_;
  bool endsItself_;
};

class PendingRequests : public DeviceCore {
 protected:
  void SetUp() override {
    DeviceCore::SetUp();
    ASSERT_TRUE(transition(1));
    session = device.openSessionCounted(kNoSession, &device.deviceInterface(0), status);
    ASSERT_NE(session, nullptr);
    journal.take();
  }
  void TearDown() override {
    if (session != nullptr) device.finishCloseSession(tEventDescriptor{session}, session);
    DeviceCore::TearDown();
  }

  tStatus status;
  tSession* session = nullptr;
};

TEST_F(PendingRequests, CancelledRequestIsCompletedAndLeavesTheGate) {
  TestRequest request(journal, true, false);
  device.queuePendingRequest(request, session, status);
  EXPECT_EQ(request.queued, 1u);
  EXPECT_EQ(device.activeIOCount(), 1u);
  EXPECT_EQ(session->inFlightCount(), 1u);

  device.closeSession(tEventDescriptor{session});
  EXPECT_EQ(journal.take(), (Calls{"start", "cancel", "complete"}));
  EXPECT_EQ(request.queued, 0u);
  EXPECT_EQ(device.activeIOCount(), 0u);
  EXPECT_EQ(session->inFlightCount(), 0u);
}

TEST_F(PendingRequests, RequestThatCannotBeCancelledIsTriedOnce) {
  TestRequest request(journal, false, false);
  device.queuePendingRequest(request, nullptr, status);
  device.cancelDeviceRequests();
  device.cancelDeviceRequests();
  EXPECT_EQ(journal.take(), (Calls{"start", "cancel"}));
  EXPECT_EQ(request.queued, 1u);
  EXPECT_EQ(request.cancelTried, 1u);
  EXPECT_EQ(device.activeIOCount(), 1u);
  device.releaseIOGate(nullptr);
}

TEST_F(PendingRequests, WalksGoOnPastRequestsThatEndThemselves) {
  for (int i = 0; i < 3; ++i) {
    auto* request = createObject<TestRequest>(status, journal, true, true);
    device.queuePendingRequest(*request, i == 1 ? nullptr : session, status);
  }
  device.cancelDeviceRequests();
  Calls const calls = journal.take();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "complete"), 3);
  EXPECT_EQ(device.activeIOCount(), 0u);
  EXPECT_EQ(session->inFlightCount(), 0u);
}

TEST_F(PendingRequests, ClosingSessionOrClosedGateQueuesNothing) {
  device.closeSession(tEventDescriptor{session});
  TestRequest request(journal, true, false);
  tLongStatus closing;
  device.queuePendingRequest(request, session, closing);
  expectSite(closing, kStatusSessionClosing, "tDeviceCore", 520);

  device.setIOGateState(kIOGateRefuse, true);
  tLongStatus refused;
  device.queuePendingRequest(request, nullptr, refused);
  expectSite(refused, kStatusDeviceNotStarted, "tDeviceCore", 501);
  EXPECT_EQ(request.queued, 0u);
  EXPECT_TRUE(journal.take().empty());
  EXPECT_EQ(device.activeIOCount(), 0u);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
