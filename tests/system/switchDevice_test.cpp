// The real driver object serving simulated modules of every supported model:
// added, opened, asked, removed, and nothing left behind, also when the
// setup fails or a removal meets a request.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>

#include "support/switchDeviceScenario.h"

namespace {

using testing_support::layerHoldings;
using Values = std::map<std::string, std::string>;

constexpr char kInterface[] = "qvrm7_driver_qvrm7";

std::string text(std::string const& value) { return value + '\0'; }
std::string word(uint32_t value) { return std::string(reinterpret_cast<char*>(&value), 4); }

// The device attributes of a function, as the layer received them.
Values attributesOf(sim::PciDevice const& function) {
  Values values;
  for (sim::PropertyRegistration const& p : sim::livePropertiesOf(0, function.kernelParent()))
    values[p.name] = std::string(p.value.begin(), p.value.end());
  return values;
}

class SwitchDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    loaded = layerHoldings();
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  decltype(layerHoldings()) loaded;
};

TEST_F(SwitchDevice, EveryModelIsServedAndRemovedAndNoOtherIsTaken) {
  sim::Rm7Module unlisted({.subsystemID = 0x6BBB});
  EXPECT_EQ(sim::plugIn(unlisted.device()), -51150);
  EXPECT_EQ(layerHoldings(), loaded);
  for (uint32_t slot = 1; uint16_t model : sim::kRm7SubsystemIDs) {
    SCOPED_TRACE(model);
    sim::Rm7Module module({.subsystemID = model, .geographicAddress = slot});
    ASSERT_EQ(sim::plugIn(module.device()), 0);
    char name[16];
    std::snprintf(name, sizeof name, "RM7-%04X", model);
    EXPECT_EQ(attributesOf(*module.device()), (Values{{"pxiGeographicAddress", word(slot++)},
                                                      {"serialNumber", text("")},
                                                      {"manufacturerName", text("")},
                                                      {"modelName", text(name)}}));
    sim::UserFile file;
    ASSERT_EQ(file.open(kInterface), 0);
    char buffer[8];
    uint64_t movedA = 1, movedB = 1;
    EXPECT_EQ(file.transferA(buffer, sizeof buffer, &movedA), 0);
    EXPECT_EQ(file.transferB(buffer, sizeof buffer, &movedB), 0);
    EXPECT_EQ(movedA + movedB, 0u);
    EXPECT_EQ(file.ioctl(0x1234, nullptr, 0, nullptr, 0), -51256) << "not a code of the device";
    file.close();
    EXPECT_EQ(sim::unplug(*module.device()).interruptsLeft, 0u);
    EXPECT_EQ(layerHoldings(), loaded);
  }
}

TEST_F(SwitchDevice, AWrongSignatureStopsTheSetupAndAnUnmappedSlotIsAllOnes) {
  // Whose signature is wrong (the bridge chip's or the FPGA's), and the
  // level the setup reaches.
  std::tuple<bool, char const*> const cases[] = {{true, "TMR9ObjectsBuilt"},
                                                 {false, "RM7RegMapsBuilt"}};
  for (auto const& [bridge, level] : cases) {
    SCOPED_TRACE(level);
    sim::Rm7Module module;
    if (bridge)
      module.vexus().registers().setReadValue(sim::VexusChip::kSignatureRegister, 0xC0107AD1);
    else
      module.fpga().base().setReadValue(0x00, 0xB6B66BB6);
    sim::clearDebugOutput();
    EXPECT_EQ(sim::plugIn(module.device()), -51001) << "the driver's own code has no layer code";
    EXPECT_NE(sim::debugOutput().find(std::string("reached ") + level + "\n"), std::string::npos);
    sim::unplug(*module.device());
    EXPECT_EQ(layerHoldings(), loaded);
  }

  // The slot is read through a mapping of its own, the second the device makes.
  sim::Rm7Module unmapped({.geographicAddress = 7});
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 2);
  EXPECT_EQ(sim::plugIn(unmapped.device()), 0);
  EXPECT_EQ(attributesOf(*unmapped.device())["pxiGeographicAddress"], word(0xFFFFFFFF));
  sim::unplug(*unmapped.device());
  EXPECT_EQ(layerHoldings(), loaded);
}

TEST(SwitchDeviceRemoval, WaitsForTheRequestInsideWithoutDeadlockAndLeavesNothing) {
  testing_support::removeWhileARequestIsInside();
}

}  // namespace
