// The real driver object offered PCI functions by the layer's bus: one it
// does not support, and supported modules while no switch device class is
// built in. Either way it must take nothing and leave nothing behind.
#include <gtest/gtest.h>

#include <vector>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"

namespace {

TEST(AddDevice, UnsupportedModelsAreNoMatchAndUnbuiltOnesRefusedLeavingNothing) {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  uint64_t const loaded = sim::liveAllocations();
  std::vector<std::pair<uint16_t, int32_t>> offers = {{0x6BBB, -51150}};
  for (uint16_t model : sim::kRm7SubsystemIDs) offers.emplace_back(model, -51256);
  for (auto const& [model, result] : offers) {
    sim::Rm7Module module(sim::Rm7ModuleOptions{.subsystemID = model});
    EXPECT_EQ(sim::plugIn(module.device()), result) << std::hex << model;
    EXPECT_FALSE(module.device()->bound());
    EXPECT_TRUE(sim::interfaceRegistrations().empty());
    EXPECT_TRUE(sim::propertyRegistrations().empty());
    EXPECT_TRUE(sim::userspaceAddEvents().empty());
    EXPECT_EQ(sim::liveMappings(*module.device()), 0u);
    EXPECT_EQ(sim::liveAllocations(), loaded);
    sim::unplug(*module.device());
  }
  driver.unload();
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

}  // namespace
