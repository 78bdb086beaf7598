// The real driver object serving simulated modules of every supported model:
// added, opened, asked, removed, and nothing left behind, also when an
// import fails on the way in or a removal meets a request.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "host/layer/userFile.h"
#include "support/heldRequest.h"

namespace {

constexpr char kInterface[] = "qvrm7_driver_qvrm7";
constexpr int32_t kLayerNoMatch = -51150;
constexpr int32_t kLayerNotSupported = -51256;
constexpr int32_t kLayerMemoryFull = -51352;
// Driver codes have no layer code of their own.
constexpr int32_t kLayerDriverCode = -51001;

using Values = std::map<std::string, std::string>;

std::string text(char const* value) { return std::string(value, std::strlen(value) + 1); }
std::string word(uint32_t value) { return std::string(reinterpret_cast<char*>(&value), 4); }

// The device attributes of a function as the layer received them.
Values attributesOf(sim::PciDevice const& function) {
  Values values;
  for (sim::PropertyRegistration const& p : sim::propertyRegistrations()) {
    if (p.live && p.scope == 0 && p.parent == function.kernelParent())
      values[p.name] = std::string(p.value.begin(), p.value.end());
  }
  return values;
}

class SwitchDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    allocations = sim::liveAllocations();
    mutexes = sim::liveMutexes();
    spinLocks = sim::liveSpinLocks();
  }
  void TearDown() override { driver.unload(); }

  void expectNothingLeft() {
    EXPECT_TRUE(sim::liveInterfaces().empty());
    EXPECT_TRUE(sim::liveProperties().empty());
    EXPECT_EQ(sim::liveMappings(), 0u);
    EXPECT_EQ(sim::liveUserMaps(), 0u);
    EXPECT_EQ(sim::liveAllocations(), allocations);
    EXPECT_EQ(sim::liveMutexes(), mutexes);
    EXPECT_EQ(sim::liveSpinLocks(), spinLocks);
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  uint64_t allocations = 0, mutexes = 0, spinLocks = 0;
};

TEST_F(SwitchDevice, EveryModelIsAddedServedAndRemovedAndNoOtherIsTaken) {
  std::vector<uint16_t> models(sim::kRm7SubsystemIDs.begin(), sim::kRm7SubsystemIDs.end());
  models.push_back(0x6BBB);
  for (uint32_t slot = 1; uint16_t model : models) {
    SCOPED_TRACE(testing::Message() << std::hex << model);
    bool const listed = model != 0x6BBB;
    sim::Rm7Module module({.subsystemID = model, .geographicAddress = slot++});
    std::shared_ptr<sim::PciDevice> const& function = module.device();
    sim::clearRegistrations();

    ASSERT_EQ(sim::plugIn(function), listed ? 0 : kLayerNoMatch);
    EXPECT_EQ(function->bound(), listed);
    std::vector<sim::InterfaceRegistration> const interfaces = sim::interfaceRegistrations();
    if (!listed) {
      EXPECT_TRUE(interfaces.empty());
      EXPECT_TRUE(sim::propertyRegistrations().empty());
      sim::unplug(*function);
      continue;
    }
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(interfaces[0].name, kInterface);
    EXPECT_EQ(interfaces[0].parent, function->kernelParent());
    EXPECT_EQ(sim::userspaceAddEvents(), std::vector<uint64_t>{interfaces[0].handle});
    char modelName[16];
    std::snprintf(modelName, sizeof modelName, "RM7-%04X", model);
    EXPECT_EQ(attributesOf(*function), (Values{{"pxiGeographicAddress", word(slot - 1)},
                                               {"serialNumber", text("")},
                                               {"manufacturerName", text("")},
                                               {"modelName", text(modelName)}}));

    sim::UserFile file;
    ASSERT_EQ(file.open(kInterface), 0);
    char buffer[8] = {};
    uint64_t moved = 99;
    EXPECT_EQ(file.transferA(buffer, sizeof buffer, &moved), 0);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(file.transferB(buffer, sizeof buffer, &moved), 0);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(file.ioctl(0x1234, nullptr, 0, nullptr, 0), kLayerNotSupported);
    // No session's switch-state buffer is allocated yet.
    uint64_t const map = sim::createUserMap(4096, 2, 0x7000000);
    uint64_t mapObject = 0;
    EXPECT_EQ(file.mmap(map, 1, &mapObject), kLayerDriverCode);
    EXPECT_TRUE(sim::userMappings(map).empty());
    sim::destroyUserMap(map);
    file.close();

    sim::UnplugReport const report = sim::unplug(*function);
    EXPECT_TRUE(report.wasBound);
    EXPECT_EQ(report.mappingsLeft, 0u);
    EXPECT_EQ(report.interruptsLeft, 0u) << "the switch device never takes its interrupt";
    expectNothingLeft();
  }
}

TEST_F(SwitchDevice, AFailingImportOnTheWayInLeavesNothingBehind) {
  sim::Rm7Module module({.geographicAddress = 7});
  sim::enableCallLog(true);
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  std::map<std::string, uint64_t> calls;
  for (std::string const& import : sim::callLog()) ++calls[import];
  sim::enableCallLog(false);
  sim::unplug(*module.device());

  std::map<int32_t, int> results;
  for (auto const& [import, count] : calls) {
    for (uint64_t n = 1; n <= count; ++n) {
      SCOPED_TRACE(import + " call " + std::to_string(n));
      sim::clearRegistrations();
      sim::failNthCall(import, n);
      int32_t const result = sim::plugIn(module.device());
      sim::clearFaults();
      ++results[result];
      EXPECT_EQ(module.device()->bound(), result >= 0);
      if (result < 0) {
        EXPECT_TRUE(sim::liveInterfaces().empty());
      }
      sim::unplug(*module.device());
      expectNothingLeft();
    }
  }
  EXPECT_GT(results[kLayerMemoryFull], 0) << "refusals of memory, locks and the BAR";
  EXPECT_GT(results[0], 0) << "failures that only cost an attribute";

  // The geographic address is read through a mapping of its own: without
  // it the device still comes up, with the address unknown.
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 2);
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  EXPECT_EQ(attributesOf(*module.device())["pxiGeographicAddress"], word(0xFFFFFFFF));
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  sim::unplug(*module.device());
  EXPECT_EQ(sim::plugIn(module.device()), kLayerMemoryFull) << "without its register BAR";
  sim::unplug(*module.device());
  expectNothingLeft();
}

TEST(SwitchDeviceRemoval, WaitsForTheRequestInsideWithoutDeadlockAndLeavesNothing) {
  testing_support::removeWhileARequestIsInFlight();
}

}  // namespace
