// The PCI device over the simulated bus: its description, the capability
// search and link fields, the bus properties, the slot path, BAR mappings,
// the DMA mask and the interrupt.
#include "platform/pciDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "pciTestDevice.h"
#include "platform/statusCodes.h"

namespace {

using namespace pcitest;
using nQVWENDS100::tLongStatus;

void expectSite(tLongStatus const& status, i64 code, char const* file, u64 line) {
  EXPECT_EQ(status.head.code, code);
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

sim::PciDeviceOptions plainOptions() {
  sim::PciDeviceOptions options;
  options.vendorID = 0xE4A2;
  options.deviceID = 0xB6B6;
  options.subsystemVendorID = 0xE4A2;
  options.subsystemID = 0x6BB4;
  options.revision = 3;
  options.bus = 2;
  options.resources = {{0x10000, kQVZORResourceMemory}};
  return options;
}

std::shared_ptr<sim::PciDevice> makeFunction(sim::PciDeviceOptions const& options) {
  return std::make_shared<sim::PciDevice>(options);
}

class PciTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::clearPciBridges();
    allocationsBefore_ = sim::liveAllocations();
  }
  void TearDown() override {
    sim::clearPciBridges();
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    EXPECT_EQ(sim::liveAllocations(), allocationsBefore_);
    sim::reset();
  }

  static std::vector<sim::PciAccess> configWrites() {
    std::vector<sim::PciAccess> writes;
    for (auto const& access : sim::pciAccessLog())
      if (access.kind == sim::PciAccess::Kind::ConfigWrite) writes.push_back(access);
    return writes;
  }

 private:
  uint64_t allocationsBefore_ = 0;
};

// ---- The description ------------------------------------------------------------

TEST_F(PciTest, ResourcesSortIntoTheFirstAndMemoryTablesAndBarZeroIsTheFirstMemoryResource) {
  sim::PciDeviceOptions options = plainOptions();
  options.resources = {{0x100, kQVZORResourceFirstTable},
                       {0x4000, kQVZORResourceMemory},
                       {0x8000, kQVZORResourceMemory}};
  options.interrupt = 42;
  options.numaNode = 1;
  Bench bench(makeFunction(options));
  TestPCIDevice& device = bench.make();
  tPCIDescription const& d = device.description();
  auto const& record = bench.function().record();

  EXPECT_EQ(d.kind, 1u);
  EXPECT_EQ(d.owner, reinterpret_cast<uintptr_t>(&device));
  EXPECT_EQ(device.identity(), &d.owner);
  EXPECT_EQ(d.kernelParent, bench.function().kernelParent());
  EXPECT_EQ(d.kernelDevice, record.deviceHandle);
  EXPECT_EQ(d.firstTableCount, 1u);
  EXPECT_EQ(d.firstTable[0].address, record.resources[0].address);
  EXPECT_EQ(d.firstTable[0].size, 0x100u);
  EXPECT_EQ(d.memoryCount, 2u);
  EXPECT_EQ(d.memoryTable[0].address, record.resources[1].address);
  EXPECT_EQ(d.memoryTable[1].address, record.resources[2].address);
  EXPECT_EQ(d.rawResources[2].sizeLow, 0x8000u);
  EXPECT_EQ(d.interruptNumber, 42u);
  EXPECT_EQ(d.interruptKind, 6u);
  EXPECT_EQ(d.numaNode, 1u);
  EXPECT_EQ(d.identity(), 0x6BB4E4A2B6B6E4A2ull);
  EXPECT_EQ(device.memoryResourceSize(0), 0x4000u);

  tStatus status;
  u64 const bar0 = device.mapBAR(0, status, 0);
  ASSERT_NE(bar0, 0u);
  nQVZOR100_memoryWrite32(bar0 + 0x10, 0xA5A5F00D);
  EXPECT_EQ(bench.function().bar(1).load(0x10, 4), 0xA5A5F00Du);
  device.unmapBAR(0, bar0, 0);
  EXPECT_EQ(sim::liveMappings(bench.function()), 0u);
}

TEST_F(PciTest, AFunctionWithoutInterruptHasNeitherNumberNorKind) {
  Bench bench(makeFunction(plainOptions()));
  tPCIDescription const& d = bench.make().description();
  EXPECT_EQ(d.interruptNumber, 0u);
  EXPECT_EQ(d.interruptKind, 0u);
}

// ---- Capability search and link fields ------------------------------------------------

TEST_F(PciTest, PciExpressThirdInTheListIsFoundWithoutProbing) {
  Bench bench(sim::Rm7Module().device());
  sim::enablePciAccessLog(true);
  TestPCIDevice& device = bench.make();
  tStatus status;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, device.description(), status), 0x58u);
  EXPECT_EQ(status.code, 0);
  EXPECT_TRUE(configWrites().empty());
  EXPECT_EQ(device.description().linkWidth, 4u);
  EXPECT_EQ(device.description().linkSpeed, 2u);
}

TEST_F(PciTest, LinkStatus0x1042GivesSpeed2Width4AndTheMaximaComeFromLinkCapabilities) {
  auto function = makeFunction(plainOptions());
  sim::addPciExpressCapability(function->config(),
                               {.maxSpeed = 3, .maxWidth = 8, .speed = 2, .width = 4});
  Bench bench(function);
  tPCIDescription const& d = bench.make().description();
  EXPECT_EQ(d.maxLinkSpeed, 3u);
  EXPECT_EQ(d.maxLinkWidth, 8u);
  EXPECT_EQ(d.linkSpeed, 2u);
  EXPECT_EQ(d.linkWidth, 4u);
}

TEST_F(PciTest, WithoutPciExpressTheProbeWritesOffsetZeroReadsByte15AndReportsAbsent) {
  auto function = makeFunction(plainOptions());
  sim::addPowerManagementCapability(function->config());
  function->config().set(15, 1, 0x0F);  // 0x3C: below the capability area
  Bench bench(function);
  TestPCIDevice& device = bench.make();
  sim::enablePciAccessLog(true);

  tLongStatus status;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, device.description(), status), 0u);
  expectSite(status, kStatusNotAvailable, "tPCIDevice", 147);
  auto const writes = configWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].offset, 0u);
  EXPECT_EQ(writes[0].value, 0x5A5Au);
  auto const log = sim::pciAccessLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().offset, 15u);
  EXPECT_EQ(log.back().width, 1u);

  // Any other ID does not probe.
  sim::clearPciAccessLog();
  tLongStatus other;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x05, device.description(), other), 0u);
  expectSite(other, kStatusNotAvailable, "tPCIDevice", 147);
  EXPECT_TRUE(configWrites().empty());
}

TEST_F(PciTest, TheProbeFindsACapabilityThatByte15PointsAt) {
  auto function = makeFunction(plainOptions());
  sim::ConfigSpace& config = function->config();
  sim::addPowerManagementCapability(config);
  config.set(15, 1, 0x18);  // 0x18 * 4 = 0x60
  config.set(0x60, 1, 0x10);
  config.set(0x60 + 12, 2, 0x0042);  // maximum speed 2, width 4
  config.set(0x60 + 18, 2, 0x0021);  // speed 1, width 2
  Bench bench(function);
  TestPCIDevice& device = bench.make();
  tStatus status;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, device.description(), status), 0x60u);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(device.description().linkWidth, 2u);
  EXPECT_EQ(device.description().maxLinkWidth, 4u);
}

TEST_F(PciTest, ALoopingCapabilityListEndsAsAbsent) {
  auto function = makeFunction(plainOptions());
  sim::ConfigSpace& config = function->config();
  config.set(0x06, 2, 0x0010);
  config.set(0x34, 1, 0x40);
  config.set(0x40, 2, 0x5001);  // PM, next 0x50
  config.set(0x50, 2, 0x4005);  // MSI, next 0x40 again
  Bench bench(function);
  TestPCIDevice& device = bench.make();
  EXPECT_EQ(device.description().linkWidth, 0u);

  tLongStatus status;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, device.description(), status), 0u);
  expectSite(status, kStatusNotAvailable, "tPCIDevice", 147);
  tStatus found;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x05, device.description(), found), 0x50u);
}

TEST_F(PciTest, ConfigurationFailuresReportTheirAccessSites) {
  Bench bench(sim::Rm7Module().device());
  tPCIDescription const& d = bench.make().description();
  struct Case {
    char const* import;
    uint64_t n;
    u64 line;
  } const cases[] = {
      {"nQVZOR100_pciConfigRead16", 1, 378},  // status register
      {"nQVZOR100_pciConfigRead8", 1, 313},   // capability pointer
      {"nQVZOR100_pciConfigRead16", 3, 378},  // inside the list
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(std::string(c.import) + " call " + std::to_string(c.n));
    sim::clearFaults();
    sim::failNthCall(c.import, c.n);
    tLongStatus status;
    EXPECT_EQ(tPCIDevice::findPCICapability(0x10, d, status), 0u);
    expectSite(status, kStatusLayerFailure, "pciconfig", c.line);
  }

  // A list that leads to an offset the bus refuses is cut there.
  auto function = makeFunction(plainOptions());
  function->config().set(0x06, 2, 0x0010);
  function->config().set(0x34, 1, 0x40);
  function->config().set(0x40, 2, 0x4301);  // next at an odd offset
  sim::clearFaults();
  Bench truncated(function);
  tLongStatus status;
  EXPECT_EQ(tPCIDevice::findPCICapability(0x10, truncated.make().description(), status), 0u);
  expectSite(status, kStatusLayerFailure, "pciconfig", 378);
}

TEST_F(PciTest, AFailedLinkReadFailsInitializationWithBothFieldsZero) {
  Bench bench(sim::Rm7Module().device());
  // Status, pointer (8-bit), three capability headers, link capabilities.
  sim::failNthCall("nQVZOR100_pciConfigRead16", 5);
  tLongStatus status;
  TestPCIDevice& device = bench.make(status);
  expectSite(status, kStatusLayerFailure, "pciconfig", 378);
  EXPECT_EQ(device.description().maxLinkWidth, 0u);
  EXPECT_EQ(device.description().maxLinkSpeed, 0u);
  EXPECT_EQ(device.description().linkWidth, 0u);
}

// ---- Bus properties --------------------------------------------------------------------

struct Expected {
  char const* name;
  u64 type;
  u32 value;
};

void expectProperties(tPropertyList list, std::vector<Expected> const& expected) {
  size_t i = 0;
  for (; list[i] != nullptr; ++i) {
    ASSERT_LT(i, expected.size());
    SCOPED_TRACE(expected[i].name);
    EXPECT_STREQ(list[i]->name, expected[i].name);
    EXPECT_EQ(list[i]->type, expected[i].type);
    EXPECT_EQ(list[i]->handle, 0u);
    if (expected[i].type != 85) {
      EXPECT_EQ(list[i]->value32(), expected[i].value);
    }
  }
  EXPECT_EQ(i, expected.size());
}

TEST_F(PciTest, APciExpressModulePublishesSixteenProperties) {
  sim::Rm7ModuleOptions options;
  options.numaNode = 1;
  options.device = 1;
  options.function = 2;
  sim::Rm7Module module(options);
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 3, .subordinateBus = 3});
  Bench bench(module.device());
  TestPCIDevice& device = bench.make();
  device.fillPCIProperties();
  tPropertyList list = device.getBusProperties();
  expectProperties(list, {
                             {"busType", 51, 0x20706369},
                             {"busSubType", 51, 0x70636965},
                             {"pciBusNumber", 51, 3},
                             {"pciDeviceNumber", 51, 1},
                             {"pciFunctionNumber", 51, 2},
                             {"pciVendorID", 51, 0xE4A2},
                             {"pciDeviceID", 51, 0xB6B6},
                             {"pciSubsystemVendorID", 51, 0xE4A2},
                             {"pciSubsystemID", 51, 0x6BB1},
                             {"pciRevision", 51, 1},
                             {"numaNode", 50, 1},
                             {"pciSlotPath", 85, 0},
                             {"pcieMaxLinkWidth", 51, 4},
                             {"pcieLinkWidth", 51, 4},
                             {"pcieMaxTransferRate", 51, 2},
                             {"pcieTransferRate", 51, 2},
                         });
  EXPECT_STREQ(list[11]->text(), "0000:00:E0:0A");
}

TEST_F(PciTest, AConventionalDevicePublishesTwelveAndItsStatusStaysClean) {
  sim::PciDeviceOptions options = plainOptions();
  options.numaNode = 0xFFFFFFFF;
  auto function = makeFunction(options);
  sim::addPowerManagementCapability(function->config());
  Bench bench(function);
  tStatus status;
  TestPCIDevice& device = bench.make(status);
  EXPECT_EQ(status.code, 0);
  device.fillPCIProperties();
  tPropertyList list = device.getBusProperties();
  expectProperties(list, {
                             {"busType", 51, 0x20706369},
                             {"busSubType", 51, 0x20706369},
                             {"pciBusNumber", 51, 2},
                             {"pciDeviceNumber", 51, 0},
                             {"pciFunctionNumber", 51, 0},
                             {"pciVendorID", 51, 0xE4A2},
                             {"pciDeviceID", 51, 0xB6B6},
                             {"pciSubsystemVendorID", 51, 0xE4A2},
                             {"pciSubsystemID", 51, 0x6BB4},
                             {"pciRevision", 51, 3},
                             {"numaNode", 50, 0xFFFFFFFF},
                             {"pciSlotPath", 85, 0},
                         });
  EXPECT_STREQ(list[11]->text(), "0000:00:00");
}

// ---- Slot path ---------------------------------------------------------------------------

std::string slotPathOf(sim::PciDeviceOptions const& options) {
  Bench bench(makeFunction(options));
  return bench.make().slotPath();
}

TEST_F(PciTest, SlotPathsThroughNoneOneAndTwoBridges) {
  sim::PciDeviceOptions options = plainOptions();
  options.bus = 5;
  options.device = 3;
  options.function = 7;
  EXPECT_EQ(slotPathOf(options), "0000:00:1F");

  options = plainOptions();  // bus 2, device 0, function 0
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 2, .subordinateBus = 2});
  EXPECT_EQ(slotPathOf(options), "0000:00:E0:00");

  sim::clearPciBridges();
  sim::addPciBridge(
      {.bus = 0, .device = 0x1C, .function = 4, .secondaryBus = 1, .subordinateBus = 2});
  sim::addPciBridge({.bus = 1, .device = 0, .secondaryBus = 2, .subordinateBus = 2});
  // A bridge below the device's bus is no part of its path.
  sim::addPciBridge({.bus = 2, .device = 0x1F, .secondaryBus = 3, .subordinateBus = 3});
  EXPECT_EQ(slotPathOf(options), "0000:00:E4:00:00");
}

TEST_F(PciTest, ASecondHierarchyAndOtherDomainsCountOnlyInTheirOwnDomain) {
  sim::addPciBridge({.bus = 0, .device = 1, .secondaryBus = 1, .subordinateBus = 4});
  sim::addPciBridge(
      {.domain = 1, .bus = 0, .device = 7, .secondaryBus = 0x21, .subordinateBus = 0x21});
  sim::addPciBridge({.bus = 0x20, .device = 2, .secondaryBus = 0x21, .subordinateBus = 0x21});
  sim::PciDeviceOptions options = plainOptions();
  options.bus = 0x21;
  EXPECT_EQ(slotPathOf(options), "0000:01:10:00");

  options.domain = 1;
  EXPECT_EQ(slotPathOf(options), "0001:00:38:00");

  options.domain = -1;  // unknown: taken as domain 0
  EXPECT_EQ(slotPathOf(options), "0000:01:10:00");
}

TEST_F(PciTest, TooManyBridgesLeaveTheSlotPathEmptyWithoutHaltingOrFailing) {
  sim::PciDeviceOptions options = plainOptions();
  options.bus = 200;
  // 255 bridges above the device still fit, with the device's own byte.
  for (uint16_t i = 0; i < 255; ++i)
    sim::addPciBridge({.bus = i, .device = 1, .secondaryBus = 1, .subordinateBus = 255});
  std::string const full = slotPathOf(options);
  EXPECT_EQ(full.size(), 7u + 3u * 256u);
  EXPECT_EQ(full.substr(full.size() - 6), ":08:00");

  sim::addPciBridge({.bus = 255, .device = 1, .secondaryBus = 1, .subordinateBus = 255});
  sim::clearDebugOutput();
  Bench bench(makeFunction(options));
  tStatus status;
  TestPCIDevice& device = bench.make(status);
  EXPECT_EQ(status.code, 0);
  EXPECT_TRUE(sim::halts().empty());
  EXPECT_STREQ(device.slotPath(), "");
  EXPECT_NE(sim::debugOutput().find("tPCIDevice"), std::string::npos);
  device.fillPCIProperties();
  EXPECT_STREQ(device.getBusProperties()[11]->text(), "");
}

TEST_F(PciTest, SlotPathAllocationFailuresReportTheStringSites) {
  sim::addPciBridge({.bus = 0, .device = 0x1C, .secondaryBus = 2, .subordinateBus = 2});
  auto function = makeFunction(plainOptions());
  Bench bench(function);
  tPCIDescription const description = describe(*function);
  struct Case {
    uint64_t n;
    u64 line;
    char const* left;
  } const cases[] = {{1, 1641, ""}, {2, 1634, "0000:00"}};
  for (Case const& c : cases) {
    sim::clearFaults();
    sim::failNthCall("nQVZOR100_malloc", c.n);
    tPCIDevice::tSlotPathString path;
    tLongStatus status;
    tPCIDevice::buildPCISlotPath(path, description, status);
    expectSite(status, kStatusMemoryFull, "tBasicString", c.line);
    EXPECT_STREQ(path.c_str(), c.left);
  }
  // A status that failed before leaves the path empty.
  sim::clearFaults();
  tPCIDevice::tSlotPathString path;
  tStatus failed{tStatus::kShortSize, kStatusBadArgument};
  tPCIDevice::buildPCISlotPath(path, description, failed);
  EXPECT_STREQ(path.c_str(), "");
}

// ---- BARs ----------------------------------------------------------------------------

TEST_F(PciTest, MapBarRefusesNumbersBeyondTheMemoryTableWithoutAskingTheLayer) {
  Bench bench(makeFunction(plainOptions()));
  TestPCIDevice& device = bench.make();
  sim::enableCallLog(true);
  for (u8 bar : {u8{1}, u8{6}, u8{255}}) {
    tLongStatus status;
    EXPECT_EQ(device.mapBAR(bar, status, 0), 0u);
    expectSite(status, kStatusBadArgument, "tPCIDevice", 206);
  }
  EXPECT_EQ(sim::callCount("nQVZOR230_mapPhysicalToKernel"), 0u);
}

TEST_F(PciTest, MapBarReportsARefusedMappingAndUnmapSkipsAddressZero) {
  Bench bench(makeFunction(plainOptions()));
  TestPCIDevice& device = bench.make();
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  tLongStatus status;
  u64 const address = device.mapBAR(0, status, 0);
  EXPECT_EQ(address, 0u);
  expectSite(status, kStatusMemoryFull, "tPCIDevice", 212);
  sim::enableCallLog(true);
  device.unmapBAR(0, address, 0);
  EXPECT_EQ(sim::callCount("nQVZOR230_unmapPhysicalFromKernel"), 0u);

  // Every mapping made is undone by its unmap, cached or not.
  tStatus clean;
  u64 const a = device.mapBAR(0, clean, 0);
  u64 const b = device.mapBAR(0, clean, 1);
  ASSERT_EQ(clean.code, 0);
  EXPECT_EQ(sim::liveMappings(bench.function()), 2u);
  device.unmapBAR(0, a, 0);
  device.unmapBAR(0, b, 1);
  EXPECT_EQ(sim::liveMappings(bench.function()), 0u);
}

// ---- DMA ----------------------------------------------------------------------------------

TEST_F(PciTest, DmaMaskFallsBackTo32BitsAndRecordsWhatIsInForce) {
  struct Case {
    sim::DmaMaskPolicy policy;
    u32 type;
    u32 recorded;
    uint64_t mask;
  } const cases[] = {
      {sim::DmaMaskPolicy::AcceptAny, 2, 2, ~uint64_t{0}},
      {sim::DmaMaskPolicy::Only32Bit, 2, 1, 0xFFFFFFFF},
      {sim::DmaMaskPolicy::AcceptAny, 1, 1, 0xFFFFFFFF},
      // Asking for no restriction without the 64-bit try leaves 32 bits.
      {sim::DmaMaskPolicy::AcceptAny, 3, 1, 0xFFFFFFFF},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.type);
    sim::PciDeviceOptions options = plainOptions();
    options.dmaMask = c.policy;
    Bench bench(makeFunction(options));
    TestPCIDevice& device = bench.make();
    tStatus status;
    device.configureDMA(c.type, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(device.dmaConfiguration().type(), c.recorded);
    EXPECT_EQ(device.dmaConfiguration().description(), &device.description());
    EXPECT_EQ(bench.function().dmaMask(), c.mask);
  }
}

TEST_F(PciTest, ARefusedDmaMaskIsTranslatedAndNothingRecorded) {
  sim::PciDeviceOptions options = plainOptions();
  options.dmaMask = sim::DmaMaskPolicy::RefuseAll;
  options.dmaRefusalCode = -51009;
  Bench bench(makeFunction(options));
  TestPCIDevice& device = bench.make();
  tLongStatus status;
  device.configureDMA(2, status);
  expectSite(status, kStatusBadArgument, "tPCIDevice", 192);
  EXPECT_EQ(device.dmaConfiguration().type(), 0u);
  EXPECT_EQ(device.dmaConfiguration().description(), nullptr);
}

// ---- Interrupts ---------------------------------------------------------------------------

class InterruptTest : public PciTest {
 protected:
  void SetUp() override {
    PciTest::SetUp();
    sim::PciDeviceOptions options = plainOptions();
    options.interrupt = 42;
    bench_ = std::make_unique<Bench>(makeFunction(options));
    device_ = &bench_->make();
    locksWithDevice_ = sim::liveSpinLocks();
  }
  void TearDown() override {
    bench_.reset();
    EXPECT_TRUE(sim::interruptReservations().empty());
    EXPECT_EQ(sim::liveSpinLocks(), spinLocksAtStart_);
    PciTest::TearDown();
  }
  std::unique_ptr<Bench> bench_;
  TestPCIDevice* device_ = nullptr;
  CountingHandler handler_;
  uint64_t spinLocksAtStart_ = sim::liveSpinLocks();
  uint64_t locksWithDevice_ = 0;
};

TEST_F(InterruptTest, AReservedInterruptReachesTheHandlerUntilRelinquished) {
  tStatus status;
  device_->reserveInterrupt(&handler_, status, 4);
  ASSERT_EQ(status.code, 0);
  auto const reservations = sim::interruptReservations();
  ASSERT_EQ(reservations.size(), 1u);
  EXPECT_EQ(reservations[0].interruptNumber, 42u);
  EXPECT_EQ(reservations[0].flags, 5u);
  EXPECT_EQ(reservations[0].driverName, "qvrm7_driver");

  EXPECT_TRUE(sim::fireInterrupt(42));
  handler_.claim = false;
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.calls, 2);
  EXPECT_EQ(handler_.spinLocksHeld, 0u);

  device_->relinquishInterrupt();
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.calls, 2);
  device_->relinquishInterrupt();  // nothing left to give back
}

TEST_F(InterruptTest, TheLockedVariantRunsTheHandlerUnderTheInterruptLock) {
  tStatus status;
  tInterruptSpinLock* lock = device_->reserveInterruptLocked(&handler_, status, 0);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(sim::liveSpinLocks(), locksWithDevice_ + 1);
  EXPECT_TRUE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.spinLocksHeld, 1u);
  device_->releaseInterruptLocked(lock);
  EXPECT_EQ(lock->handle, 0u);
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_EQ(sim::liveSpinLocks(), locksWithDevice_);
  device_->releaseInterruptLocked(nullptr);
}

TEST_F(InterruptTest, ARefusedReservationLeavesNothingToRelinquishAndNoLock) {
  sim::failNthCall("nQVZOR1400_reserveInterrupt", 1);
  tLongStatus status;
  device_->reserveInterrupt(&handler_, status, 0);
  expectSite(status, kStatusBadArgument, "tPCIDevice", 93);
  EXPECT_FALSE(device_->interruptReserved());
  sim::enableCallLog(true);
  device_->relinquishInterrupt();
  EXPECT_EQ(sim::callCount("nQVZOR100_relinquishInterrupt"), 0u);

  sim::failNthCall("nQVZOR1400_reserveInterrupt", 1);
  tLongStatus locked;
  EXPECT_EQ(device_->reserveInterruptLocked(&handler_, locked, 0), nullptr);
  expectSite(locked, kStatusBadArgument, "tPCIDevice", 93);
  EXPECT_EQ(sim::liveSpinLocks(), locksWithDevice_);

  sim::failNthCall("nQVZOR100_createSpinLock", 1);
  tLongStatus noLock;
  EXPECT_EQ(device_->reserveInterruptLocked(&handler_, noLock, 0), nullptr);
  expectSite(noLock, kStatusMemoryFull, "synchronization", 1007);
  EXPECT_EQ(sim::callCount("nQVZOR1400_reserveInterrupt"), 1u);

  // After all that, a reservation still works.
  tStatus clean;
  device_->reserveInterrupt(&handler_, clean, 0);
  EXPECT_EQ(clean.code, 0);
  EXPECT_TRUE(sim::fireInterrupt(42));
  device_->relinquishInterrupt();
}

TEST_F(InterruptTest, ASecondReservationIsRefusedAndTheFirstStaysLive) {
  tStatus status;
  device_->reserveInterrupt(&handler_, status, 0);
  CountingHandler other;
  tLongStatus second;
  device_->reserveInterrupt(&other, second, 0);
  expectSite(second, kStatusNotSupported, "tPCIDevice", 87);
  tLongStatus locked;
  EXPECT_EQ(device_->reserveInterruptLocked(&other, locked, 0), nullptr);
  expectSite(locked, kStatusNotSupported, "tPCIDevice", 87);
  EXPECT_TRUE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.calls, 1);
  EXPECT_EQ(other.calls, 0);
  device_->relinquishInterrupt();
}

TEST_F(InterruptTest, DestroyingADeviceRelinquishesItsInterrupt) {
  tStatus status;
  EXPECT_NE(device_->reserveInterruptLocked(&handler_, status, 0), nullptr);
  bench_->remove();
  EXPECT_TRUE(sim::interruptReservations().empty());
  EXPECT_FALSE(sim::fireInterrupt(42));
  EXPECT_EQ(handler_.calls, 0);
}

TEST_F(PciTest, ADeviceWithoutInterruptReservesNone) {
  Bench bench(makeFunction(plainOptions()));
  TestPCIDevice& device = bench.make();
  CountingHandler handler;
  tLongStatus status;
  device.reserveInterrupt(&handler, status, 0);
  expectSite(status, kStatusNotSupported, "tPCIDevice", 89);
  EXPECT_TRUE(sim::interruptReservations().empty());
}

}  // namespace
