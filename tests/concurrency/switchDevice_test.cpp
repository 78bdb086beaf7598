// The switch device's setup going away under requests on real threads: a
// removal (as in the system tests, here also under ThreadSanitizer) and a
// re-setup that holds new requests at the IO gate meanwhile.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/driverEntry.h"
#include "platform/userBuffer.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/driverCodes.h"
#include "support/heldRequest.h"

namespace qvrm7_driver {
namespace {

using namespace nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::HeldRequest;

constexpr tEventDescriptor kNoSession{nullptr};

TEST(SwitchDeviceRemoval, WaitsForTheRequestInsideWithoutDeadlockAndLeavesNothing) {
  testing_support::removeWhileARequestIsInFlight();
}

TEST(SwitchDeviceResetup, RequestsHeldAtTheGateMeanwhileFindTheirSessionsStale) {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  auto& device = *static_cast<RM7Device*>(static_cast<tDevice*>(module.device()->driverContext()));

  constexpr int kSessions = 4;
  tSession* sessions[kSessions];
  tLongStatus statuses[kSessions];
  auto transfer = [&](int index) {
    tEventDescriptor const context{sessions[index]};
    tUserBuffer buffer(context, 0, 0);
    (void)device.transferA(context, buffer, statuses[index]);
  };
  for (tSession*& session : sessions) {
    tStatus opened;
    session = device.openSessionCounted(kNoSession, device.getDeviceInterfaces()[0], opened);
    ASSERT_EQ(opened.code, 0);
  }

  std::vector<std::thread> waiters;
  {
    HeldRequest inside([&] { transfer(0); });
    std::thread suspender([&] {
      tStatus status;
      EXPECT_TRUE(
          device.transitionPnPState(kNoSession, kPnPStateIOSuspended, kSuspendHold, 0, status));
    });
    ASSERT_TRUE(sim::waitUntilBlocked(1)) << "the suspension drains the request inside";
    for (int index = 1; index < kSessions; ++index) waiters.emplace_back(transfer, index);
    ASSERT_TRUE(sim::waitUntilBlocked(kSessions)) << "new requests wait at the gate";
    inside.proceed();
    testing_support::joinOrDeadlock(inside.thread(), suspender);
  }
  EXPECT_EQ(statuses[0].head.code, 0) << "the request inside kept its setup";
  EXPECT_EQ(device.setupLevel(), kSetupLevelNone);
  EXPECT_EQ(sim::blockedWaiters(), uint64_t{kSessions - 1});

  tStatus resumed;
  ASSERT_TRUE(device.transitionPnPState(kNoSession, kPnPStateReady, 0, 0, resumed));
  for (std::thread& waiter : waiters) waiter.join();
  for (int index = 1; index < kSessions; ++index) {
    EXPECT_EQ(statuses[index].head.code, kStatusStaleSession);
    EXPECT_EQ(statuses[index].line, 104u);
  }

  for (tSession* session : sessions) {
    device.closeSession(tEventDescriptor{session});
    device.finishCloseSession(tEventDescriptor{session}, session);
  }
  sim::unplug(*module.device());
  driver.unload();
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

}  // namespace
}  // namespace qvrm7_driver
