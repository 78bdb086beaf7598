// The removal of a module under a request, as in the system tests, here
// under ThreadSanitizer too; and a suspend that begins while a request is
// between the IO gate's two looks.
#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "platform/deviceCore.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/driverCodes.h"
#include "source/qvrm7_driver/startup/RM7DeviceSetupLevel.h"
#include "support/expectSite.h"
#include "support/switchDeviceScenario.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

TEST(SwitchDeviceRemoval, WaitsForTheRequestInsideWithoutDeadlockAndLeavesNothing) {
  testing_support::removeWhileARequestIsInside();
}

thread_local bool tRequesting = false;
thread_local bool tSuspending = false;

// Catches the one armed request at its point and starts the suspend there:
// between the looks it waits until the suspend has drained and is about to
// take the helper apart; once counted, until the drain waits for it.
class SuspendInTheWindow final : public tGateSeam {
 public:
  explicit SuspendInTheWindow(tGateSeamPoint point) : point_(point) {}

  void at(tDeviceCore&, tGateSeamPoint point) override {
    if (!tRequesting || point != point_) return;
    tRequesting = false;
    caught.set_value();
    if (point == tGateSeamPoint::seen) {
      drained.get_future().wait();
    } else {
      EXPECT_TRUE(sim::waitUntilBlocked(1)) << "the drain did not wait for the counted request";
    }
  }

  std::promise<void> caught, drained;

 private:
  tGateSeamPoint const point_;
};

// However the suspend meets the request, the request leaves refused (the gate
// closes) or held until the device is set up anew, and then refused for its
// session of the old setup; it never reaches a map of the old helper, and the
// suspend's drain ends.
TEST(SwitchDeviceSuspend, ARequestBetweenTheGatesLooksIsRefusedOrHeldAndNeverReachesTheOldHelper) {
  char const name[] = "RM7BaseRegMap_Ver22.8.0f141";
  sim::UserRange range(name, sizeof name);
  for (tGateSeamPoint point : {tGateSeamPoint::seen, tGateSeamPoint::counted}) {
    for (u32 mode : {kSuspendClose, kSuspendHold}) {
      SCOPED_TRACE(testing::Message() << "point " << static_cast<int>(point) << ", mode " << mode);
      sim::reset();
      sim::LoadedDriver driver{nQVWEND200_driverEntry};
      ASSERT_EQ(driver.load(), 0);
      sim::Rm7Module module;
      ASSERT_EQ(sim::plugIn(module.device()), 0);
      auto* const device =
          static_cast<RM7Device*>(static_cast<tDevice*>(module.device()->driverContext()));
      tStatus opened;
      tSession* const session = device->openSession({}, device->getDeviceInterfaces()[0], opened);
      ASSERT_EQ(opened.code, 0);

      SuspendInTheWindow seam(point);
      std::promise<void> go;
      // After its drain the suspend takes the device mutex to destroy the
      // helper: held there until the caught request has gone its way.
      sim::setImportHook([&, ready = go.get_future().share()](char const* import) {
        if (!tSuspending || device->ioGateState() == kIOGatePass ||
            std::strcmp(import, "nQVZOR150_acquireMutex") != 0)
          return;
        tSuspending = false;
        seam.drained.set_value();
        ready.wait();
      });
      setGateSeam(&seam);
      std::thread suspender([&, caught = seam.caught.get_future()] {
        caught.wait();
        tSuspending = point == tGateSeamPoint::seen;
        tStatus suspended;
        EXPECT_TRUE(device->transitionPnPState({}, kPnPStateIOSuspended, mode, 0, suspended));
      });
      tLongStatus status;
      std::atomic<bool> done{false};
      std::thread request([&] {
        tRequesting = true;
        u64 value = 0;
        device->arm_get({session}, {reinterpret_cast<uintptr_t>(name), sizeof name - 1}, 0x8000000C,
                        value, 0, status);
        done = true;
      });
      bool const close = mode == kSuspendClose;
      testing_support::joinWithin(std::chrono::seconds(30), "the suspend or the request hung", [&] {
        if (point == tGateSeamPoint::seen) {
          // The suspend waits in the hook with the helper still whole: the
          // request ends or is held before it goes on.
          while (!done && sim::blockedWaiters() == 0) std::this_thread::yield();
          EXPECT_EQ(done.load(), close) << "the request did not end as the gate's state says";
        }
        go.set_value();
        // Its drain ends once the request has left the gate or backed out.
        suspender.join();
        if (!close) {
          EXPECT_TRUE(sim::waitUntilBlocked(1)) << "the request is not held";
          EXPECT_FALSE(done) << "a held request ran";
          tStatus resumed;
          EXPECT_TRUE(device->transitionPnPState({}, kPnPStateReady, 0, 0, resumed));
        }
        request.join();
      });
      setGateSeam(nullptr);
      sim::setImportHook({});
      if (close) {
        testing_support::expectSite(status, kStatusDeviceNotStarted, "tDeviceCore", 446);
      } else {
        testing_support::expectSite(status, kStatusStaleSession, "sass/AutoIOGate", 104);
      }
      EXPECT_EQ(device->activeIOCount(), 0u);
      EXPECT_EQ(device->setupLevel() == kSetupLevelNone, close);
      device->destroySession({session}, session);
      sim::unplug(*module.device());
      driver.unload();
      EXPECT_EQ(sim::liveAllocations(), 0u);
    }
  }
}

}  // namespace
