// The bridge chip's window and the ready-made RM7 module.
#include "host/layer/vexusBridge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"

namespace {

using sim::Rm7Module;
using sim::VexusBridge;

// A mapping of a whole BAR for the length of a test.
class Mapped {
 public:
  explicit Mapped(sim::Bar& bar)
      : at_(nQVZOR230_mapPhysicalToKernel(bar.physicalAddress(), bar.size(), 0)) {
    EXPECT_NE(at_, 0u);
  }
  ~Mapped() { nQVZOR230_unmapPhysicalFromKernel(at_, 0); }
  uint32_t read32(uint64_t offset) const { return nQVZOR100_memoryRead32(at_ + offset); }
  void write32(uint64_t offset, uint32_t value) const {
    nQVZOR100_memoryWrite32(at_ + offset, value);
  }
  uint64_t at() const { return at_; }

 private:
  uint64_t at_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::PciDeviceOptions options;
    options.resources = {{0x40000, kQVZORResourceMemory}};
    device_ = std::make_shared<sim::PciDevice>(options);
    sim::plugIn(device_);
    // Window at BAR offset 0x20000, 4 KiB (mask with bits 12 to 31 set), closed.
    bridge_ = std::make_unique<VexusBridge>(device_->sharedBar(0), 0x0002000C);
    bar_ = std::make_unique<Mapped>(device_->bar(0));
  }
  void TearDown() override {
    bar_.reset();
    bridge_.reset();
    sim::unplug(*device_);
    sim::reset();
  }
  std::shared_ptr<sim::PciDevice> device_;
  std::unique_ptr<VexusBridge> bridge_;
  std::unique_ptr<Mapped> bar_;
};

TEST_F(WindowTest, AnOpenWindowShowsTheInternalSpaceTheWindowRegisterSelects) {
  bridge_->chipWrite(0x1234, 4, 0xFEEDC0DE);
  bridge_->chipWrite(0x1238, 4, 0x0BADF00D);
  EXPECT_EQ(bar_->read32(VexusBridge::kContextRegister), 0x0002000Cu);
  bar_->write32(VexusBridge::kContextRegister, 0x0002008C);
  bar_->write32(VexusBridge::kWindowRegister, 0x1000);
  EXPECT_EQ(bar_->read32(VexusBridge::kWindowRegister), 0x1000u);
  EXPECT_EQ(bar_->read32(0x20234), 0xFEEDC0DEu);
  EXPECT_EQ(bar_->read32(0x20238), 0x0BADF00Du);
  EXPECT_EQ(nQVZOR100_memoryRead16(bar_->at() + 0x20236), 0xFEEDu);
  EXPECT_EQ(nQVZOR100_memoryRead8(bar_->at() + 0x20239), 0xF0u);

  // Low window bits are not address bits; writes reach the internal space.
  bar_->write32(VexusBridge::kWindowRegister, 0x1FFF);
  EXPECT_EQ(bar_->read32(0x20234), 0xFEEDC0DEu);
  nQVZOR100_memoryWrite8(bar_->at() + 0x20010, 0x7E);
  EXPECT_EQ(bridge_->chipRead(0x1010, 4), 0x7Eu);
  EXPECT_EQ(device_->bar(0).load(0x20010, 4), 0u);  // BAR memory itself is untouched
}

TEST_F(WindowTest, AClosedWindowDecodesNothing) {
  bridge_->chipWrite(0x10, 4, 0x12345678);
  EXPECT_EQ(bar_->read32(0x20010), 0xFFFFFFFFu);
  EXPECT_EQ(nQVZOR100_memoryRead8(bar_->at() + 0x20010), 0xFFu);
  bar_->write32(0x20010, 0);
  EXPECT_EQ(bridge_->chipRead(0x10, 4), 0x12345678u);
  bar_->write32(VexusBridge::kContextRegister, 0x0002008C);
  EXPECT_EQ(bar_->read32(0x20010), 0x12345678u);
}

TEST_F(WindowTest, TheContextRegisterMovesAndResizesTheWindow) {
  bridge_->chipWrite(0x3004, 4, 0xABCD0123);
  device_->bar(0).store(0x20004, 4, 0x11111111);
  bar_->write32(VexusBridge::kContextRegister, 0x000300F0);  // 0x30000, 64 KiB, open; bits 5-6 drop
  EXPECT_EQ(bridge_->context(), 0x00030090u);
  EXPECT_EQ(bar_->read32(0x20004), 0x11111111u);  // the old place is memory again
  EXPECT_EQ(bar_->read32(0x33004), 0xABCD0123u);

  // Sub-word writes change only their bytes.
  nQVZOR100_memoryWrite8(bar_->at() + VexusBridge::kContextRegister + 1, 0x00);
  EXPECT_EQ(bridge_->context(), 0x00030090u);
  nQVZOR100_memoryWrite16(bar_->at() + VexusBridge::kContextRegister + 2, 0x0001);
  EXPECT_EQ(bar_->read32(VexusBridge::kContextRegister), 0x00010090u);
  EXPECT_EQ(bar_->read32(0x13004), 0xABCD0123u);

  // A window beyond the BAR decodes nowhere; the registers still answer.
  bar_->write32(VexusBridge::kContextRegister, 0x7F000090);
  EXPECT_EQ(bar_->read32(0x13004), 0u);
  EXPECT_EQ(bar_->read32(VexusBridge::kContextRegister), 0x7F000090u);
}

TEST_F(WindowTest, TheInternalSpaceIsLittleEndianBytesThatWrap) {
  EXPECT_EQ(bridge_->chipRead(0x500, 4), 0u);
  bridge_->chipWrite(0xFFFFFFFE, 4, 0x44332211);
  EXPECT_EQ(bridge_->chipRead(0xFFFFFFFE, 2), 0x2211u);
  EXPECT_EQ(bridge_->chipRead(0, 2), 0x4433u);
  EXPECT_EQ(bridge_->chipRead(0xFFFFFFFF, 2), 0x3322u);
}

TEST_F(WindowTest, ARemovedBridgeLeavesPlainMemory) {
  bar_->write32(VexusBridge::kContextRegister, 0x0002008C);
  bridge_.reset();
  bar_->write32(VexusBridge::kContextRegister, 5);
  EXPECT_EQ(device_->bar(0).load(VexusBridge::kContextRegister, 4), 5u);
  EXPECT_EQ(bar_->read32(0x20010), 0u);
}

// ---- The RM7 module ----------------------------------------------------------

class Rm7ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }
};

TEST_F(Rm7ModuleTest, EverySupportedModelHasTheModuleIdentity) {
  for (uint16_t id : sim::kRm7SubsystemIDs) {
    Rm7Module module({.subsystemID = id});
    nQVZOR200_tPCIDeviceRecord const& r = module.device()->record();
    uint64_t const identity = uint64_t{r.vendorID} | uint64_t{r.deviceID} << 16 |
                              uint64_t{r.subsystemVendorID} << 32 | uint64_t{r.subsystemID} << 48;
    EXPECT_EQ(identity, 0xE4A2B6B6E4A2ull | uint64_t{id} << 48);
    EXPECT_EQ(r.resources[0].flags, uint32_t{kQVZORResourceMemory});
    EXPECT_EQ(r.resources[0].size, Rm7Module::kBar0Size);
    EXPECT_EQ(r.resources[1].size, 0u);
    EXPECT_EQ(r.interruptPresent, 1u);
    EXPECT_EQ(module.device()->config().get(0x2E, 2), id);
  }
}

TEST_F(Rm7ModuleTest, PciExpressIsTheThirdCapabilityWithAnX4Link) {
  Rm7Module module;
  sim::plugIn(module.device());
  uint64_t const h = module.device()->handle();
  uint8_t at = 0;
  uint16_t header = 0;
  std::vector<uint8_t> ids;
  ASSERT_EQ(nQVZOR100_pciConfigRead8(h, 0x34, &at), 0);
  while (at != 0 && ids.size() < 48) {
    ASSERT_EQ(nQVZOR100_pciConfigRead16(h, at, &header), 0);
    ids.push_back(header & 0xFF);
    if ((header & 0xFF) == 0x10) break;
    at = static_cast<uint8_t>(header >> 8);
  }
  EXPECT_EQ(ids, (std::vector<uint8_t>{0x01, 0x05, 0x10}));
  uint16_t link = 0;
  ASSERT_EQ(nQVZOR100_pciConfigRead16(h, at + 12u, &link), 0);
  EXPECT_EQ(link, 0x0042);
  ASSERT_EQ(nQVZOR100_pciConfigRead16(h, at + 18u, &link), 0);
  EXPECT_EQ(link, 0x1042);
  sim::unplug(*module.device());
}

// What the driver's capability reading does, through the imports only: open
// the window, walk the list from the directory, read the geographic address
// through the structure's descriptor, and put the chip's registers back.
struct Reading {
  std::vector<uint32_t> walked;  // structure offsets
  std::vector<uint32_t> ids;
  uint32_t geographicAddress = 0xFFFFFFFF;
};

Reading readThroughTheWindow(uint64_t base) {
  Reading out;
  uint32_t const savedContext = nQVZOR100_memoryRead32(base + 0xC0);
  uint32_t const savedWindow = nQVZOR100_memoryRead32(base + 0xE0);
  uint32_t const windowOffset = savedContext & ~0xFFu;
  uint32_t const mask = 0xFFFFFFFFu << (savedContext & 31);
  nQVZOR100_memoryWrite32(base + 0xC0, savedContext | 0x80);
  auto resolve = [&](uint32_t address) {
    nQVZOR100_memoryWrite32(base + 0xE0, address & mask);
    return base + ((address & ~mask) + windowOffset);
  };
  auto read32 = [&](uint32_t address) { return nQVZOR100_memoryRead32(resolve(address)); };

  uint32_t const directory = read32(12);
  uint32_t at = read32(read32(directory) & 1 ? 20 : 16);
  while (at != 0 && out.walked.size() < 16) {
    uint32_t const header = read32(at);
    out.walked.push_back(at);
    out.ids.push_back(header >> 16);
    if (header >> 16 == 0x4741) {
      uint32_t const address = read32(at + 4);
      uint32_t const descriptor = read32(at + 8);
      EXPECT_EQ(descriptor & 15, 4u);
      uint32_t value = 0;
      switch (descriptor >> 8 & 7) {
        case 1:
          value = nQVZOR100_memoryRead8(resolve(address));
          break;
        case 2:
          value = nQVZOR100_memoryRead16(resolve(address));
          break;
        default:
          value = read32(address);
          break;
      }
      out.geographicAddress = value >> (descriptor >> 16 & 31) & 31;
    }
    switch (header & 3) {
      case 0:
        at = header & 0xFFFC;
        break;
      case 1:
        at = (header & 0xFFFC) | (read32(at - 4) & 0xFFFF0000);
        break;
      case 2:
        at += header & 0xFFFC;
        break;
      default:
        ADD_FAILURE() << "next-pointer kind 3";
        at = 0;
        break;
    }
  }
  nQVZOR100_memoryWrite32(base + 0xC0, savedContext);
  nQVZOR100_memoryWrite32(base + 0xE0, savedWindow);
  return out;
}

TEST_F(Rm7ModuleTest, TheCapabilityListReadsAsLaidOutAndYieldsTheSlot) {
  Rm7Module module({.geographicAddress = 13});
  sim::plugIn(module.device());
  Mapped bar(module.bar0());
  Reading const reading = readThroughTheWindow(bar.at());
  EXPECT_EQ(
      reading.walked,
      (std::vector<uint32_t>{Rm7Module::kFirstCapability, Rm7Module::kSecondCapability,
                             Rm7Module::kGeographicAddressCapability, Rm7Module::kLastCapability}));
  EXPECT_EQ(reading.ids, std::vector<uint32_t>(Rm7Module::kCapabilityIDs.begin(),
                                               Rm7Module::kCapabilityIDs.end()));
  EXPECT_EQ(reading.geographicAddress, 13u);
  // The chip's registers are as they were at reset.
  EXPECT_EQ(module.bridge().context(), Rm7Module::kResetContext);
  EXPECT_EQ(module.bridge().window(), 0u);
}

TEST_F(Rm7ModuleTest, TheGeographicAddressKeepsTheRegistersOtherBits) {
  Rm7Module module;
  EXPECT_EQ(module.geographicAddress(), 2u);
  for (uint32_t slot : {0u, 1u, 17u, 31u}) {
    module.setGeographicAddress(slot);
    EXPECT_EQ(module.geographicAddress(), slot);
    uint32_t const raw = module.bridge().chipRead(Rm7Module::kGeographicAddressRegister, 4);
    EXPECT_EQ(raw & ~(31u << 8), Rm7Module::kGeographicAddressNoise & ~(31u << 8));
  }
  // A reader that picks the wrong width or shift sees something else.
  module.setGeographicAddress(9);
  uint32_t const raw = module.bridge().chipRead(Rm7Module::kGeographicAddressRegister, 4);
  EXPECT_NE(raw & 31, 9u);
  EXPECT_NE((raw >> 8) & 0x3F, 9u);

  sim::plugIn(module.device());
  Mapped bar(module.bar0());
  EXPECT_EQ(readThroughTheWindow(bar.at()).geographicAddress, 9u);
  sim::unplug(*module.device());
}

TEST_F(Rm7ModuleTest, TheSlotCanBeReadWithNarrowerAccesses) {
  Rm7Module module({.geographicAddress = 22});
  // 16 bits at shift 8, and 8 bits from the register's second byte at shift 0.
  module.bridge().chipWrite(Rm7Module::kGeographicAddressCapability + 8, 4, 0x00080204);
  sim::plugIn(module.device());
  {
    Mapped bar(module.bar0());
    EXPECT_EQ(readThroughTheWindow(bar.at()).geographicAddress, 22u);
    module.bridge().chipWrite(Rm7Module::kGeographicAddressCapability + 4, 4,
                              Rm7Module::kGeographicAddressRegister + 1);
    module.bridge().chipWrite(Rm7Module::kGeographicAddressCapability + 8, 4, 0x00000104);
    EXPECT_EQ(readThroughTheWindow(bar.at()).geographicAddress, 22u);
  }
  sim::unplug(*module.device());
}

using Rm7ModuleDeathTest = Rm7ModuleTest;

TEST_F(Rm7ModuleDeathTest, ASlotBeyondFiveBitsDies) {
  Rm7Module module;
  EXPECT_DEATH(module.setGeographicAddress(32), "five bits");
}

}  // namespace
