// Register access over an I2C device: byte order, one-byte writes, failures
// of the transfer and of the caller, the bridge's device that transfers
// nothing, and the temperature sensor's map keeping only what a transfer
// that succeeded brought.
#include "storage/i2cDeviceAccessor.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fakeI2CDevice.h"
#include "platform/statusCodes.h"
#include "registers/generated/tmp101RegMap.h"
#include "storage/vexusI2CDevice.h"
#include "support/chipSheets.h"
#include "support/expectSite.h"

namespace conformance {
namespace {

constexpr char kFile[] = "./dep_mirror/deps/atut_mock/includes/atut/armgen/TMP101RegMap";

// The sensor behind the map's accessor; one per test process.
i2ctest::FakeI2CDevice& sensor() {
  static i2ctest::FakeI2CDevice device;
  return device;
}

// A transfer is an access of its byte count, the first byte the highest.
Probe sensorProbe(sim::Rm7Module&) {
  auto log = [] {
    std::vector<Hit> hits;
    for (i2ctest::Transfer const& t : sensor().log) {
      u64 value = 0;
      for (uint8_t byte : t.bytes) value = value << 8 | byte;
      hits.push_back({t.write, t.pointer, static_cast<unsigned>(t.bytes.size()), value});
    }
    return hits;
  };
  return {log, [] { return std::vector<Hit>{}; }, [] { sensor().log.clear(); },
          [](u32 pointer, u64 value) {
            sensor().registers[static_cast<uint8_t>(pointer)] = {static_cast<uint8_t>(value >> 8),
                                                                 static_cast<uint8_t>(value)};
          }};
}

BuiltMap buildSensorMap(u64, u32 base, u32 windowStart, u32 windowSize) {
  struct Built {
    Built(u32 b, u32 start, u32 size) : map(&accessor, b, start, size) {}
    atut::I2CDeviceAccessor accessor{sensor()};
    atut::tTMP101RegMap map;
  };
  auto built = std::make_shared<Built>(base, windowStart, windowSize);
  return BuiltMap(built, &built->map);
}

Sheet const kTMP101 = [] {
  Sheet s =
      sheetOf("TMP101", 0, 2, "22.8.0f108", kFile, {743, 784, 803, 845, 861, 876, 922},
              {11, 9, 2, 9, 1, 1, 2},
              {narrow(row(0, kRead, 891, 1, 346), 16), narrow(row(1, kWritten, 900, 8, 455), 8)});
  s.build = buildSensorMap;
  s.probe = sensorProbe;
  return s;
}();

INSTANTIATE_TEST_SUITE_P(TMP101, MapConformance, ::testing::Values(&kTMP101), sheetName);

}  // namespace
}  // namespace conformance

namespace {

using i2ctest::FakeI2CDevice;
using i2ctest::Transfer;
using nQVWENDS100::tLongStatus;
using nQVWENDS100::tStatus;

TEST(I2CDeviceAccessorTest, AnErrorOnEntryTransfersNothingAndAReadGivesAllOnes) {
  FakeI2CDevice device;
  atut::I2CDeviceAccessor accessor(device);
  device.registers[0x00] = {0x12, 0x34};
  tStatus status;
  status.code = -7;
  EXPECT_EQ(accessor.readRegister16(0x00, status), 0xFFFF);
  accessor.writeRegister8(0x01, 0x5A, status);
  EXPECT_EQ(status.code, -7);
  EXPECT_TRUE(device.log.empty());
}

TEST(I2CDeviceAccessorTest, TheBridgesDeviceReportsEveryTransferAsNotSupported) {
  vexustools::VexusI2CDevice device(0x90);
  atut::I2CDeviceAccessor accessor(device);
  EXPECT_EQ(device.busAddress(), 0x90);
  for (bool write : {false, true}) {
    tLongStatus status;
    if (write)
      accessor.writeRegister8(0x01, 0x60, status);
    else
      accessor.readRegister16(0x00, status);
    testing_support::expectSite(status, qvrm7_driver::nQVWEND000::kStatusNotSupported,
                                "vexustools/vexusI2CDevice/VexusI2CDevice", 38);
  }
}

TEST(TMP101RegMapTest, ARecordChangesOnlyWhenItsTransferSucceeded) {
  FakeI2CDevice device;
  atut::I2CDeviceAccessor accessor(device);
  atut::tTMP101RegMap map(&accessor, 0, 0, 0xFFFFFFFF);
  device.registers[0x00] = {0x12, 0x34};
  tStatus status;
  uint64_t value = 0;
  map.read(0xC0000000, value, status, 0);
  EXPECT_EQ(value, 0x1234u);
  device.log.clear();

  device.registers[0x00] = {0x56, 0x78};
  device.failWith = -50;
  map.read(0x40000000, value, status, 0);
  EXPECT_EQ(status.code, -50);
  EXPECT_EQ(value, 0x1234u);
  tStatus configuration;
  map.write(0x28000001, 2, false, configuration, 0);  // bit 5: any non-zero value
  EXPECT_EQ(configuration.code, -50);
  EXPECT_TRUE(device.log.empty());

  device.failWith = 0;
  tStatus retry;
  map.flushRegMap(false, retry);  // still dirty
  map.refreshRegMap(retry);
  map.get(0xC0000000, value, retry, 0);
  EXPECT_EQ(value, 0x5678u);
  EXPECT_EQ(retry.code, 0);
  EXPECT_EQ(device.log, (std::vector<Transfer>{{true, 0x01, {0x20}}, {false, 0x00, {0x56, 0x78}}}));
}

}  // namespace
