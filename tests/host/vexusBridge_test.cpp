// The bridge chip's window into its internal space, and the RM7 module's
// geographic-address register.
#include "host/layer/vexusBridge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"

namespace {

using sim::Rm7Module;
using sim::VexusBridge;

// The driver's accessor tests read through this window; these show that a
// reader that forgets to open or place it does not get the chip's words.
TEST(VexusBridgeTest, OnlyAnOpenWindowShowsTheInternalSpaceWhereTheContextPutsIt) {
  sim::reset();
  sim::PciDeviceOptions options;
  options.resources = {{0x40000, kQVZORResourceMemory}};
  auto device = std::make_shared<sim::PciDevice>(options);
  ASSERT_EQ(sim::plugIn(device), 0);
  sim::Bar& memory = device->bar(0);
  // Window at BAR offset 0x20000, 4 KiB (mask with bits 12 to 31 set), closed.
  auto bridge = std::make_unique<VexusBridge>(device->sharedBar(0), 0x0002000C);
  uint64_t const at = nQVZOR230_mapPhysicalToKernel(memory.physicalAddress(), memory.size(), 0);
  auto read32 = [at](uint64_t offset) { return nQVZOR100_memoryRead32(at + offset); };
  auto write32 = [at](uint64_t offset, uint32_t value) {
    nQVZOR100_memoryWrite32(at + offset, value);
  };
  bridge->chipWrite(0x1234, 4, 0xFEEDC0DE);
  bridge->chipWrite(0x3004, 4, 0xABCD0123);
  memory.store(0x20004, 4, 0x11111111);
  EXPECT_EQ(read32(0x20234), 0xFFFFFFFFu);

  write32(VexusBridge::kContextRegister, 0x0002008C);
  write32(VexusBridge::kWindowRegister, 0x1FFF);  // low bits are not address bits
  EXPECT_EQ(read32(0x20234), 0xFEEDC0DEu);
  EXPECT_EQ(nQVZOR100_memoryRead16(at + 0x20236), 0xFEEDu);
  nQVZOR100_memoryWrite8(at + 0x20010, 0x7E);
  EXPECT_EQ(bridge->chipRead(0x1010, 4), 0x7Eu);
  EXPECT_EQ(memory.load(0x20010, 4), 0u);

  write32(VexusBridge::kWindowRegister, 0);
  write32(VexusBridge::kContextRegister, 0x000300F0);  // 0x30000, 64 KiB, open; bits 5-6 drop
  EXPECT_EQ(bridge->context(), 0x00030090u);
  EXPECT_EQ(read32(0x20004), 0x11111111u);  // the old place is memory again
  EXPECT_EQ(read32(0x33004), 0xABCD0123u);
  write32(VexusBridge::kContextRegister, 0x7F000090);  // beyond the BAR: decodes nowhere
  EXPECT_EQ(read32(0x33004), 0u);
  EXPECT_EQ(read32(VexusBridge::kContextRegister), 0x7F000090u);

  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  bridge.reset();
  sim::unplug(*device);
}

// A reader that picks the wrong width or shift must see something else.
TEST(Rm7ModuleTest, TheGeographicAddressKeepsTheRegistersOtherBits) {
  sim::reset();
  Rm7Module module;
  EXPECT_EQ(module.geographicAddress(), 2u);
  for (uint32_t slot : {0u, 9u, 31u}) {
    module.setGeographicAddress(slot);
    EXPECT_EQ(module.geographicAddress(), slot);
    uint32_t const raw = module.bridge().chipRead(Rm7Module::kGeographicAddressRegister, 4);
    EXPECT_EQ(raw & ~(31u << 8), Rm7Module::kGeographicAddressNoise & ~(31u << 8));
    EXPECT_NE(raw & 31, slot);
    EXPECT_NE((raw >> 8) & 0x3F, slot);
  }
}

}  // namespace
