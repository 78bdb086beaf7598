// The device core in one thread: the PnP state machine, the IO gate's
// answers that need no second thread, and cancelling pending requests.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "host/layer/control.h"
#include "support/expectSite.h"
#include "support/layerTest.h"
#include "support/testDevice.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;
using testing_support::DeviceJournal;
using testing_support::DeviceScript;
using testing_support::expectSite;
using testing_support::TestDevice;
using Calls = std::vector<std::string>;

constexpr tEventDescriptor kNoSession{nullptr};

class DeviceCore : public testing_support::LayerTest {
 protected:
  bool transition(u32 target, u32 mode = 0, u8 refuseWhenOpen = 0) {
    tStatus status;
    return device.transitionPnPState(kNoSession, target, mode, refuseWhenOpen, status);
  }
  tSession* openSession() {
    tStatus status;
    return device.openSessionCounted(kNoSession, &device.deviceInterface(0), status);
  }

  DeviceJournal journal;
  DeviceScript script;
  tStatus constructed;
  TestDevice device{journal, script, constructed};
};

// Each row starts from a new device: the path reaches the starting state.
TEST_F(DeviceCore, TransitionsCallTheStepsInOrderAndEndInTheState) {
  struct Row {
    std::vector<u32> path;
    u32 target;
    Calls calls;
    bool result;
    i32 state, previous;
    bool failStart = false;
  } const rows[] = {
      {{}, 1, {"startDevice"}, true, 1, 0},
      {{}, 4, {"markNotPresent"}, true, 4, 0},  // not started: only marked
      {{}, 3, {"startDevice", "suspendIO", "enterSleep"}, true, 3, 2},
      {{1}, 4, {"suspendIO", "stopDevice", "markNotPresent"}, true, 4, 0},
      {{1}, 3, {"suspendIO", "enterSleep"}, true, 3, 2},
      {{1}, 0, {"suspendIO", "stopDevice"}, true, 0, 2},
      {{1, 2}, 1, {"resumeIO"}, true, 1, 2},
      {{1, 2}, 0, {"stopDevice"}, true, 0, 2},
      {{1, 3}, 1, {"leaveSleep", "resumeIO"}, true, 1, 2},
      {{1, 3}, 4, {"leaveSleep", "stopDevice", "markNotPresent"}, true, 4, 0},
      {{1}, 1, {}, true, 1, 0},  // to the current state: nothing
      {{4}, 4, {}, true, 4, 0},
      {{4}, 0, {}, false, 4, 0},  // no way out of not present
      {{4}, 1, {}, false, 4, 0},
      {{}, 7, {}, false, 0, 0},                     // no state at all
      {{}, 1, {"startDevice"}, false, 0, 0, true},  // a failed start stays not started
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.path) + " to " + std::to_string(row.target));
    tStatus constructedHere;
    script.failStart = row.failStart;
    TestDevice fresh(journal, script, constructedHere);
    tStatus reached;
    for (u32 step : row.path)
      ASSERT_TRUE(fresh.transitionPnPState(kNoSession, step, 0, 0, reached));
    journal.take();
    tLongStatus status;
    EXPECT_EQ(fresh.transitionPnPState(kNoSession, row.target, 1, 0, status), row.result);
    EXPECT_EQ(journal.take(), row.calls);
    EXPECT_EQ(std::tuple(fresh.pnpState(), fresh.previousPnPState()),
              std::tuple(row.state, row.previous));
    if (row.result || row.failStart) {
      EXPECT_EQ(status.head.code, row.failStart ? testing_support::kScriptedFailure : 0);
    } else {
      expectSite(status, kStatusBadArgument, "tDeviceCore", 364);
    }
  }
}

TEST_F(DeviceCore, SuspendRefusedWhileSessionsAreOpenThenClosesOrHoldsByMode) {
  ASSERT_TRUE(transition(1));
  tSession* session = openSession();
  ASSERT_NE(session, nullptr);
  EXPECT_FALSE(transition(2, 1, 1));
  EXPECT_EQ(device.pnpState(), kPnPStateReady);
  EXPECT_EQ(device.ioGateState(), kIOGatePass);
  device.finishCloseSession(tEventDescriptor{session}, session);
  ASSERT_TRUE(transition(2, 2, 1));
  EXPECT_EQ(device.ioGateState(), kIOGateHold);
  ASSERT_TRUE(transition(1));
  ASSERT_TRUE(transition(2, 1));
  EXPECT_EQ(device.ioGateState(), kIOGateRefuse);
}

// Entering and leaving a passing gate is the request path's fixed cost: no
// lock and no other layer call, with or without a session, whether the
// request leaves first, last, or with others still inside. A drain that gave
// up (a test-only wait) while a request was inside must not keep the next
// drain from seeing the count reach 0 after a release nobody waited for, and
// leaves its event signalled for the drain after it. Nothing waits at a held
// gate for a try or a zero timeout.
TEST_F(DeviceCore, TheGateTakesNoLockAndADrainAfterAFailedOneStillEnds) {
  ASSERT_TRUE(transition(kPnPStateReady));
  tSession* const session = openSession();
  ASSERT_NE(session, nullptr);
  for (tSession* owner : {static_cast<tSession*>(nullptr), session}) {
    for (int inside : {0, 1, 3}) {
      SCOPED_TRACE(testing::Message() << (owner ? "session, " : "no session, ") << inside);
      tStatus status;
      for (int i = 0; i < inside; ++i) ASSERT_TRUE(device.acquireIOGate(owner, status, 0));
      sim::enableCallLog(true);
      ASSERT_TRUE(device.acquireIOGate(owner, status, kWaitForever));
      device.releaseIOGate(owner);
      for (int i = 0; i < inside; ++i) device.releaseIOGate(owner);
      EXPECT_EQ(sim::callLog(), std::vector<std::string>{});
      sim::enableCallLog(false);
      EXPECT_EQ(device.activeIOCount(), 0u);
      EXPECT_EQ(session->inFlightCount(), 0u);
    }
  }

  tStatus status;
  ASSERT_TRUE(device.acquireIOGate(session, status, kWaitForever));
  tStatus tested;
  device.drainIO(false, tested, 0);
  EXPECT_EQ(tested.code, kStatusTimeout);
  device.releaseIOGate(session);
  for (u32 wait : {kWaitForever, 0u}) {
    tStatus drained;
    device.drainIO(false, drained, wait);
    EXPECT_EQ(drained.code, 0);
  }
  device.finishCloseSession(tEventDescriptor{session}, session);

  device.setIOGateState(kIOGateHold, false);
  tLongStatus tried;
  EXPECT_FALSE(device.tryEnterIOGate(nullptr, tried));
  expectSite(tried, kStatusDeviceNotStarted, "tDeviceCore", 501);
  tLongStatus waited;
  EXPECT_FALSE(device.acquireIOGate(nullptr, waited, 0));
  EXPECT_EQ(waited.head.code, kStatusTimeout);
  EXPECT_EQ(device.activeIOCount(), 0u);
}

// ---- Pending requests ---------------------------------------------------------------

struct TestRequest : tPendingRequest {
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
  DeviceJournal& journal_;
  bool cancellable_, endsItself_;
};

using PendingRequests = DeviceCore;

// Each walk has a request that ends itself in complete() before another
// request: the walk must go on without touching it again.
TEST_F(PendingRequests, CancelWalksCompleteWhatCancelsTryTheRestOnceAndGoOnPastEndedOnes) {
  ASSERT_TRUE(transition(1));
  tSession* const session = openSession();
  ASSERT_NE(session, nullptr);
  journal.take();
  tStatus status;
  auto* endsItself = createObject<TestRequest>(status, journal, true, true);
  TestRequest cancellable(journal, true, false);
  auto* alsoEndsItself = createObject<TestRequest>(status, journal, true, true);
  TestRequest stuck(journal, false, false);
  device.queuePendingRequest(*endsItself, session, status);
  device.queuePendingRequest(cancellable, session, status);
  device.queuePendingRequest(*alsoEndsItself, nullptr, status);
  device.queuePendingRequest(stuck, nullptr, status);
  EXPECT_EQ(cancellable.queued, 1u);
  EXPECT_EQ(device.activeIOCount(), 4u);
  EXPECT_EQ(session->inFlightCount(), 2u);

  device.closeSession(tEventDescriptor{session});
  EXPECT_EQ(session->inFlightCount(), 0u);
  EXPECT_EQ(device.activeIOCount(), 2u);
  device.cancelDeviceRequests();
  device.cancelDeviceRequests();
  EXPECT_EQ(journal.take(), (Calls{"start", "start", "start", "start", "cancel", "complete",
                                   "cancel", "complete", "cancel", "complete", "cancel"}));
  EXPECT_EQ(cancellable.queued, 0u);
  EXPECT_EQ(stuck.queued, 1u);
  EXPECT_EQ(stuck.cancelTried, 1u);
  EXPECT_EQ(device.activeIOCount(), 1u);
  device.releaseIOGate(nullptr);

  // A closing session or a closed gate queues nothing.
  TestRequest late(journal, true, false);
  tLongStatus closing;
  device.queuePendingRequest(late, session, closing);
  expectSite(closing, kStatusSessionClosing, "tDeviceCore", 520);
  device.setIOGateState(kIOGateRefuse, true);
  tLongStatus refused;
  device.queuePendingRequest(late, nullptr, refused);
  expectSite(refused, kStatusDeviceNotStarted, "tDeviceCore", 501);
  EXPECT_EQ(late.queued, 0u);
  EXPECT_TRUE(journal.take().empty());
  EXPECT_EQ(device.activeIOCount(), 0u);
  device.finishCloseSession(tEventDescriptor{session}, session);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
