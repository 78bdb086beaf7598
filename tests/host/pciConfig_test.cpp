// Configuration space as the driver's imports see it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override {
    for (auto& device : devices_) sim::unplug(*device);
    sim::reset();
  }

  uint64_t plug(sim::PciDeviceOptions const& options, bool pciExpress) {
    auto device = std::make_shared<sim::PciDevice>(options);
    if (pciExpress) {
      sim::addPowerManagementCapability(device->config());
      sim::addMsiCapability(device->config());
      sim::addPciExpressCapability(device->config(),
                                   {.maxSpeed = 3, .maxWidth = 8, .speed = 2, .width = 4});
    }
    EXPECT_EQ(sim::plugIn(device), 0);
    devices_.push_back(device);
    return device->handle();
  }

  static sim::PciDeviceOptions options() {
    sim::PciDeviceOptions s;
    s.vendorID = 0xE4A2;
    s.deviceID = 0xB6B6;
    s.subsystemVendorID = 0xE4A2;
    s.subsystemID = 0x6BB4;
    s.revision = 3;
    s.interrupt = 17;
    return s;
  }

  static uint16_t read16(uint64_t handle, uint32_t offset) {
    uint16_t value = 0xDEAD;
    EXPECT_EQ(nQVZOR100_pciConfigRead16(handle, offset, &value), 0) << "offset " << offset;
    return value;
  }
  static uint8_t read8(uint64_t handle, uint32_t offset) {
    uint8_t value = 0xEE;
    EXPECT_EQ(nQVZOR100_pciConfigRead8(handle, offset, &value), 0) << "offset " << offset;
    return value;
  }

  std::vector<std::shared_ptr<sim::PciDevice>> devices_;
};

TEST_F(ConfigTest, TheHeaderCarriesTheFunctionsIdentity) {
  uint64_t const h = plug(options(), false);
  EXPECT_EQ(read16(h, 0x00), 0xE4A2);
  EXPECT_EQ(read16(h, 0x02), 0xB6B6);
  EXPECT_EQ(read8(h, 0x08), 3);
  EXPECT_EQ(read16(h, 0x2C), 0xE4A2);
  EXPECT_EQ(read16(h, 0x2E), 0x6BB4);
  EXPECT_EQ(read8(h, 0x3C), 17);
  EXPECT_EQ(read8(h, 0x3D), 1);
  EXPECT_EQ(read16(h, 0x06) & 0x10, 0);  // no capability list
  EXPECT_EQ(read8(h, 0x34), 0);
}

TEST_F(ConfigTest, WritesChangeOnlyWritableBits) {
  uint64_t const h = plug(options(), true);
  sim::enablePciAccessLog(true);
  EXPECT_EQ(nQVZOR100_pciConfigWrite16(h, 0x00, 0x5A5A), 0);  // identity is read-only
  EXPECT_EQ(read16(h, 0x00), 0xE4A2);
  EXPECT_EQ(nQVZOR100_pciConfigWrite16(h, 0x04, 0xFFFF), 0);
  EXPECT_EQ(read16(h, 0x04), 0x0547);
  EXPECT_EQ(nQVZOR100_pciConfigWrite16(h, 0x0C, 0x4010), 0);
  EXPECT_EQ(read16(h, 0x0C), 0x4010);
  uint32_t const linkStatus = 0x58 + sim::kLinkStatusOffset;
  EXPECT_EQ(nQVZOR100_pciConfigWrite16(h, linkStatus, 0x0000), 0);
  EXPECT_EQ(read16(h, linkStatus), 0x1042);
  EXPECT_EQ(nQVZOR100_pciConfigWrite16(h, linkStatus - 2, 0xFFFF), 0);  // link control
  EXPECT_EQ(read16(h, linkStatus - 2), 0x0FFB);

  // The log keeps what was written, not what stuck.
  auto const log = sim::pciAccessLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].kind, sim::PciAccess::Kind::ConfigWrite);
  EXPECT_EQ(log[0].deviceHandle, h);
  EXPECT_EQ(log[0].resource, -1);
  EXPECT_EQ(log[0].offset, 0u);
  EXPECT_EQ(log[0].value, 0x5A5Au);
  EXPECT_EQ(log[1].kind, sim::PciAccess::Kind::ConfigRead);
  EXPECT_EQ(log[1].value, 0xE4A2u);
}

TEST_F(ConfigTest, TheCapabilityListWalksToPciExpressWithItsLinkFields) {
  uint64_t const h = plug(options(), true);
  EXPECT_NE(read16(h, 0x06) & 0x10, 0);
  std::vector<std::pair<uint8_t, uint8_t>> walked;  // id, offset
  for (uint8_t at = read8(h, 0x34); at != 0;) {
    uint16_t const header = read16(h, at);
    walked.emplace_back(header & 0xFF, at);
    at = static_cast<uint8_t>(header >> 8);
    ASSERT_LT(walked.size(), 48u);
  }
  ASSERT_EQ(walked.size(), 3u);
  EXPECT_EQ(walked[0], std::make_pair(uint8_t{0x01}, uint8_t{0x40}));
  EXPECT_EQ(walked[1], std::make_pair(uint8_t{0x05}, uint8_t{0x48}));
  EXPECT_EQ(walked[2], std::make_pair(uint8_t{0x10}, uint8_t{0x58}));
  uint8_t const pcie = walked[2].second;
  EXPECT_EQ(read16(h, pcie + sim::kLinkCapabilitiesOffset), 0x0083);  // speed 3, width 8
  EXPECT_EQ(read16(h, pcie + sim::kLinkStatusOffset), 0x1042);        // speed 2, width 4
}

TEST_F(ConfigTest, BadAccessesFailAndLeaveTheValueAlone) {
  sim::PciDeviceOptions conventional = options();
  conventional.configSize = 256;
  uint64_t const h = plug(conventional, false);
  uint16_t value16 = 0x7777;
  uint8_t value8 = 0x77;
  EXPECT_LT(nQVZOR100_pciConfigRead16(h, 0x03, &value16), 0);  // unaligned
  EXPECT_LT(nQVZOR100_pciConfigRead16(h, 0xFF, &value16), 0);
  EXPECT_LT(nQVZOR100_pciConfigRead8(h, 0x100, &value8), 0);  // beyond 256 bytes
  EXPECT_LT(nQVZOR100_pciConfigWrite16(h, 0x101, 0), 0);
  EXPECT_LT(nQVZOR100_pciConfigRead16(h + 1000, 0, &value16), 0);  // no such device
  EXPECT_EQ(value16, 0x7777);
  EXPECT_EQ(value8, 0x77);

  sim::setFailureCode("nQVZOR100_pciConfigRead16", -51352);
  sim::failNthCall("nQVZOR100_pciConfigRead16", 1);
  EXPECT_EQ(nQVZOR100_pciConfigRead16(h, 0, &value16), -51352);
  EXPECT_EQ(value16, 0x7777);
  EXPECT_EQ(read16(h, 0), 0xE4A2);
}

TEST_F(ConfigTest, AnUnpluggedFunctionAnswersNoMore) {
  uint64_t const h = plug(options(), false);
  sim::unplug(*devices_.back());
  devices_.pop_back();
  uint16_t value = 0;
  EXPECT_LT(nQVZOR100_pciConfigRead16(h, 0, &value), 0);
  EXPECT_LT(nQVZOR240_getPCIDomain(h), 0);
}

}  // namespace
