// The real driver object offered PCI functions by the layer's bus: one it
// does not support, and supported modules while no switch device class is
// built in. Either way it must take nothing and leave nothing behind.
#include <gtest/gtest.h>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"

namespace {

class AddDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    loaded = sim::liveAllocations();
  }

  void expectNothingTaken(sim::Rm7Module const& module) {
    EXPECT_FALSE(module.device()->bound());
    EXPECT_TRUE(sim::interfaceRegistrations().empty());
    EXPECT_TRUE(sim::propertyRegistrations().empty());
    EXPECT_TRUE(sim::userspaceAddEvents().empty());
    EXPECT_EQ(sim::liveMappings(*module.device()), 0u);
    EXPECT_EQ(sim::liveAllocations(), loaded);
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  uint64_t loaded = 0;
};

TEST_F(AddDevice, UnsupportedModuleIsNoMatch) {
  sim::Rm7Module module(sim::Rm7ModuleOptions{.subsystemID = 0x6BBB});
  EXPECT_EQ(sim::plugIn(module.device()), -51150);
  expectNothingTaken(module);
  driver.unload();
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST_F(AddDevice, SupportedModulesAreRefusedWhileNoDeviceClassIsBuiltIn) {
  for (uint16_t model : sim::kRm7SubsystemIDs) {
    sim::Rm7Module module(sim::Rm7ModuleOptions{.subsystemID = model});
    EXPECT_EQ(sim::plugIn(module.device()), -51256) << std::hex << model;
    expectNothingTaken(module);
    sim::unplug(*module.device());
  }
  driver.unload();
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

}  // namespace
