// The temperature sensor's map over an I2C device accessor: its sheet for
// the conformance harness over a sensor that logs its transfers, then the
// map keeping only what a transfer that succeeded brought, the accessor
// doing nothing on an error, and the bridge's device that transfers nothing.
#include <gtest/gtest.h>

#include <map>

#include "platform/statusCodes.h"
#include "registers/generated/tmp101RegMap.h"
#include "storage/vexusI2CDevice.h"
#include "support/chipSheets.h"
#include "support/expectSite.h"

namespace conformance {
namespace {

using nQVWENDS100::tStatus;

// Registers of bytes, the first the highest; a transfer is logged as an
// access of its byte count. failWith makes transfers fail, moving nothing.
struct FakeSensor final : atut::I2CDevice {
  std::map<uint8_t, u64> registers;
  std::vector<Hit> log;
  int64_t failWith = 0;

  bool fails(tStatus& status) const {
    if (failWith != 0) status.code = failWith;
    return failWith != 0;
  }
  void read(uint8_t pointer, uint8_t* buffer, uint32_t count, tStatus& status) override {
    if (fails(status)) return;
    for (uint32_t i = 0; i < count; ++i)
      buffer[i] = static_cast<uint8_t>(registers[pointer] >> 8 * (count - 1 - i));
    log.push_back({false, pointer, count, registers[pointer] & lowBits(8 * count)});
  }
  void write(uint8_t pointer, uint8_t const* buffer, uint32_t count, tStatus& status) override {
    if (fails(status)) return;
    u64 value = 0;
    for (uint32_t i = 0; i < count; ++i) value = value << 8 | buffer[i];
    log.push_back({true, pointer, count, registers[pointer] = value});
  }
};

FakeSensor& sensor() {  // one per test process
  static FakeSensor device;
  return device;
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

Sheet const kTMP101 = sheetOf(
    "TMP101", 0, 2, "22.8.0f108", "./dep_mirror/deps/atut_mock/includes/atut/armgen/TMP101RegMap",
    {743, 784, 803, 845, 861, 876, 922}, {11, 9, 2, 9, 1, 1, 2},
    {narrow(row(0, kRead), 16), narrow(row(1, kWritten, 8), 8)}, buildSensorMap,
    [](sim::Rm7Module&) {
      return Probe{[] { return sensor().log; }, [] { return std::vector<Hit>{}; },
                   [] { sensor().log.clear(); },
                   [](u32 pointer, u64 value) { sensor().registers[pointer & 0xFF] = value; }};
    });

INSTANTIATE_TEST_SUITE_P(TMP101, MapConformance, ::testing::Values(&kTMP101), sheetName);

TEST(TMP101RegMapTest, ARecordChangesOnlyWhenItsTransferSucceeded) {
  FakeSensor& device = sensor();
  atut::I2CDeviceAccessor accessor(device);
  atut::tTMP101RegMap map(&accessor, 0, 0, 0xFFFFFFFF);
  device.registers[0x00] = 0x1234;
  tStatus status;
  u64 value = 0;
  map.read(0xC0000000, value, status, 0);
  EXPECT_EQ(value, 0x1234u);

  device.registers[0x00] = 0x5678;
  device.failWith = -50;
  map.read(0x40000000, value, status, 0);
  EXPECT_EQ(status.code, -50);
  EXPECT_EQ(value, 0x1234u);
  tStatus configuration;
  map.write(0x28000001, 2, false, configuration, 0);  // bit 5: any non-zero value
  EXPECT_EQ(configuration.code, -50);

  device.failWith = 0;
  device.log.clear();
  tStatus retry;
  map.flushRegMap(false, retry);  // still dirty
  map.refreshRegMap(retry);
  map.get(0xC0000000, value, retry, 0);
  EXPECT_EQ(value, 0x5678u);
  EXPECT_EQ(retry.code, 0);
  EXPECT_EQ(device.log, (std::vector<Hit>{{true, 0x01, 1, 0x20}, {false, 0x00, 2, 0x5678}}));

  status.code = -7;  // an error on entry: no transfer, and a read gives all ones
  EXPECT_EQ(accessor.readRegister16(0x00, status), 0xFFFF);
  accessor.writeRegister8(0x01, 0x5A, status);
  EXPECT_EQ(status.code, -7);
  EXPECT_EQ(device.log.size(), 2u);
}

TEST(TMP101RegMapTest, TheBridgesDeviceReportsEveryTransferAsNotSupported) {
  vexustools::VexusI2CDevice device(0x90);
  atut::I2CDeviceAccessor accessor(device);
  tLongStatus read, write;
  accessor.readRegister16(0x00, read);
  accessor.writeRegister8(0x01, 0x60, write);
  for (tLongStatus const* status : {&read, &write})
    expectSite(*status, qvrm7_driver::nQVWEND000::kStatusNotSupported,
               "vexustools/vexusI2CDevice/VexusI2CDevice", 38);
}

}  // namespace
}  // namespace conformance
