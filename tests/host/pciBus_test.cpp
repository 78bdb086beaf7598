// The simulated bus as the driver's imports see it: bridge enumeration,
// interrupts, and what an unplug finds left behind. Configuration space and
// plug-in through a driver's callbacks are exercised by the driver's tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"

namespace {

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }
};

TEST_F(BusTest, BridgesAreEnumeratedByDomainBusDeviceAndFunction) {
  sim::addPciBridge({.domain = 0, .bus = 2, .secondaryBus = 3, .subordinateBus = 3});
  sim::addPciBridge({.domain = 1, .bus = 0, .device = 1, .secondaryBus = 1, .subordinateBus = 1});
  sim::addPciBridge({.bus = 0, .device = 0x1C, .function = 4, .secondaryBus = 2});
  sim::addPciBridge({.bus = 0, .device = 0x1C, .function = 0, .secondaryBus = 1});
  using Place = std::tuple<int, int, int, int>;
  std::vector<Place> seen;
  auto collect = [](void* context, nQVZOR100_tPCIBusRecord const* b) {
    static_cast<std::vector<Place>*>(context)->emplace_back(b->domain, b->bus, b->device,
                                                            b->function);
  };
  ASSERT_EQ(nQVZOR100_enumeratePCIBuses(collect, &seen, 0), 0);
  EXPECT_EQ(seen,
            (std::vector<Place>{{0, 0, 0x1C, 0}, {0, 0, 0x1C, 4}, {0, 2, 0, 0}, {1, 0, 1, 0}}));
}

// ---- Interrupts ---------------------------------------------------------------------

struct Handler {
  int calls = 0;
  bool claims = true;
  static bool run(uint32_t, void* context) {
    auto* self = static_cast<Handler*>(context);
    ++self->calls;
    return self->claims;
  }
};

TEST_F(BusTest, AFiredInterruptReachesReservedFunctionsOnly) {
  Handler mine;
  Handler shared{.calls = 0, .claims = false};
  Handler elsewhere;
  nQVZOR1400_tInterruptRegistration a{Handler::run, &mine};
  nQVZOR1400_tInterruptRegistration b{Handler::run, &shared};
  nQVZOR1400_tInterruptRegistration c{Handler::run, &elsewhere};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(40, &a, "qvrm7_driver", 1), 0);
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(40, &b, "other", 1), 0);
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(41, &c, "other", 1), 0);
  EXPECT_TRUE(sim::fireInterrupt(40));
  EXPECT_EQ(mine.calls, 1);
  EXPECT_EQ(shared.calls, 1);
  EXPECT_EQ(elsewhere.calls, 0);

  nQVZOR100_relinquishInterrupt(40, &a);
  EXPECT_FALSE(sim::fireInterrupt(40));  // only the function that does not claim is left
  EXPECT_EQ(mine.calls, 1);
  EXPECT_EQ(shared.calls, 2);
  nQVZOR100_relinquishInterrupt(40, &b);
  nQVZOR100_relinquishInterrupt(41, &c);
  EXPECT_TRUE(sim::interruptReservations().empty());
}

using BusDeathTest = BusTest;

TEST_F(BusDeathTest, RelinquishingWhatIsNotHeldOrFromInsideTheInterruptDies) {
  static nQVZOR1400_tInterruptRegistration r{[](uint32_t number, void*) {
                                               nQVZOR100_relinquishInterrupt(number, &r);
                                               return true;
                                             },
                                             nullptr};
  EXPECT_DEATH(nQVZOR100_relinquishInterrupt(12, &r), "does not hold it");
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(12, &r, "x", 1), 0);
  EXPECT_DEATH(nQVZOR100_relinquishInterrupt(8, &r), "does not hold it");
  EXPECT_DEATH(sim::fireInterrupt(12), "from inside an interrupt function");
  nQVZOR100_relinquishInterrupt(12, &r);
}

TEST_F(BusTest, UnplugReportsTheMappingsAndInterruptsLeftBehind) {
  sim::PciDeviceOptions options;
  options.interrupt = 50;
  options.resources = {{0x1000, kQVZORResourceMemory}};
  auto device = std::make_shared<sim::PciDevice>(options);
  ASSERT_EQ(sim::plugIn(device), 0);
  sim::Bar& bar = device->bar(0);
  uint64_t const left = nQVZOR230_mapPhysicalToKernel(bar.physicalAddress(), bar.size(), 0);
  Handler h;
  nQVZOR1400_tInterruptRegistration r{Handler::run, &h};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(50, &r, "qvrm7_driver", 1), 0);
  sim::UnplugReport const report = sim::unplug(*device);
  EXPECT_FALSE(report.wasBound);
  EXPECT_EQ(report.mappingsLeft, 1u);
  EXPECT_EQ(report.interruptsLeft, 1u);
  nQVZOR230_unmapPhysicalFromKernel(left, 0);
  nQVZOR100_relinquishInterrupt(50, &r);
}

}  // namespace
