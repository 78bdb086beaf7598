// The bus around the functions: enumeration, per-device answers, interrupts,
// and plug-in and removal through a driver's callbacks.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"

namespace {

std::shared_ptr<sim::PciDevice> device(sim::PciDeviceOptions options = {}) {
  if (options.resources.empty()) options.resources = {{0x1000, kQVZORResourceMemory}};
  return std::make_shared<sim::PciDevice>(options);
}

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }
};

// ---- Enumeration and per-device answers ---------------------------------------

TEST_F(BusTest, BridgesAreEnumeratedByDomainBusDeviceAndFunction) {
  sim::addPciBridge(
      {.domain = 0, .bus = 2, .device = 0, .function = 0, .secondaryBus = 3, .subordinateBus = 3});
  sim::addPciBridge(
      {.domain = 1, .bus = 0, .device = 1, .function = 0, .secondaryBus = 1, .subordinateBus = 1});
  sim::addPciBridge({.domain = 0,
                     .bus = 0,
                     .device = 0x1C,
                     .function = 4,
                     .secondaryBus = 2,
                     .subordinateBus = 3});
  sim::addPciBridge({.domain = 0,
                     .bus = 0,
                     .device = 0x1C,
                     .function = 0,
                     .secondaryBus = 1,
                     .subordinateBus = 1});

  std::vector<nQVZOR100_tPCIBusRecord> seen;
  auto collect = [](void* context, nQVZOR100_tPCIBusRecord const* bridge) {
    static_cast<std::vector<nQVZOR100_tPCIBusRecord>*>(context)->push_back(*bridge);
  };
  ASSERT_EQ(nQVZOR100_enumeratePCIBuses(collect, &seen, 0), 0);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].function, 0);
  EXPECT_EQ(seen[0].secondaryBus, 1);
  EXPECT_EQ(seen[1].device, 0x1C);
  EXPECT_EQ(seen[1].function, 4);
  EXPECT_EQ(seen[1].subordinateBus, 3);
  EXPECT_EQ(seen[2].bus, 2);
  EXPECT_EQ(seen[3].domain, 1);

  sim::clearPciBridges();
  seen.clear();
  ASSERT_EQ(nQVZOR100_enumeratePCIBuses(collect, &seen, 0), 0);
  EXPECT_TRUE(seen.empty());
}

TEST_F(BusTest, DomainAndNumaNodeComeFromTheDeviceOnTheBus) {
  sim::PciDeviceOptions options;
  options.domain = 3;
  options.numaNode = 1;
  auto first = device(options);
  options.domain = -1;
  options.numaNode = 0xFFFFFFFF;
  auto second = device(options);
  sim::plugIn(first);
  sim::plugIn(second);
  EXPECT_EQ(nQVZOR240_getPCIDomain(first->handle()), 3);
  EXPECT_LT(nQVZOR240_getPCIDomain(second->handle()), 0);
  EXPECT_EQ(nQVZOR1_getDeviceNUMANode(&first->record()), 1u);
  EXPECT_EQ(nQVZOR1_getDeviceNUMANode(&second->record()), 0xFFFFFFFFu);
  sim::unplug(*first);
  sim::unplug(*second);
}

TEST_F(BusTest, TheRecordHoldsIdentityInterruptAndResourcesInOrder) {
  sim::PciDeviceOptions options;
  options.bus = 5;
  options.device = 3;
  options.function = 7;
  options.vendorID = 0xE4A2;
  options.subsystemID = 0x6BB9;
  options.revision = 0x21;
  options.interrupt = 33;
  options.resources = {{0x100, kQVZORResourceFirstTable},
                       {0x2000, kQVZORResourceMemory},
                       {0x10000, kQVZORResourceMemory}};
  auto d = device(options);
  nQVZOR200_tPCIDeviceRecord const& r = d->record();
  EXPECT_NE(r.deviceHandle, 0u);
  EXPECT_EQ(r.bus, 5);
  EXPECT_EQ(r.device, 3);
  EXPECT_EQ(r.function, 7);
  EXPECT_EQ(r.vendorID, 0xE4A2);
  EXPECT_EQ(r.subsystemID, 0x6BB9);
  EXPECT_EQ(r.revision & 0xFF, 0x21);
  EXPECT_EQ(r.interruptPresent, 1u);
  EXPECT_EQ(r.interruptNumber, 33u);
  EXPECT_EQ(r.resources[0].flags, 1u);
  EXPECT_EQ(r.resources[0].size, 0x100u);
  EXPECT_EQ(r.resources[1].address, d->bar(1).physicalAddress());
  EXPECT_EQ(r.resources[1].address % 0x2000, 0u);
  EXPECT_EQ(r.resources[2].address % 0x10000, 0u);
  EXPECT_EQ(r.resources[3].size, 0u);
  // No two functions share an address or a handle.
  auto other = device(options);
  EXPECT_NE(other->record().resources[1].address, r.resources[1].address);
  EXPECT_NE(other->handle(), d->handle());
  EXPECT_NE(other->kernelParent(), d->kernelParent());

  options.interrupt.reset();
  EXPECT_EQ(device(options)->record().interruptPresent, 0u);
}

TEST_F(BusTest, DmaMaskPolicies) {
  sim::PciDeviceOptions options;
  auto any = device(options);
  options.dmaMask = sim::DmaMaskPolicy::Only32Bit;
  auto narrow = device(options);
  options.dmaMask = sim::DmaMaskPolicy::RefuseAll;
  options.dmaRefusalCode = -51256;
  auto none = device(options);
  for (auto const& d : {any, narrow, none}) sim::plugIn(d);

  EXPECT_EQ(nQVZOR220_pciSetDMAMask(any->handle(), ~0ull), 0);
  EXPECT_EQ(any->dmaMask(), ~0ull);
  EXPECT_LT(nQVZOR220_pciSetDMAMask(any->handle(), 0), 0);
  EXPECT_LT(nQVZOR220_pciSetDMAMask(narrow->handle(), ~0ull), 0);
  EXPECT_EQ(nQVZOR220_pciSetDMAMask(narrow->handle(), 0xFFFFFFFF), 0);
  EXPECT_EQ(narrow->dmaMask(), 0xFFFFFFFFu);
  EXPECT_EQ(nQVZOR220_pciSetDMAMask(none->handle(), 0xFFFFFFFF), -51256);
  EXPECT_EQ(none->dmaMask(), 0u);

  EXPECT_EQ(nQVZOR200_isAddressableMemOver4G(), 1);
  sim::setAddressableMemOver4G(false);
  EXPECT_EQ(nQVZOR200_isAddressableMemOver4G(), 0);
  for (auto const& d : {any, narrow, none}) sim::unplug(*d);
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

  auto const reservations = sim::interruptReservations();
  ASSERT_EQ(reservations.size(), 3u);
  EXPECT_EQ(reservations[0].registration, &a);
  EXPECT_EQ(reservations[0].driverName, "qvrm7_driver");
  EXPECT_EQ(reservations[0].flags, 1u);

  nQVZOR100_relinquishInterrupt(40, &a);
  EXPECT_FALSE(sim::fireInterrupt(40));  // only the function that does not claim is left
  EXPECT_EQ(mine.calls, 1);
  EXPECT_EQ(shared.calls, 2);
  nQVZOR100_relinquishInterrupt(40, &b);
  nQVZOR100_relinquishInterrupt(41, &c);
  EXPECT_FALSE(sim::fireInterrupt(40));
  EXPECT_TRUE(sim::interruptReservations().empty());
}

TEST_F(BusTest, BadReservationsAreRefused) {
  Handler h;
  nQVZOR1400_tInterruptRegistration r{Handler::run, &h};
  nQVZOR1400_tInterruptRegistration empty{nullptr, &h};
  EXPECT_LT(nQVZOR1400_reserveInterrupt(9, nullptr, "x", 1), 0);
  EXPECT_LT(nQVZOR1400_reserveInterrupt(9, &empty, "x", 1), 0);
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(9, &r, "x", 1), 0);
  EXPECT_EQ(nQVZOR1400_reserveInterrupt(9, &r, "x", 1), -51101);
  sim::setFailureCode("nQVZOR1400_reserveInterrupt", -51352);
  sim::failNthCall("nQVZOR1400_reserveInterrupt", 1);
  EXPECT_EQ(nQVZOR1400_reserveInterrupt(10, &r, "x", 1), -51352);
  EXPECT_EQ(sim::interruptReservations().size(), 1u);
  nQVZOR100_relinquishInterrupt(9, &r);
}

using BusDeathTest = BusTest;

TEST_F(BusDeathTest, RelinquishingWhatIsNotReservedDies) {
  Handler h;
  nQVZOR1400_tInterruptRegistration r{Handler::run, &h};
  EXPECT_DEATH(nQVZOR100_relinquishInterrupt(9, &r), "does not hold it");
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(9, &r, "x", 1), 0);
  EXPECT_DEATH(nQVZOR100_relinquishInterrupt(8, &r), "does not hold it");
  nQVZOR100_relinquishInterrupt(9, &r);
}

TEST_F(BusDeathTest, RelinquishingFromInsideTheInterruptDies) {
  static nQVZOR1400_tInterruptRegistration r{[](uint32_t number, void*) {
                                               nQVZOR100_relinquishInterrupt(number, &r);
                                               return true;
                                             },
                                             nullptr};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(12, &r, "x", 1), 0);
  EXPECT_DEATH(sim::fireInterrupt(12), "from inside an interrupt function");
  nQVZOR100_relinquishInterrupt(12, &r);
}

// ---- Plug in and removal ------------------------------------------------------------

// A driver that records what the layer calls and accepts or refuses.
struct FakeDriver {
  static inline std::vector<std::string> events;
  static inline int32_t addResult = 0;
  static inline void* lastRecord = nullptr;
  static inline uint64_t lastUnused = 1;
  static inline uint64_t parentSeen = 0;
  static inline int contexts = 0;
  static inline bool leaveMapping = false;
  static inline std::vector<void*> created;
  static inline std::vector<void*> removed;

  static int32_t addDevice(void* record, uint64_t unused, void** context) {
    events.push_back("add");
    lastRecord = record;
    lastUnused = unused;
    parentSeen = reinterpret_cast<uint64_t>(*context);
    if (addResult < 0) {
      *context = nullptr;
      return addResult;
    }
    auto const* r = static_cast<nQVZOR200_tPCIDeviceRecord const*>(record);
    // A device context that owns a mapping of the first memory resource.
    uint64_t mapping =
        nQVZOR230_mapPhysicalToKernel(r->resources[0].address, r->resources[0].size, 0);
    *context = new uint64_t(mapping);
    created.push_back(*context);
    ++contexts;
    return 0;
  }
  static void removeDevice(void* context) {
    events.push_back("remove");
    removed.push_back(context);
    auto* mapping = static_cast<uint64_t*>(context);
    if (!leaveMapping) nQVZOR230_unmapPhysicalFromKernel(*mapping, 0);
  }
  static void destroyDevice(void* context) {
    events.push_back("destroy");
    delete static_cast<uint64_t*>(context);
    --contexts;
  }

  FakeDriver() {
    events.clear();
    created.clear();
    removed.clear();
    record.addDevice = addDevice;
    record.removeDevice = removeDevice;
    record.destroyDevice = destroyDevice;
    EXPECT_GE(nQVZOR200_registerDriver(&record), 0);
  }
  ~FakeDriver() {
    if (sim::registeredDriver() == &record) nQVZOR200_unregisterDriver(&record);
  }
  nQVZOR200_tDriverRecord record{};
};

TEST_F(BusTest, PlugInOffersTheRecordAndUnplugRemovesThenDestroys) {
  FakeDriver driver;
  auto d = device();
  ASSERT_EQ(sim::plugIn(d), 0);
  EXPECT_EQ(FakeDriver::lastRecord, &d->record());
  EXPECT_EQ(FakeDriver::lastUnused, 0u);
  EXPECT_EQ(FakeDriver::parentSeen, d->kernelParent());
  EXPECT_TRUE(d->bound());
  EXPECT_NE(d->driverContext(), nullptr);
  EXPECT_EQ(sim::liveMappings(*d), 1u);

  sim::UnplugReport const report = sim::unplug(*d);
  EXPECT_TRUE(report.wasBound);
  EXPECT_EQ(report.mappingsLeft, 0u);
  EXPECT_EQ(report.interruptsLeft, 0u);
  EXPECT_EQ(FakeDriver::events, (std::vector<std::string>{"add", "remove", "destroy"}));
  EXPECT_EQ(FakeDriver::contexts, 0);
  EXPECT_FALSE(d->bound());
}

TEST_F(BusTest, ARefusedDeviceStaysOnTheBusUnbound) {
  FakeDriver driver;
  FakeDriver::addResult = -51150;
  auto d = device();
  EXPECT_EQ(sim::plugIn(d), -51150);
  EXPECT_FALSE(d->bound());
  uint16_t vendor = 0;
  EXPECT_EQ(nQVZOR100_pciConfigRead16(d->handle(), 0, &vendor), 0);
  sim::UnplugReport const report = sim::unplug(*d);
  EXPECT_FALSE(report.wasBound);
  EXPECT_EQ(FakeDriver::events, std::vector<std::string>{"add"});
  FakeDriver::addResult = 0;
}

TEST_F(BusTest, UnplugReportsWhatTheDriverLeftBehind) {
  FakeDriver driver;
  FakeDriver::leaveMapping = true;
  sim::PciDeviceOptions options;
  options.interrupt = 50;
  auto d = device(options);
  ASSERT_EQ(sim::plugIn(d), 0);
  Handler h;
  nQVZOR1400_tInterruptRegistration r{Handler::run, &h};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(50, &r, "qvrm7_driver", 1), 0);
  sim::UnplugReport const report = sim::unplug(*d);
  EXPECT_EQ(report.mappingsLeft, 1u);
  EXPECT_EQ(report.interruptsLeft, 1u);
  nQVZOR100_relinquishInterrupt(50, &r);
  FakeDriver::leaveMapping = false;
}

TEST_F(BusTest, UnregisteringTheDriverRemovesItsDevicesNewestFirst) {
  auto first = device();
  auto second = device();
  {
    FakeDriver driver;
    sim::plugIn(first);
    sim::plugIn(second);
    FakeDriver::events.clear();
    nQVZOR200_unregisterDriver(&driver.record);
    EXPECT_EQ(FakeDriver::events,
              (std::vector<std::string>{"remove", "destroy", "remove", "destroy"}));
    EXPECT_EQ(FakeDriver::removed,
              (std::vector<void*>{FakeDriver::created[1], FakeDriver::created[0]}));
    EXPECT_FALSE(first->bound());
    EXPECT_FALSE(second->bound());
    EXPECT_EQ(FakeDriver::contexts, 0);
  }
  EXPECT_EQ(sim::liveMappings(), 0u);
  // Still on the bus, without a driver.
  EXPECT_FALSE(sim::unplug(*first).wasBound);
  EXPECT_FALSE(sim::unplug(*second).wasBound);
}

TEST_F(BusDeathTest, PluggingTwiceOrUnpluggingWhatIsNotPluggedDies) {
  auto d = device();
  EXPECT_DEATH(sim::unplug(*d), "is not on the bus");
  sim::plugIn(d);
  EXPECT_DEATH(sim::plugIn(d), "already on the bus");
  sim::unplug(*d);
}

}  // namespace
