// The switch device made by add device on the simulated bus, driven through
// its slots: the setup-level gate across re-setups, the setups that a wrong
// signature stops, and the switch-state buffer's mapping.
#include "source/qvrm7_driver/RM7Device.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "platform/userBuffer.h"
#include "source/qvrm7_driver/driverCodes.h"
#include "source/qvrm7_driver/startup/RM7Helper.h"
#include "source/qvrm7_driver/switchstate/KernelSession.h"
#include "storage/simpleSignatureChecker.h"
#include "support/expectSite.h"

namespace qvrm7_driver {
namespace {

using namespace nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

class SwitchDeviceSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    ASSERT_EQ(sim::plugIn(module.device()), 0);
    device = static_cast<RM7Device*>(static_cast<tDevice*>(module.device()->driverContext()));
  }
  void TearDown() override {
    for (tSession* session : sessions) device->destroySession({session}, session);
    sim::unplug(*module.device());
    driver.unload();
    EXPECT_EQ(sim::liveAllocations(), 0u);
  }

  sass::KernelSession* open() {
    tStatus status;
    sessions.push_back(device->openSession({}, device->getDeviceInterfaces()[0], status));
    EXPECT_EQ(status.code, 0);
    return static_cast<sass::KernelSession*>(sessions.back());
  }
  // Suspended, holding requests, and resumed: the helper is made anew.
  void setUpAgain() {
    tStatus status;
    ASSERT_TRUE(device->transitionPnPState({}, kPnPStateIOSuspended, kSuspendHold, 0, status));
    ASSERT_TRUE(device->transitionPnPState({}, kPnPStateReady, 0, 0, status));
  }
  // A transfer or a register operation: each needs the device.
  tLongStatus request(tSession* session, bool registers = false) {
    tLongStatus status;
    tUserBuffer buffer({session}, 0, 0);
    u64 value = 0;
    if (registers)
      device->arm_get({session}, {0, 0}, 0x80000000, value, 0, status);
    else
      EXPECT_EQ(device->transferB({session}, buffer, status), 0u);
    return status;
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  sim::Rm7Module module;
  RM7Device* device = nullptr;
  std::vector<tSession*> sessions;
};

// Transfers and register operations alike.
TEST_F(SwitchDeviceSlots, GateAdmitsOnlyTheCurrentSetupAtItsLevel) {
  sass::KernelSession* const first = open();
  EXPECT_EQ(request(first).head.code, 0);
  setUpAgain();
  for (bool registers : {false, true})
    expectSite(request(first, registers), kStatusStaleSession, "sass/AutoIOGate", 104);
  EXPECT_EQ(request(open()).head.code, 0);

  // Without its registers the setup stops at None: a session still opens,
  // and what needs the device is refused and reported in three lines.
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  setUpAgain();
  sass::KernelSession* const third = open();
  for (bool registers : {false, true}) {
    sim::clearDebugOutput();
    expectSite(request(third, registers), kStatusDeviceNotStarted, "sass/AutoIOGate", 86);
    std::string const report = sim::debugOutput();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3);
    std::string const level = registers ? "TMR9ObjectsBuilt" : "Complete";
    EXPECT_NE(report.find("AutoIOGate|0121]   setup level " + level + " needed, None reached\n"),
              std::string::npos);
  }
  EXPECT_EQ(device->activeIOCount(), 0u) << "every refusal left the IO gate";
}

// The bridge chip is checked before the FPGA's maps are built, the FPGA
// after; either stops the setup where it is, and a module that answers again
// is set up completely by the next re-setup.
TEST_F(SwitchDeviceSlots, AWrongSignatureStopsTheSetupAtItsChip) {
  struct Case {
    bool bridge;
    u32 answer;
    u32 level;
    char const* file;
    u64 line;
  };
  constexpr char kChecker[] = "atut/simpleSignatureChecker/SimpleSignatureChecker";
  Case const cases[] = {
      {true, 0xC0107AD1, kSetupLevelTMR9ObjectsBuilt, "RM7Helper", 97},
      {true, 0xFFFFFFFF, kSetupLevelTMR9ObjectsBuilt, "RM7Helper", 97},  // nothing answers
      {true, 0xB6B66BB7, kSetupLevelTMR9ObjectsBuilt, "RM7Helper", 97},  // the FPGA's
      {false, 0xC0107AD0, kSetupLevelRM7RegMapsBuilt, kChecker, 63},     // the bridge's
  };
  auto answer = [&](bool bridge, u32 value) {
    if (bridge)
      module.vexus().registers().setReadValue(sim::VexusChip::kSignatureRegister, value);
    else
      module.fpga().base().setReadValue(0x00, value);
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.answer);
    answer(c.bridge, c.answer);
    // The device keeps only the code: the site is seen on a setup of its own.
    device->stopDevice({});
    {
      tLongStatus status;
      RM7Helper helper(*device, status.head);
      expectSite(status, atut::kStatusWrongSignature, c.file, c.line);
      EXPECT_EQ(device->setupLevel(), c.level);
    }
    setUpAgain();
    EXPECT_EQ(device->setupLevel(), c.level);
    sass::KernelSession* const session = open();
    expectSite(request(session), kStatusDeviceNotStarted, "sass/AutoIOGate", 86);
    EXPECT_NE(request(session, true).head.code, kStatusDeviceNotStarted) << "the bridge's maps";
    answer(c.bridge, c.bridge ? 0xC0107AD0 : 0xB6B66BB7);
    setUpAgain();
    EXPECT_EQ(device->setupLevel(), kSetupLevelComplete);
  }
}

TEST_F(SwitchDeviceSlots, SwitchStateMapChecksInOrderAndMapsNoMoreThanTheCallerHolds) {
  u64 const page = nQVZOR100_getPageSize();
  // Allocated, selector, map size, code, then the line of the code or the
  // pages mapped.
  std::tuple<bool, u32, u64, i64, u64> const cases[] = {
      {false, 2, 9 * page, kStatusSwitchStateBufferMissing, 212},
      {true, 2, 9 * page, kStatusSwitchStateMapSelector, 217},
      {true, 1, 4 * page + 1, kStatusSwitchStateMapTooLarge, 222},
      {true, 1, 4 * page, 0, 4},
      {true, 1, page, 0, 1},
  };
  for (auto const& [allocated, selector, mapSize, code, lineOrPages] : cases) {
    SCOPED_TRACE(mapSize);
    sass::KernelSession* const session = open();
    if (allocated) session->switchStateBuffer().adoptPages({4 * page, 0, 0x5A000}, 3 * page + 1);
    tUserMemoryMap map(session, sim::createUserMap(mapSize, 2, 0x7000000), selector);
    tLongStatus status;
    device->mapMemory({session}, map, status);
    std::vector<sim::UserMapping> const mappings = sim::userMappings(map.kernelMap());
    if (code != 0) {
      expectSite(status, code, "sass/SwitchStateBuffer", lineOrPages);
      EXPECT_TRUE(mappings.empty());
    } else {
      ASSERT_EQ(mappings.size(), 1u);
      EXPECT_EQ(std::tuple(mappings[0].pageList, mappings[0].firstPage, mappings[0].pageCount),
                std::tuple(0x5A000u, 0u, lineOrPages));
    }
    sim::destroyUserMap(map.kernelMap());
  }
}

// A wider element index is refused where it is cut, and the slot it was
// meant for then returns at once: get leaves its value as it was.
TEST_F(SwitchDeviceSlots, ARegisterOperationRefusesAWideElementIndexAtItsSite) {
  std::string const map = "RM7SlotRamRegisterMap_Ver22.8.0f141";
  sim::CallMemory const mapRange(map.data(), map.size());
  tArmMapName const name{reinterpret_cast<uintptr_t>(map.data()), map.size()};
  tEventDescriptor const context{open()};
  for (auto [index, code] :
       {std::pair(0xFFFFFFu, i64{0}), std::pair(0x1000000u, i64{kStatusNoMatch})}) {
    u64 value = 7;
    tLongStatus status;
    device->arm_get(context, name, 0x80000000, value, index, status);
    EXPECT_EQ(value, code == 0 ? 0u : 7u);
    if (code != 0) expectSite(status, code, "safeCast", 25);
    EXPECT_EQ(status.head.code, code);
  }
}

}  // namespace
}  // namespace qvrm7_driver
