// The IO gate, the drain and session close with real threads, ordered
// through the layer's count of blocked waiters, never by sleeping.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "platform/driverEntry.h"
#include "support/testDevice.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;
using testing_support::DeviceJournal;
using testing_support::DeviceScript;
using testing_support::TestDevice;
using Calls = std::vector<std::string>;

constexpr tEventDescriptor kNoSession{nullptr};

// A request that waits at the gate on a thread of its own.
struct Request {
  std::thread thread;
  std::atomic<bool> admitted{false};
  std::atomic<uint64_t> handle{0};
  tLongStatus status;

  void enter(tDeviceCore& device) {
    thread = std::thread([this, &device] {
      handle = nQVZOR100_getThreadHandle();
      admitted = device.acquireIOGate(nullptr, status, kWaitForever);
    });
  }
};

class DeviceGate : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    tStatus status;
    ASSERT_TRUE(device.transitionPnPState(kNoSession, kPnPStateReady, 0, 0, status));
    journal.take();
  }
  void TearDown() override { sim::reset(); }

  DeviceJournal journal;
  DeviceScript script;
  tStatus constructed;
  TestDevice device{journal, script, constructed};
};

// An interrupted wait is reported and not counted.
TEST_F(DeviceGate, HeldRequestsAllEnterWhenTheGateReopensAndAllFailWhenItClosesOrOnInterrupt) {
  enum { kReopen, kClose, kInterrupt };
  u64 const lines[] = {0, 446, 2107};  // of the status each way ends with
  for (int end : {kReopen, kClose, kInterrupt}) {
    SCOPED_TRACE(end);
    bool const reopen = end == kReopen;
    Request requests[4];
    device.setIOGateState(kIOGateHold, false);
    for (Request& request : requests) request.enter(device);
    ASSERT_TRUE(sim::waitUntilBlocked(4));
    EXPECT_EQ(device.activeIOCount(), 0u);
    if (end == kReopen) device.resumeIO(kNoSession);
    if (end == kClose) device.markNotPresent(kNoSession);
    for (Request& request : requests) {
      ASSERT_TRUE(end != kInterrupt || sim::interruptThread(request.handle));
      request.thread.join();
      EXPECT_EQ(request.admitted.load(), reopen);
      i64 const code = end == kClose ? kStatusDeviceNotStarted : kStatusInterrupted;
      EXPECT_EQ(request.status.head.code, reopen ? 0 : code);
      EXPECT_EQ(request.status.line, lines[end]);
    }
    EXPECT_EQ(device.activeIOCount(), reopen ? 4u : 0u);
    for (int i = 0; reopen && i < 4; ++i) device.releaseIOGate(nullptr);
  }
}

// Close waits while any request of its session is in flight. With close
// waiting, the last release drops the count and signals under the session
// event's lock; close, once it saw the count at 0, takes that lock before it
// destroys the session. A release held at its unlock, its count already 0,
// keeps close from destroying the session.
TEST_F(DeviceGate, ALastReleaseIsDoneWithTheSessionBeforeCloseDestroysIt) {
  tStatus status;
  tSession* session = device.openSessionCounted(kNoSession, &device.deviceInterface(0), status);
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(device.acquireIOGate(session, status, kWaitForever));
  ASSERT_TRUE(device.acquireIOGate(session, status, kWaitForever));
  journal.take();
  std::thread close([session] { driverClose(session); });
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  device.releaseIOGate(session);
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  EXPECT_EQ(journal.take(), Calls{}) << "close went on with a request in flight";

  static thread_local bool releasing = false;
  // Close, woken by the release, may reach the lock before the release
  // reaches its unlock: it counts once the release has asked for the lock.
  std::atomic<bool> locking{false}, held{false}, go{false}, closeAtLock{false};
  sim::setImportHook([&](char const* import) {
    bool const acquire = std::strcmp(import, "nQVZOR110_acquireSpinLockInterrupt") == 0;
    if (releasing && acquire) {
      locking = true;
    } else if (releasing && !held &&
               std::strcmp(import, "nQVZOR110_releaseSpinLockInterrupt") == 0) {
      held = true;
      while (!go) std::this_thread::yield();
    } else if (!releasing && locking && acquire) {
      closeAtLock = true;
    }
  });
  std::thread release([&] {
    releasing = true;
    device.releaseIOGate(session);
  });
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(held && closeAtLock) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_TRUE(held && closeAtLock) << "the release took no lock, or close was not woken";
  EXPECT_EQ(journal.take(), Calls{}) << "close went on while the release held the lock";
  go = true;
  release.join();
  close.join();
  sim::setImportHook(nullptr);
  EXPECT_EQ(journal.take(), Calls{"destroySession"});
  EXPECT_EQ(device.openSessionCount(), 0u);
  EXPECT_EQ(device.activeIOCount(), 0u);
}

// Last releases race a close that destroys the session and a drain that
// would let the device go: whichever comes first, nothing is used after
// it is freed (the sanitizers watch) and nothing waits for ever.
TEST_F(DeviceGate, LastReleasesRacingCloseAndDrainNeverOutliveWhatTheyRelease) {
  for (int requests : {1, 2, 3}) {
    SCOPED_TRACE(requests);
    for (int round = 0; round < 200; ++round) {
      tStatus status;
      tSession* session = device.openSessionCounted(kNoSession, &device.deviceInterface(0), status);
      ASSERT_NE(session, nullptr);
      for (int i = 0; i < requests; ++i)
        ASSERT_TRUE(device.acquireIOGate(session, status, kWaitForever));
      std::vector<std::thread> threads;
      for (int i = 0; i < requests; ++i)
        threads.emplace_back([this, session] { device.releaseIOGate(session); });
      threads.emplace_back([session] { driverClose(session); });
      threads.emplace_back([this] {
        tStatus drained;
        device.drainIO(false, drained, kWaitForever);
        EXPECT_EQ(drained.code, 0);
      });
      for (std::thread& thread : threads) thread.join();
      EXPECT_EQ(device.activeIOCount(), 0u);
    }
    EXPECT_EQ(device.openSessionCount(), 0u);
  }
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
