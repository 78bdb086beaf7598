// Kernel mappings of BAR memory and register access through them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "host/layer/control.h"
#include "host/layer/pci.h"

namespace {

class MappingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::PciDeviceOptions options;
    options.resources = {{0x4000, kQVZORResourceMemory}};
    device_ = std::make_shared<sim::PciDevice>(options);
    ASSERT_EQ(sim::plugIn(device_), 0);
  }
  void TearDown() override {
    sim::unplug(*device_);
    sim::reset();
  }
  uint64_t map(uint64_t offset, uint64_t length) {
    return nQVZOR230_mapPhysicalToKernel(bar().physicalAddress() + offset, length, 0);
  }
  sim::Bar& bar() { return device_->bar(0); }
  std::shared_ptr<sim::PciDevice> device_;
};

TEST_F(MappingTest, TwoMappingsOfOneRangeAreDifferentAddressesOverTheSameBytes) {
  uint64_t const a = map(0, bar().size());
  uint64_t const b = map(0, bar().size());
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
  EXPECT_EQ(bar().load64(0x460), 0x0123456789ABCDEFull);

  nQVZOR230_unmapPhysicalFromKernel(a, 0);
  EXPECT_EQ(nQVZOR100_memoryRead8(b + 0x463), 0x89u);
  nQVZOR230_unmapPhysicalFromKernel(b, 0);
  EXPECT_EQ(sim::liveMappings(), 0u);
}

TEST_F(MappingTest, OnlyRangesInsideDeviceMemoryOnTheBusAreMapped) {
  EXPECT_EQ(map(0, 0), 0u);
  EXPECT_EQ(map(0x3000, 0x1001), 0u);  // crosses the end
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(bar().physicalAddress() - 0x1000, 0x2000, 0), 0u);
  EXPECT_EQ(map(0x1000, UINT64_MAX), 0u);
  sim::PciDeviceOptions options;
  options.resources = {{0x1000, kQVZORResourceMemory}};
  sim::PciDevice offTheBus(options);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(offTheBus.bar(0).physicalAddress(), 0x1000, 0), 0u);
  EXPECT_EQ(sim::liveMappings(), 0u);
}

using MappingDeathTest = MappingTest;

TEST_F(MappingDeathTest, UnmappingAnAddressNeverMappedDies) {
  uint64_t const at = map(0, 0x1000);
  ASSERT_NE(at, 0u);
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(at + 4, 0), "not a live kernel mapping");
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(0x1000, 0), "not a live kernel mapping");
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(at, 0), "not a live kernel mapping");
}

TEST_F(MappingDeathTest, RegisterAccessOutsideEveryMappingDies) {
  uint64_t const at = map(0, 0x1000);
  ASSERT_NE(at, 0u);
  EXPECT_DEATH(nQVZOR100_memoryRead32(at + 0xFFE), "no live kernel mapping holds");
  EXPECT_DEATH(nQVZOR100_memoryWrite8(at + 0x1000, 1), "no live kernel mapping holds");
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  EXPECT_DEATH(nQVZOR100_memoryRead32(at), "no live kernel mapping holds");
}

}  // namespace
