// The switch device made by add device on the simulated bus, driven through
// its slots: the setup-level gate across re-setups and the switch-state
// buffer's mapping.
#include "source/qvrm7_driver/RM7Device.h"

#include <gtest/gtest.h>

#include <string>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "pciTestDevice.h"
#include "platform/userBuffer.h"
#include "source/qvrm7_driver/driverCodes.h"
#include "source/qvrm7_driver/switchstate/KernelSession.h"

namespace qvrm7_driver {
namespace {

using namespace nQVWEND000;
using nQVWENDS100::tLongStatus;
using pcitest::expectSite;

class SwitchDeviceSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    ASSERT_EQ(sim::plugIn(module.device()), 0);
    device = static_cast<RM7Device*>(static_cast<tDevice*>(module.device()->driverContext()));
  }
  void TearDown() override {
    for (tSession* session : sessions) {
      device->closeSession(tEventDescriptor{session});
      device->finishCloseSession(tEventDescriptor{session}, session);
    }
    sim::unplug(*module.device());
    driver.unload();
    EXPECT_EQ(sim::liveAllocations(), 0u);
  }

  sass::KernelSession* open() {
    tStatus status;
    sessions.push_back(device->openSessionCounted({}, device->getDeviceInterfaces()[0], status));
    EXPECT_EQ(status.code, 0);
    return static_cast<sass::KernelSession*>(sessions.back());
  }
  // Suspended, holding requests, and resumed: the helper is made anew.
  void setUpAgain() {
    tStatus status;
    ASSERT_TRUE(device->transitionPnPState({}, kPnPStateIOSuspended, kSuspendHold, 0, status));
    ASSERT_TRUE(device->transitionPnPState({}, kPnPStateReady, 0, 0, status));
  }
  tLongStatus transfer(tSession* session) {
    tLongStatus status;
    tUserBuffer buffer({session}, 0, 0);
    EXPECT_EQ(device->transferB({session}, buffer, status), 0u);
    return status;
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  sim::Rm7Module module;
  RM7Device* device = nullptr;
  std::vector<tSession*> sessions;
};

TEST_F(SwitchDeviceSlots, GateAdmitsOnlyTheCurrentSetupAtItsLevel) {
  sass::KernelSession* const first = open();
  EXPECT_EQ(transfer(first).head.code, 0);
  setUpAgain();
  expectSite(transfer(first), kStatusStaleSession, "sass/AutoIOGate", 104);
  EXPECT_EQ(transfer(open()).head.code, 0);

  // Without its registers the setup stops at None: a session still opens,
  // and what needs the device is refused and reported in three lines.
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  setUpAgain();
  EXPECT_EQ(device->setupStatus().code, kStatusMemoryFull);
  sass::KernelSession* const third = open();
  sim::clearDebugOutput();
  expectSite(transfer(third), kStatusDeviceNotStarted, "sass/AutoIOGate", 86);
  std::string const report = sim::debugOutput();
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3);
  EXPECT_NE(report.find("AutoIOGate|0121]   setup level Complete needed, None reached\n"),
            std::string::npos);
  tUserMemoryMap map(third, sim::createUserMap(4096, 2, 0x7000000), 1);
  tLongStatus mapped;
  device->mapMemory({third}, map, mapped);
  expectSite(mapped, kStatusDeviceNotStarted, "sass/AutoIOGate", 86);
  sim::destroyUserMap(map.kernelMap());

  setUpAgain();
  EXPECT_EQ(transfer(open()).head.code, 0);
  EXPECT_EQ(device->activeIOCount(), 0u) << "every refusal left the IO gate";
}

TEST_F(SwitchDeviceSlots, SwitchStateMapChecksInOrderAndMapsNoMoreThanTheCallerHolds) {
  u64 const page = nQVZOR100_getPageSize();
  struct {
    bool allocated;
    u32 selector;
    u64 mapSize;
    i64 code;
    u64 lineOrPages;
  } const cases[] = {
      {false, 2, 9 * page, kStatusSwitchStateBufferMissing, 212},
      {true, 2, 9 * page, kStatusSwitchStateMapSelector, 217},
      {true, 1, 4 * page + 1, kStatusSwitchStateMapTooLarge, 222},
      {true, 1, 4 * page, 0, 4},
      {true, 1, page, 0, 1},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.mapSize);
    sass::KernelSession* const session = open();
    if (c.allocated) session->switchStateBuffer().adoptPages({4 * page, 0, 0x5A000}, 3 * page + 1);
    tUserMemoryMap map(session, sim::createUserMap(c.mapSize, 2, 0x7000000), c.selector);
    tLongStatus status;
    device->mapMemory({session}, map, status);
    std::vector<sim::UserMapping> const mappings = sim::userMappings(map.kernelMap());
    if (c.code != 0) {
      expectSite(status, c.code, "sass/SwitchStateBuffer", c.lineOrPages);
      EXPECT_TRUE(mappings.empty());
    } else {
      ASSERT_EQ(mappings.size(), 1u);
      EXPECT_EQ(std::tuple(mappings[0].pageList, mappings[0].firstPage, mappings[0].pageCount),
                std::tuple(0x5A000u, 0u, c.lineOrPages));
    }
    sim::destroyUserMap(map.kernelMap());
  }
}

}  // namespace
}  // namespace qvrm7_driver
