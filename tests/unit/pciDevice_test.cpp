// The PCI device over the simulated bus: its description, the capability
// search, the bus properties, the slot path, BARs, the DMA mask and the
// interrupt.
#include "platform/pciDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
using Options = sim::PciDeviceOptions;

// A plain function on bus 2, changed as a case needs.
std::shared_ptr<sim::PciDevice> makeFunction(std::function<void(Options&)> const& change = {}) {
  Options options;
  options.subsystemID = 0x6BB4;
  options.bus = 2;
  options.resources = {{0x10000, kQVZORResourceMemory}};
  if (change) change(options);
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
  static size_t configWrites() {
    auto const log = sim::pciAccessLog();
    return std::count_if(log.begin(), log.end(), [](sim::PciAccess const& access) {
      return access.kind == sim::PciAccess::Kind::ConfigWrite;
    });
  }
};

TEST_F(PciTest, MapBarChecksTheBarNumberAndADeviceWithoutInterruptReservesNone) {
  Bench bench(makeFunction([](Options& o) {
    o.resources = {{0x100, kQVZORResourceFirstTable},
                   {0x4000, kQVZORResourceMemory},
                   {0x8000, kQVZORResourceMemory}};
  }));
  TestPCIDevice& device = bench.make();
  tStatus status;
  u64 const bar0 = device.mapBAR(0, status, 0);  // the first memory resource
  ASSERT_NE(bar0, 0u);
  nQVZOR100_memoryWrite32(bar0 + 0x10, 0xA5A5F00D);
  EXPECT_EQ(bench.function().bar(1).load(0x10, 4), 0xA5A5F00Du);
  device.unmapBAR(0, bar0, 0);
  device.unmapBAR(0, 0, 0);  // nothing mapped: nothing to give back
  EXPECT_EQ(sim::liveMappings(bench.function()), 0u);

  // No BAR behind the number: the layer is not asked. (The layer refusing is
  // checked with the bridge accessor.)
  sim::enableCallLog(true);
  for (u8 bar : {2, 255}) {
    tLongStatus refused;
    EXPECT_EQ(device.mapBAR(bar, refused, 0), 0u);
    expectSite(refused, kStatusBadArgument, "tPCIDevice", 206);
  }
  EXPECT_EQ(sim::callCount("nQVZOR230_mapPhysicalToKernel"), 0u);
  EXPECT_EQ(sim::callCount("nQVZOR230_unmapPhysicalFromKernel"), 0u);

  // Nor is there an interrupt to reserve.
  CountingHandler handler;
  tLongStatus noInterrupt;
  device.reserveInterrupt(&handler, noInterrupt, 0);
  expectSite(noInterrupt, kStatusNotSupported, "tPCIDevice", 89);
  EXPECT_TRUE(sim::interruptReservations().empty());
}

// Whether the list or the probe is used on the way is checked with the
// properties. Only PCI Express is probed, at what byte 15 points to; a list
// that loops, or that the bus cuts, ends.
TEST_F(PciTest, TheCapabilitySearchProbesOnlyPciExpressAndEndsOnEveryList) {
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
  EXPECT_EQ(configWrites(), 0u);
  config.set(15, 1, 0x0F);  // 0x3C: below the capability area, not read
  tLongStatus below;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, d, below), 0u);
  expectSite(below, kStatusNotAvailable, "tPCIDevice", 147);
  EXPECT_EQ(sim::pciAccessLog().back().offset, 15u);

  config.set(0x40, 2, 0x5001);  // PM, next 0x50
  config.set(0x50, 2, 0x4005);  // MSI, next 0x40 again
  tStatus found;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x05, d, found), 0x50u);
  for (auto [next, code, file, line] : {std::tuple{0x4005, kStatusNotAvailable, "tPCIDevice", 147},
                                        {0x4305, kStatusLayerFailure, "pciconfig", 378}}) {
    config.set(0x50, 2, next);
    tLongStatus status;
    EXPECT_EQ(tPCIDevice::findPCICapability(0x10, d, status), 0u);
    expectSite(status, code, file, line);
  }
}

// One property of each kind: a field of the description, the sub-type that
// follows the link, the node, the slot path's text, and the link fields that
// only a PCI Express device has.
TEST_F(PciTest, PropertiesWithAndWithoutPciExpress) {
  sim::Rm7Module module({.device = 1, .function = 2, .numaNode = 1});
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 3, .subordinateBus = 3});
  auto conventional = makeFunction([](Options& o) { o.numaNode = 0xFFFFFFFF; });
  sim::addPowerManagementCapability(conventional->config());
  // The module's PCI Express capability is third in its list: no probe. Link:
  // maximum width, width, maximum rate, rate.
  for (auto [function, subsystemID, subType, node, path, probes, link] :
       {std::tuple{module.device(), 0x6BB1u, 0x70636965u, 1u, "0000:00:E0:0A", 0ul,
                   std::vector<u32>{4, 4, 2, 2}},
        {conventional, 0x6BB4u, 0x20706369u, 0xFFFFFFFFu, "0000:00:00", 1ul, {}}}) {
    SCOPED_TRACE(path);
    Bench bench(function);
    sim::clearPciAccessLog();
    sim::enablePciAccessLog(true);
    TestPCIDevice& device = bench.make();
    EXPECT_EQ(configWrites(), probes);
    device.fillPCIProperties();
    tPropertyList list = device.getBusProperties();
    EXPECT_EQ(std::tuple(list[8]->value32(), list[1]->value32(), list[10]->value32()),
              std::tuple(subsystemID, subType, node));
    EXPECT_STREQ(list[11]->text(), path);
    std::vector<u32> fields;
    for (size_t i = 12; list[i] != nullptr; ++i) fields.push_back(list[i]->value32());
    EXPECT_EQ(fields, link);
  }
}

TEST_F(PciTest, SlotPathsThroughBridgesHierarchiesAndDomainsAndNeverTooDeep) {
  auto path = [](std::vector<sim::PciBridge> const& bridges, int32_t domain, uint16_t bus,
                 uint16_t device = 0, uint16_t function = 0) -> std::string {
    sim::clearPciBridges();
    for (auto const& bridge : bridges) sim::addPciBridge(bridge);
    Bench bench(makeFunction([&](Options& o) {
      std::tie(o.domain, o.bus, o.device, o.function) = std::tuple(domain, bus, device, function);
    }));
    return bench.make().slotPath();
  };
  EXPECT_EQ(path({}, 0, 5, 3, 7), "0000:00:1F");
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

  // Too many bridges leave the path empty, without halting or failing.
  sim::clearPciBridges();
  auto function = [] { return makeFunction([](Options& o) { o.bus = 200; }); };
  // 255 bridges above the device still fit, with the device's own byte.
  for (uint16_t i = 0; i < 255; ++i)
    sim::addPciBridge({.bus = i, .device = 1, .secondaryBus = 1, .subordinateBus = 255});
  std::string const full = Bench(function()).make().slotPath();
  EXPECT_EQ(full.size(), 7u + 3u * 256u);
  EXPECT_EQ(full.substr(full.size() - 6), ":08:00");

  sim::addPciBridge({.bus = 255, .device = 1, .secondaryBus = 1, .subordinateBus = 255});
  Bench bench(function());
  TestPCIDevice& device = bench.make();  // the status stays clean
  EXPECT_TRUE(sim::halts().empty());
  EXPECT_NE(sim::debugOutput().find("tPCIDevice"), std::string::npos);
  device.fillPCIProperties();
  EXPECT_STREQ(device.getBusProperties()[11]->text(), "");
}

// A piece the layer fails to format leaves the path empty, never a short or
// unreadable text, with the status of a string that cannot grow: the first
// piece at the assign, a later one at an append.
TEST_F(PciTest, AFailedFormatLeavesTheSlotPathEmptyWithAStatus) {
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 2, .subordinateBus = 2});
  Bench bench(makeFunction());
  tPCIDescription const description = describe(bench.function());
  struct Case {
    uint64_t failing;  // format call, 0 for none
    char const* path;
    int64_t code;
    uint64_t line;
  } const cases[] = {{0, "0000:00:E0:00", 0, 0},
                     {1, "", kStatusMemoryFull, 1641},
                     {2, "", kStatusMemoryFull, 1634},
                     {3, "", kStatusMemoryFull, 1634}};
  for (Case const& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.failing));
    tPCIDevice::tSlotPathString path;
    path.assign("stale", 5);
    tLongStatus status;
    if (c.failing != 0) sim::failNthCall("nQVZOR100_vsnPrintf", c.failing);
    tPCIDevice::buildPCISlotPath(path, description, status);
    sim::clearFaults();
    EXPECT_STREQ(path.c_str(), c.path);
    if (c.code != 0) expectSite(status, c.code, "tBasicString", c.line);
    EXPECT_EQ(status.head.code, c.code);
  }
}

TEST_F(PciTest, DmaMaskFallsBackTo32BitsAndRecordsWhatIsInForce) {
  using sim::DmaMaskPolicy;
  // Last: no restriction asked for, but only 32 bits set; 32 bits recorded.
  for (auto [policy, type, code, recorded, mask] :
       {std::tuple{DmaMaskPolicy::AcceptAny, 2u, 0l, 2u, ~uint64_t{0}},
        {DmaMaskPolicy::Only32Bit, 2u, 0l, 1u, 0xFFFFFFFFul},
        {DmaMaskPolicy::RefuseAll, 2u, kStatusBadArgument, 0u, 0ul},
        {DmaMaskPolicy::AcceptAny, 3u, 0l, 1u, 0xFFFFFFFFul}}) {
    SCOPED_TRACE(type);
    Bench bench(makeFunction([policy = policy](Options& o) { o.dmaMask = policy; }));
    TestPCIDevice& device = bench.make();
    tDMAConfiguration const& dma = device.dmaConfiguration();
    tLongStatus status;
    device.configureDMA(type, status);
    EXPECT_EQ(std::tuple(status.head.code, status.line), std::tuple(code, code ? 192u : 0u));
    EXPECT_EQ(std::tuple(dma.type(), dma.description() != nullptr, bench.function().dmaMask()),
              std::tuple(recorded, recorded != 0, mask));
  }
}

// A refused reservation leaves nothing to relinquish and no lock; a second
// one would overwrite the live one's record. A locked one given back with the
// plain relinquish leaves no lock to the next, and a device destroyed while
// reserved gives back the interrupt and its lock.
TEST_F(PciTest, InterruptsReachTheHandlerOnlyWhileReservedAndTheLockedOnesUnderTheLock) {
  uint64_t const locksBefore = sim::liveSpinLocks();
  Bench bench(makeFunction([](Options& o) { o.interrupt = 42; }));
  TestPCIDevice& device = bench.make();
  uint64_t const locks = sim::liveSpinLocks();
  CountingHandler handler;
  sim::enableCallLog(true);
  char const* const kReserve = "nQVZOR1400_reserveInterrupt";
  for (auto [refused, locked, code, file, line] :
       {std::tuple{kReserve, false, kStatusBadArgument, "tPCIDevice", 93u},
        {kReserve, true, kStatusBadArgument, "tPCIDevice", 93u},
        {"nQVZOR100_createSpinLock", true, kStatusMemoryFull, "synchronization", 1007u},
        {nullptr, false, kStatusNotSupported, "tPCIDevice", 87u}}) {
    tLongStatus status;
    if (refused != nullptr) {
      sim::failNthCall(refused, 1);
    } else {
      tStatus ok;
      device.reserveInterrupt(&handler, ok, 4);
    }
    CountingHandler other;
    if (locked) {
      EXPECT_EQ(device.reserveInterruptLocked(&other, status, 0), nullptr);
    } else {
      device.reserveInterrupt(&other, status, 0);
    }
    expectSite(status, code, file, line);
    EXPECT_EQ(sim::liveSpinLocks(), locks);
    if (refused != nullptr) device.relinquishInterrupt();
  }
  EXPECT_EQ(sim::callCount("nQVZOR100_relinquishInterrupt"), 0u);
  auto const reservations = sim::interruptReservations();
  ASSERT_EQ(reservations.size(), 1u);
  EXPECT_EQ(std::tuple(reservations[0].interruptNumber, reservations[0].flags),
            std::tuple(42u, 5u));
  EXPECT_TRUE(sim::fireInterrupt(42));
  handler.claim = false;
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(std::tuple(handler.calls, handler.spinLocksHeld), std::tuple(2, 0u));
  device.relinquishInterrupt();
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(handler.calls, 2);
  device.relinquishInterrupt();  // nothing left to give back

  tStatus status;
  tInterruptSpinLock* lock = device.reserveInterruptLocked(&handler, status, 0);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(sim::liveSpinLocks(), locks + 1);
  sim::fireInterrupt(42);
  EXPECT_EQ(handler.spinLocksHeld, 1u);
  device.releaseInterruptLocked(lock);
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_EQ(sim::liveSpinLocks(), locks);
  ASSERT_NE(device.reserveInterruptLocked(&handler, status, 0), nullptr);
  device.relinquishInterrupt();
  ASSERT_NE(device.reserveInterruptLocked(&handler, status, 0), nullptr);
  EXPECT_EQ(sim::liveSpinLocks(), locks + 1);
  bench.remove();
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(sim::liveSpinLocks(), locksBefore);
}

}  // namespace
