// The switch device made by add device on the simulated bus, driven through
// its slots: the setup-level gate across re-setups and the switch-state
// buffer's mapping.
#include "source/qvrm7_driver/RM7Device.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "pciTestDevice.h"
#include "platform/driverEntry.h"
#include "platform/userBuffer.h"
#include "source/qvrm7_driver/driverCodes.h"
#include "source/qvrm7_driver/switchstate/KernelSession.h"

namespace qvrm7_driver {
namespace {

using namespace nQVWEND000;
using nQVWENDS100::tLongStatus;
using pcitest::expectSite;

constexpr tEventDescriptor kNoSession{nullptr};

class SwitchDeviceSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    ASSERT_EQ(sim::plugIn(module.device()), 0);
    device = static_cast<RM7Device*>(static_cast<tDevice*>(module.device()->driverContext()));
  }
  void TearDown() override {
    sim::unplug(*module.device());
    driver.unload();
    EXPECT_EQ(sim::liveAllocations(), 0u);
  }

  sass::KernelSession* open() {
    tStatus status;
    tSession* const session =
        device->openSessionCounted(kNoSession, device->getDeviceInterfaces()[0], status);
    EXPECT_EQ(status.code, 0);
    return static_cast<sass::KernelSession*>(session);
  }
  void close(tSession* session) {
    tEventDescriptor const context{session};
    device->closeSession(context);
    device->finishCloseSession(context, session);
  }
  // Suspends (holding requests) and resumes: the helper is made anew.
  void setUpAgain() {
    tStatus status;
    ASSERT_TRUE(
        device->transitionPnPState(kNoSession, kPnPStateIOSuspended, kSuspendHold, 0, status));
    ASSERT_TRUE(device->transitionPnPState(kNoSession, kPnPStateReady, 0, 0, status));
  }
  tLongStatus transfer(tSession* session) {
    tLongStatus status;
    tUserBuffer buffer(tEventDescriptor{session}, 0, 0);
    EXPECT_EQ(device->transferA(tEventDescriptor{session}, buffer, status), 0u);
    return status;
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  sim::Rm7Module module;
  RM7Device* device = nullptr;
};

TEST_F(SwitchDeviceSlots, GateAdmitsOnlyTheCurrentSetupAtItsLevel) {
  sass::KernelSession* const first = open();
  EXPECT_EQ(device->setupLevel(), kSetupLevelComplete);
  EXPECT_EQ(transfer(first).head.code, 0);

  setUpAgain();
  EXPECT_EQ(device->setupLevel(), kSetupLevelComplete);
  expectSite(transfer(first), kStatusStaleSession, "sass/AutoIOGate", 104);
  sass::KernelSession* const second = open();
  EXPECT_EQ(transfer(second).head.code, 0);

  // A setup that cannot map its registers stops at None; a session still
  // opens, and every request that needs the device is refused and reported.
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  setUpAgain();
  EXPECT_EQ(device->setupLevel(), kSetupLevelNone);
  EXPECT_EQ(device->setupStatus().code, kStatusMemoryFull);
  sass::KernelSession* const third = open();
  sim::clearDebugOutput();
  expectSite(transfer(third), kStatusDeviceNotStarted, "sass/AutoIOGate", 86);
  std::istringstream lines(sim::debugOutput());
  std::vector<std::string> report;
  for (std::string line; std::getline(lines, line);) report.push_back(line);
  ASSERT_EQ(report.size(), 3u);
  for (std::string const& line : report) EXPECT_NE(line.find("sass/AutoIOGate"), std::string::npos);
  EXPECT_NE(report[1].find("Complete needed, None reached"), std::string::npos);
  tUserMemoryMap map(third, sim::createUserMap(4096, 2, 0x7000000), 1);
  tLongStatus mapped;
  device->mapMemory(tEventDescriptor{third}, map, mapped);
  expectSite(mapped, kStatusDeviceNotStarted, "sass/AutoIOGate", 86);
  sim::destroyUserMap(map.kernelMap());

  setUpAgain();
  sass::KernelSession* const fourth = open();
  EXPECT_EQ(transfer(fourth).head.code, 0) << "set up again, the device serves";
  EXPECT_EQ(device->activeIOCount(), 0u) << "every refusal left the IO gate";
  for (tSession* session : std::initializer_list<tSession*>{first, second, third, fourth})
    close(session);
}

TEST_F(SwitchDeviceSlots, SwitchStateMapChecksInOrderAndMapsNoMoreThanTheCallerHolds) {
  u64 const page = nQVZOR100_getPageSize();
  constexpr u64 kPageList = 0x5A5A0000;
  struct Case {
    char const* name;
    bool allocated;
    u32 selector;
    u64 mapSize;
    i64 code;
    u64 line;
    u64 pages;
  } const cases[] = {
      {"unallocated before anything", false, 2, 9 * page, kStatusSwitchStateBufferMissing, 212, 0},
      {"selector before size", true, 2, 9 * page, kStatusSwitchStateMapSelector, 217, 0},
      {"larger than the buffer", true, 1, 4 * page + 1, kStatusSwitchStateMapTooLarge, 222, 0},
      {"the whole buffer", true, 1, 4 * page, 0, 0, 4},
      {"a smaller area", true, 1, page, 0, 0, 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    sass::KernelSession* const session = open();
    if (c.allocated)
      session->switchStateBuffer().adoptPages({4 * page, 0, kPageList}, 3 * page + 100);
    tUserMemoryMap map(session, sim::createUserMap(c.mapSize, 2, 0x7000000), c.selector);
    tLongStatus status;
    device->mapMemory(tEventDescriptor{session}, map, status);
    if (c.code != 0) {
      expectSite(status, c.code, "sass/SwitchStateBuffer", c.line);
      EXPECT_TRUE(sim::userMappings(map.kernelMap()).empty());
    } else {
      EXPECT_EQ(status.head.code, 0);
      std::vector<sim::UserMapping> const mappings = sim::userMappings(map.kernelMap());
      ASSERT_EQ(mappings.size(), 1u);
      EXPECT_EQ(mappings[0].pageList, kPageList);
      EXPECT_EQ(mappings[0].firstPage, 0u);
      EXPECT_EQ(mappings[0].pageCount, c.pages);
    }
    sim::destroyUserMap(map.kernelMap());
    close(session);
  }
}

}  // namespace
}  // namespace qvrm7_driver
