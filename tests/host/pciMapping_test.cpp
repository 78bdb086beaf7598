// Kernel mappings of BAR memory and register access through them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "host/layer/control.h"
#include "host/layer/pci.h"

namespace {

std::shared_ptr<sim::PciDevice> plugged(std::vector<sim::PciResource> resources) {
  sim::PciDeviceOptions options;
  options.vendorID = 0x1234;
  options.resources = std::move(resources);
  auto device = std::make_shared<sim::PciDevice>(options);
  EXPECT_EQ(sim::plugIn(device), 0);
  return device;
}

class MappingTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override {
    sim::unplug(*device_);
    sim::reset();
  }
  std::shared_ptr<sim::PciDevice> device_ = plugged({{0x4000, kQVZORResourceMemory}});
  sim::Bar& bar_ = device_->bar(0);
};

// ---- Aliasing --------------------------------------------------------------------

TEST_F(MappingTest, TwoMappingsOfOneRangeAreDifferentAddressesOverTheSameBytes) {
  uint64_t const a = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), bar_.size(), 0);
  uint64_t const b = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), bar_.size(), 0);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);

  nQVZOR100_memoryWrite32(a + 0x100, 0xCAFEF00D);
  EXPECT_EQ(nQVZOR100_memoryRead32(b + 0x100), 0xCAFEF00Du);

  // The driver's plain 64-bit store, seen by register reads and the layer.
  *reinterpret_cast<uint64_t volatile*>(a + 0x460) = 0x0123456789ABCDEFull;
  EXPECT_EQ(nQVZOR100_memoryRead32(b + 0x460), 0x89ABCDEFu);
  EXPECT_EQ(nQVZOR100_memoryRead32(b + 0x464), 0x01234567u);
  EXPECT_EQ(*reinterpret_cast<uint64_t volatile*>(b + 0x460), 0x0123456789ABCDEFull);
  EXPECT_EQ(bar_.load64(0x460), 0x0123456789ABCDEFull);

  nQVZOR230_unmapPhysicalFromKernel(a, 0);
  EXPECT_EQ(nQVZOR100_memoryRead8(b + 0x463), 0x89u);
  nQVZOR230_unmapPhysicalFromKernel(b, 0);
  EXPECT_EQ(sim::liveMappings(), 0u);
}

TEST_F(MappingTest, ASubRangeMapsAtItsOffsetEvenInsideAPage) {
  bar_.store(0x1234, 4, 0x11223344);
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress() + 0x1230, 0x10, 2);
  ASSERT_NE(at, 0u);
  EXPECT_EQ(nQVZOR100_memoryRead32(at + 4), 0x11223344u);
  EXPECT_EQ(nQVZOR100_memoryRead16(at + 6), 0x1122u);
  nQVZOR100_memoryWrite16(at + 8, 0xBEEF);
  EXPECT_EQ(bar_.load(0x1238, 2), 0xBEEFu);
  nQVZOR230_unmapPhysicalFromKernel(at, 2);
}

TEST_F(MappingTest, OnlyRangesInsideDeviceMemoryOnTheBusAreMapped) {
  uint64_t const base = bar_.physicalAddress();
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(base, 0, 0), 0u);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(base + 0x3000, 0x1001, 0), 0u);  // crosses the end
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(base - 0x1000, 0x2000, 0), 0u);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(base + 0x1000, UINT64_MAX, 0), 0u);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(0x1000, 0x1000, 0), 0u);

  sim::PciDeviceOptions options;
  options.resources = {{0x1000, kQVZORResourceMemory}};
  sim::PciDevice offTheBus(options);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(offTheBus.bar(0).physicalAddress(), 0x1000, 0), 0u);
  EXPECT_EQ(sim::liveMappings(), 0u);
}

TEST_F(MappingTest, AnInjectedFailureRefusesOneMappingAndLeavesNothing) {
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 2);
  uint64_t const first = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0), 0u);
  EXPECT_EQ(sim::liveMappings(), 1u);
  uint64_t const third = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);
  EXPECT_NE(third, 0u);
  nQVZOR230_unmapPhysicalFromKernel(first, 0);
  nQVZOR230_unmapPhysicalFromKernel(third, 0);

  sim::failEveryCall("nQVZOR230_mapPhysicalToKernel");
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0), 0u);
  EXPECT_EQ(sim::liveMappings(), 0u);
}

// ---- Stray addresses ---------------------------------------------------------------

using MappingDeathTest = MappingTest;

TEST_F(MappingDeathTest, UnmappingAnAddressNeverMappedDies) {
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);
  ASSERT_NE(at, 0u);
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(at + 4, 0), "not a live kernel mapping");
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(0x1000, 0), "not a live kernel mapping");
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(at, 0), "not a live kernel mapping");
}

TEST_F(MappingDeathTest, RegisterAccessOutsideEveryMappingDies) {
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);
  ASSERT_NE(at, 0u);
  EXPECT_DEATH(nQVZOR100_memoryRead32(at + 0xFFE), "no live kernel mapping holds");
  EXPECT_DEATH(nQVZOR100_memoryWrite8(at + 0x1000, 1), "no live kernel mapping holds");
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  EXPECT_DEATH(nQVZOR100_memoryRead32(at), "no live kernel mapping holds");
}

// ---- Register models -------------------------------------------------------------

TEST_F(MappingTest, AClaimedOffsetReachesItsModelAndTheRestStaysMemory) {
  uint32_t lastWrite = 0;
  unsigned lastWidth = 0;
  sim::RegisterHooks hooks;
  hooks.read = [](uint64_t offset, unsigned) -> uint32_t {
    return 0xA5000000u | static_cast<uint32_t>(offset);
  };
  hooks.write = [&](uint64_t, unsigned width, uint32_t value) {
    lastWrite = value;
    lastWidth = width;
  };
  uint64_t const claim = bar_.attach(0x200, 8, hooks);
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);

  EXPECT_EQ(nQVZOR100_memoryRead32(at + 0x204), 0xA5000204u);
  EXPECT_EQ(nQVZOR100_memoryRead8(at + 0x200), 0x00u);  // cut to the access's width
  nQVZOR100_memoryWrite16(at + 0x206, 0x1234);
  EXPECT_EQ(lastWrite, 0x1234u);
  EXPECT_EQ(lastWidth, 2u);
  EXPECT_EQ(bar_.load(0x204, 4), 0u);  // the model kept the write from memory

  nQVZOR100_memoryWrite32(at + 0x1FC, 7);  // just before the claim
  EXPECT_EQ(bar_.load(0x1FC, 4), 7u);

  bar_.detach(claim);
  EXPECT_EQ(nQVZOR100_memoryRead32(at + 0x204), 0u);
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
}

TEST_F(MappingTest, TheLatestClaimWinsAndAMissingDirectionIsMemory) {
  sim::RegisterHooks outer;
  outer.read = [](uint64_t, unsigned) -> uint32_t { return 1; };
  sim::RegisterHooks inner;
  inner.write = [](uint64_t, unsigned, uint32_t) {};
  bar_.attach(0x100, 0x100, outer);
  bar_.attach(0x180, 4, inner);
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);

  EXPECT_EQ(nQVZOR100_memoryRead32(at + 0x17C), 1u);
  bar_.store(0x180, 4, 99);
  EXPECT_EQ(nQVZOR100_memoryRead32(at + 0x180), 99u);  // inner claims reads for memory
  nQVZOR100_memoryWrite32(at + 0x180, 5);
  EXPECT_EQ(bar_.load(0x180, 4), 99u);
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
}

// ---- Observation and faults ------------------------------------------------------

TEST_F(MappingTest, TheAccessLogNamesDeviceResourceOffsetWidthAndValue) {
  auto second = plugged({{0x10, kQVZORResourceFirstTable}, {0x2000, kQVZORResourceMemory}});
  sim::Bar& other = second->bar(1);
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(other.physicalAddress() + 0x1000, 0x100, 0);
  other.store(0x1010, 4, 0x55);
  sim::enablePciAccessLog(true);
  nQVZOR100_memoryWrite8(at + 3, 0xAB);
  nQVZOR100_memoryRead32(at + 0x10);
  sim::enablePciAccessLog(false);
  nQVZOR100_memoryRead32(at + 0x10);

  auto const log = sim::pciAccessLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].kind, sim::PciAccess::Kind::MemoryWrite);
  EXPECT_EQ(log[0].deviceHandle, second->handle());
  EXPECT_EQ(log[0].resource, 1);
  EXPECT_EQ(log[0].offset, 0x1003u);
  EXPECT_EQ(log[0].width, 1u);
  EXPECT_EQ(log[0].value, 0xABu);
  EXPECT_EQ(log[1].kind, sim::PciAccess::Kind::MemoryRead);
  EXPECT_EQ(log[1].offset, 0x1010u);
  EXPECT_EQ(log[1].value, 0x55u);
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  sim::unplug(*second);
}

TEST_F(MappingTest, AFailedRegisterReadIsAllOnesAndAFailedWriteIsLost) {
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);
  sim::failNthCall("nQVZOR100_memoryRead16", 1);
  EXPECT_EQ(nQVZOR100_memoryRead16(at), 0xFFFFu);
  EXPECT_EQ(nQVZOR100_memoryRead16(at), 0u);
  sim::failNthCall("nQVZOR100_memoryWrite32", 1);
  nQVZOR100_memoryWrite32(at, 1);
  EXPECT_EQ(bar_.load(0, 4), 0u);
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
}

TEST_F(MappingTest, UnplugCountsTheMappingsTheDriverLeft) {
  auto other = plugged({{0x1000, kQVZORResourceMemory}});
  uint64_t const kept = nQVZOR230_mapPhysicalToKernel(bar_.physicalAddress(), 0x1000, 0);
  uint64_t const left = nQVZOR230_mapPhysicalToKernel(other->bar(0).physicalAddress(), 0x1000, 0);
  EXPECT_EQ(sim::liveMappings(*other), 1u);
  sim::UnplugReport const report = sim::unplug(*other);
  EXPECT_FALSE(report.wasBound);
  EXPECT_EQ(report.mappingsLeft, 1u);
  // A mapping left behind stays usable until it is unmapped.
  nQVZOR100_memoryWrite32(left, 3);
  EXPECT_EQ(nQVZOR100_memoryRead32(left), 3u);
  nQVZOR230_unmapPhysicalFromKernel(left, 0);
  nQVZOR230_unmapPhysicalFromKernel(kept, 0);
}

}  // namespace
