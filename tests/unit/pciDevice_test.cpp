// The PCI device over the simulated bus: its description, the capability
// search, the bus properties, the slot path, BARs, the DMA mask and the
// interrupt.
#include "platform/pciDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "pciTestDevice.h"
#include "platform/statusCodes.h"
#include "support/layerTest.h"

namespace {

using namespace pcitest;

sim::PciDeviceOptions plain() {
  sim::PciDeviceOptions options;
  options.vendorID = options.subsystemVendorID = 0xE4A2;
  options.deviceID = 0xB6B6;
  options.subsystemID = 0x6BB4;
  options.revision = 3;
  options.bus = 2;
  options.resources = {{0x10000, kQVZORResourceMemory}};
  return options;
}

std::shared_ptr<sim::PciDevice> makeFunction(sim::PciDeviceOptions const& options = plain()) {
  return std::make_shared<sim::PciDevice>(options);
}

class CountingHandler : public iPrimaryInterruptHandler {
 public:
  bool handleInterrupt() override {
    ++calls;
    spinLocksHeld = sim::spinLocksHeldByThisThread();
    return claim;
  }
  int calls = 0;
  uint32_t spinLocksHeld = 0;
  bool claim = true;
};

class PciTest : public testing_support::LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    sim::clearPciBridges();
  }
  void TearDown() override {
    sim::clearPciBridges();
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    LayerTest::TearDown();
  }
  static std::vector<sim::PciAccess> configWrites() {
    std::vector<sim::PciAccess> writes;
    for (auto const& access : sim::pciAccessLog())
      if (access.kind == sim::PciAccess::Kind::ConfigWrite) writes.push_back(access);
    return writes;
  }
};

TEST_F(PciTest, TheDescriptionComesFromTheRecordAndMapBarChecksTheBarNumber) {
  sim::PciDeviceOptions options = plain();
  options.resources = {{0x100, kQVZORResourceFirstTable},
                       {0x4000, kQVZORResourceMemory},
                       {0x8000, kQVZORResourceMemory}};
  Bench bench(makeFunction(options));
  TestPCIDevice& device = bench.make();
  // Every field is checked where the factory fills it; here, that the device
  // keeps the filled record and owns it.
  tPCIDescription const& d = device.description();
  auto const& record = bench.function().record();
  EXPECT_EQ(std::tuple(d.owner, device.identity(), d.kernelParent, d.memoryCount),
            std::tuple(reinterpret_cast<uintptr_t>(&device), &d.owner,
                       bench.function().kernelParent(), 2u));
  EXPECT_EQ(std::tuple(d.firstTable[0].address, d.memoryTable[1].address),
            std::tuple(record.resources[0].address, record.resources[2].address));

  tStatus status;
  u64 const bar0 = device.mapBAR(0, status, 0);
  ASSERT_NE(bar0, 0u);
  nQVZOR100_memoryWrite32(bar0 + 0x10, 0xA5A5F00D);
  EXPECT_EQ(bench.function().bar(1).load(0x10, 4), 0xA5A5F00Du);
  device.unmapBAR(0, bar0, 0);
  device.unmapBAR(0, 0, 0);  // nothing mapped: nothing to give back
  EXPECT_EQ(sim::liveMappings(bench.function()), 0u);

  // No BAR behind the number: the layer is not asked. The layer refusing.
  sim::enableCallLog(true);
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  for (auto [bar, code, line] : {std::tuple{u8{2}, kStatusBadArgument, 206u},
                                 {u8{6}, kStatusBadArgument, 206u},
                                 {u8{255}, kStatusBadArgument, 206u},
                                 {u8{0}, kStatusMemoryFull, 212u}}) {
    tLongStatus refused;
    EXPECT_EQ(device.mapBAR(bar, refused, 0), 0u);
    expectSite(refused, code, "tPCIDevice", line);
  }
  EXPECT_EQ(sim::callCount("nQVZOR230_mapPhysicalToKernel"), 1u);
  EXPECT_EQ(sim::callCount("nQVZOR230_unmapPhysicalFromKernel"), 0u);

  // Nor is there an interrupt to reserve.
  CountingHandler handler;
  tLongStatus noInterrupt;
  device.reserveInterrupt(&handler, noInterrupt, 0);
  expectSite(noInterrupt, kStatusNotSupported, "tPCIDevice", 89);
  EXPECT_TRUE(sim::interruptReservations().empty());
}

// ---- Capability search ----------------------------------------------------------
// Whether the list or the probe is used on the way is checked with the properties.

TEST_F(PciTest, OnlyPciExpressIsProbedAndTheProbeTakesWhatByte15PointsAt) {
  auto function = makeFunction();
  sim::ConfigSpace& config = function->config();
  sim::addPowerManagementCapability(config);
  config.set(15, 1, 0x18);  // 0x60
  config.set(0x60, 1, 0x10);
  config.set(0x60 + 12, 2, 0x0042);  // maximum speed 2, width 4
  config.set(0x60 + 18, 2, 0x0021);  // speed 1, width 2
  Bench bench(function);
  tPCIDescription const& d = bench.make().description();
  EXPECT_EQ(std::tuple(d.maxLinkWidth, d.linkWidth), std::tuple(4u, 2u));

  sim::enablePciAccessLog(true);
  tLongStatus other;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x05, d, other), 0u);
  expectSite(other, kStatusNotAvailable, "tPCIDevice", 147);
  EXPECT_TRUE(configWrites().empty());
  config.set(15, 1, 0x0F);  // 0x3C: below the capability area, not read
  tLongStatus status;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, d, status), 0u);
  expectSite(status, kStatusNotAvailable, "tPCIDevice", 147);
  EXPECT_EQ(sim::pciAccessLog().back().offset, 15u);
}

TEST_F(PciTest, LoopingAndTruncatedCapabilityListsEnd) {
  auto looping = makeFunction();
  looping->config().set(0x06, 2, 0x0010);
  looping->config().set(0x34, 1, 0x40);
  looping->config().set(0x40, 2, 0x5001);  // PM, next 0x50
  looping->config().set(0x50, 2, 0x4005);  // MSI, next 0x40 again
  Bench bench(looping);
  tPCIDescription const& d = bench.make().description();
  tStatus found;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x05, d, found), 0x50u);
  // Looping; then cut by a next pointer the bus refuses to read.
  for (auto [next, code, file, line] : {std::tuple{0x4005, kStatusNotAvailable, "tPCIDevice", 147},
                                        {0x4305, kStatusLayerFailure, "pciconfig", 378}}) {
    looping->config().set(0x50, 2, next);
    tLongStatus status;
    EXPECT_EQ(tPCIDevice::findPCICapability(0x10, d, status), 0u);
    expectSite(status, code, file, line);
  }
}

// ---- Bus properties -----------------------------------------------------------------

TEST_F(PciTest, PropertiesWithAndWithoutPciExpress) {
  // clang-format off
  constexpr char const* kNames[] = {"busType", "busSubType", "pciBusNumber", "pciDeviceNumber",
      "pciFunctionNumber", "pciVendorID", "pciDeviceID", "pciSubsystemVendorID", "pciSubsystemID",
      "pciRevision", "numaNode", "pciSlotPath", "pcieMaxLinkWidth", "pcieLinkWidth",
      "pcieMaxTransferRate", "pcieTransferRate"};
  // clang-format on
  sim::Rm7Module module({.device = 1, .function = 2, .numaNode = 1});
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 3, .subordinateBus = 3});
  sim::PciDeviceOptions options = plain();
  options.numaNode = 0xFFFFFFFF;
  auto conventional = makeFunction(options);
  sim::addPowerManagementCapability(conventional->config());
  struct Case {
    std::shared_ptr<sim::PciDevice> function;
    std::vector<u32> values;  // the slot path's place holds 0
    char const* path;
    size_t probes;  // the module's PCI Express capability is third in the list
  } const cases[] = {
      {module.device(),
       {0x20706369, 0x70636965, 3, 1, 2, 0xE4A2, 0xB6B6, 0xE4A2, 0x6BB1, 1, 1, 0, 4, 4, 2, 2},
       "0000:00:E0:0A",
       0},
      {conventional,
       {0x20706369, 0x20706369, 2, 0, 0, 0xE4A2, 0xB6B6, 0xE4A2, 0x6BB4, 3, 0xFFFFFFFF, 0},
       "0000:00:00",
       1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.path);
    Bench bench(c.function);
    sim::clearPciAccessLog();
    sim::enablePciAccessLog(true);
    TestPCIDevice& device = bench.make();
    auto const writes = configWrites();
    ASSERT_EQ(writes.size(), c.probes);
    for (auto const& write : writes)
      EXPECT_EQ(std::tuple(write.offset, write.value), std::tuple(0ul, 0x5A5Au));
    device.fillPCIProperties();
    tPropertyList list = device.getBusProperties();
    std::vector<u32> values;
    for (size_t i = 0; list[i] != nullptr && i < std::size(kNames); ++i) {
      SCOPED_TRACE(kNames[i]);
      EXPECT_STREQ(list[i]->name, kNames[i]);
      EXPECT_EQ(list[i]->type, i == 10 ? 50u : i == 11 ? 85u : 51u);
      values.push_back(i == 11 ? 0 : list[i]->value32());
    }
    EXPECT_EQ(values, c.values);
    EXPECT_STREQ(list[11]->text(), c.path);
  }
}

// ---- Slot path ------------------------------------------------------------------------

std::string slotPathOf(sim::PciDeviceOptions const& options) {
  Bench bench(makeFunction(options));
  return bench.make().slotPath();
}

TEST_F(PciTest, SlotPathsThroughBridgesHierarchiesAndDomains) {
  auto path = [](std::vector<sim::PciBridge> const& bridges, int32_t domain, uint16_t bus,
                 uint16_t device = 0, uint16_t function = 0) {
    sim::clearPciBridges();
    for (auto const& bridge : bridges) sim::addPciBridge(bridge);
    sim::PciDeviceOptions options = plain();
    options.domain = domain;
    options.bus = bus;
    options.device = device;
    options.function = function;
    return slotPathOf(options);
  };
  EXPECT_EQ(path({}, 0, 5, 3, 7), "0000:00:1F");
  EXPECT_EQ(path({{.bus = 0, .device = 0x1C, .secondaryBus = 2, .subordinateBus = 2}}, 0, 2),
            "0000:00:E0:00");
  // The bridge below the device's bus is not on its path.
  EXPECT_EQ(path({{.bus = 0, .device = 0x1C, .function = 4, .secondaryBus = 1, .subordinateBus = 2},
                  {.bus = 1, .device = 0, .secondaryBus = 2, .subordinateBus = 2},
                  {.bus = 2, .device = 0x1F, .secondaryBus = 3, .subordinateBus = 3}},
                 0, 2),
            "0000:00:E4:00:00");
  std::vector<sim::PciBridge> const twoRoots = {
      {.bus = 0, .device = 1, .secondaryBus = 1, .subordinateBus = 4},
      {.domain = 1, .bus = 0, .device = 7, .secondaryBus = 0x21, .subordinateBus = 0x21},
      {.bus = 0x20, .device = 2, .secondaryBus = 0x21, .subordinateBus = 0x21}};
  EXPECT_EQ(path(twoRoots, 0, 0x21), "0000:01:10:00");
  EXPECT_EQ(path(twoRoots, 1, 0x21), "0001:00:38:00");
  EXPECT_EQ(path(twoRoots, -1, 0x21), "0000:01:10:00");  // unknown domain: taken as 0
}

TEST_F(PciTest, TooManyBridgesLeaveTheSlotPathEmptyWithoutHaltingOrFailing) {
  sim::PciDeviceOptions options = plain();
  options.bus = 200;
  // 255 bridges above the device still fit, with the device's own byte.
  for (uint16_t i = 0; i < 255; ++i)
    sim::addPciBridge({.bus = i, .device = 1, .secondaryBus = 1, .subordinateBus = 255});
  std::string const full = slotPathOf(options);
  EXPECT_EQ(full.size(), 7u + 3u * 256u);
  EXPECT_EQ(full.substr(full.size() - 6), ":08:00");

  sim::addPciBridge({.bus = 255, .device = 1, .secondaryBus = 1, .subordinateBus = 255});
  Bench bench(makeFunction(options));
  tStatus status;
  TestPCIDevice& device = bench.make(status);
  EXPECT_EQ(status.code, 0);
  EXPECT_TRUE(sim::halts().empty());
  EXPECT_NE(sim::debugOutput().find("tPCIDevice"), std::string::npos);
  device.fillPCIProperties();
  EXPECT_STREQ(device.getBusProperties()[11]->text(), "");
}

TEST_F(PciTest, SlotPathAllocationFailuresReportTheStringSites) {
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 2, .subordinateBus = 2});
  auto function = makeFunction();
  Bench bench(function);
  tPCIDescription const description = describe(*function);
  for (auto [n, line, left] : {std::tuple{1, 1641, ""}, std::tuple{2, 1634, "0000:00"}}) {
    sim::clearFaults();
    sim::failNthCall("nQVZOR100_malloc", n);
    tPCIDevice::tSlotPathString path;
    tLongStatus status;
    tPCIDevice::buildPCISlotPath(path, description, status);
    expectSite(status, kStatusMemoryFull, "tBasicString", line);
    EXPECT_STREQ(path.c_str(), left);
  }
}

// ---- DMA -----------------------------------------------------------------------

TEST_F(PciTest, DmaMaskFallsBackTo32BitsAndRecordsWhatIsInForce) {
  using sim::DmaMaskPolicy;
  struct Case {
    DmaMaskPolicy policy;
    u32 type;
    i64 code;
    u32 recorded;
    uint64_t mask;
  } const cases[] = {
      {DmaMaskPolicy::AcceptAny, 2, 0, 2, ~uint64_t{0}},
      {DmaMaskPolicy::Only32Bit, 2, 0, 1, 0xFFFFFFFF},
      // No restriction asked for, but only 32 bits set: 32 bits recorded.
      {DmaMaskPolicy::AcceptAny, 3, 0, 1, 0xFFFFFFFF},
      {DmaMaskPolicy::RefuseAll, 2, kStatusBadArgument, 0, 0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.type);
    sim::PciDeviceOptions options = plain();
    options.dmaMask = c.policy;
    Bench bench(makeFunction(options));
    TestPCIDevice& device = bench.make();
    tLongStatus status;
    device.configureDMA(c.type, status);
    EXPECT_EQ(std::tuple(status.head.code, status.line), std::tuple(c.code, c.code ? 192u : 0u));
    EXPECT_EQ(
        std::tuple(device.dmaConfiguration().type(),
                   device.dmaConfiguration().description() != nullptr, bench.function().dmaMask()),
        std::tuple(c.recorded, c.recorded != 0, c.mask));
  }
}

// ---- Interrupts ---------------------------------------------------------------------------

class InterruptTest : public PciTest {
 protected:
  void SetUp() override {
    PciTest::SetUp();
    locksBefore_ = sim::liveSpinLocks();
    sim::PciDeviceOptions options = plain();
    options.interrupt = 42;
    bench_ = std::make_unique<Bench>(makeFunction(options));
    device_ = &bench_->make();
    locks_ = sim::liveSpinLocks();
  }
  void TearDown() override {
    bench_.reset();
    EXPECT_TRUE(sim::interruptReservations().empty());
    PciTest::TearDown();
  }
  std::unique_ptr<Bench> bench_;
  TestPCIDevice* device_ = nullptr;
  CountingHandler handler_;
  uint64_t locksBefore_ = 0;
  uint64_t locks_ = 0;
};

TEST_F(InterruptTest, AReservedInterruptReachesItsHandlerOnlyUntilRelinquished) {
  tStatus status;
  device_->reserveInterrupt(&handler_, status, 4);
  ASSERT_EQ(status.code, 0);
  auto const reservations = sim::interruptReservations();
  ASSERT_EQ(reservations.size(), 1u);
  EXPECT_EQ(std::tuple(reservations[0].interruptNumber, reservations[0].flags,
                       reservations[0].driverName),
            std::tuple(42u, 5u, "qvrm7_driver"));

  // A second reservation would overwrite the live one's record.
  CountingHandler other;
  tLongStatus second;
  device_->reserveInterrupt(&other, second, 0);
  expectSite(second, kStatusNotSupported, "tPCIDevice", 87);

  EXPECT_TRUE(sim::fireInterrupt(42));
  handler_.claim = false;
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.calls, 2);
  EXPECT_EQ(other.calls, 0);
  EXPECT_EQ(handler_.spinLocksHeld, 0u);

  device_->relinquishInterrupt();
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.calls, 2);
  device_->relinquishInterrupt();  // nothing left to give back
}

TEST_F(InterruptTest, TheLockedVariantRunsTheHandlerUnderTheLockAndGoesWithTheDevice) {
  tStatus status;
  tInterruptSpinLock* lock = device_->reserveInterruptLocked(&handler_, status, 0);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(sim::liveSpinLocks(), locks_ + 1);
  EXPECT_TRUE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.spinLocksHeld, 1u);
  device_->releaseInterruptLocked(lock);
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_EQ(sim::liveSpinLocks(), locks_);

  // Given back with the plain relinquish, its lock is not lost to the next one.
  ASSERT_NE(device_->reserveInterruptLocked(&handler_, status, 0), nullptr);
  device_->relinquishInterrupt();
  ASSERT_NE(device_->reserveInterruptLocked(&handler_, status, 0), nullptr);
  EXPECT_EQ(sim::liveSpinLocks(), locks_ + 1);
  // Destroyed while reserved, the device gives back the interrupt and its lock.
  bench_->remove();
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(sim::liveSpinLocks(), locksBefore_);
}

TEST_F(InterruptTest, ARefusedReservationLeavesNothingToRelinquishAndNoLock) {
  sim::enableCallLog(true);
  struct {
    char const* refused;
    bool locked;
    i64 code;
    char const* file;
    u64 line;
  } const cases[] = {
      {"nQVZOR1400_reserveInterrupt", false, kStatusBadArgument, "tPCIDevice", 93},
      {"nQVZOR1400_reserveInterrupt", true, kStatusBadArgument, "tPCIDevice", 93},
      {"nQVZOR100_createSpinLock", true, kStatusMemoryFull, "synchronization", 1007},
  };
  for (auto const& c : cases) {
    sim::failNthCall(c.refused, 1);
    tLongStatus status;
    if (c.locked) {
      EXPECT_EQ(device_->reserveInterruptLocked(&handler_, status, 0), nullptr);
    } else {
      device_->reserveInterrupt(&handler_, status, 0);
    }
    expectSite(status, c.code, c.file, c.line);
    device_->relinquishInterrupt();
    EXPECT_EQ(sim::liveSpinLocks(), locks_);
  }
  EXPECT_EQ(sim::callCount("nQVZOR100_relinquishInterrupt"), 0u);
  tStatus clean;
  device_->reserveInterrupt(&handler_, clean, 0);
  EXPECT_TRUE(sim::fireInterrupt(42));
  device_->relinquishInterrupt();
}

}  // namespace
