// Register access over an I2C device: byte order, one-byte writes, failures
// of the transfer and of the caller, and the bridge's device that transfers
// nothing.
#include "storage/i2cDeviceAccessor.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fakeI2CDevice.h"
#include "support/expectSite.h"
#include "platform/statusCodes.h"
#include "storage/vexusI2CDevice.h"

namespace {

using i2ctest::FakeI2CDevice;
using i2ctest::Transfer;
using nQVWENDS100::tLongStatus;
using nQVWENDS100::tStatus;

TEST(I2CDeviceAccessorTest, TheFirstByteReadIsTheHighByteAndAFailedCallerTransfersNothing) {
  FakeI2CDevice device;
  atut::I2CDeviceAccessor accessor(device);
  device.registers[0x00] = {0x12, 0x34};
  tStatus status;
  EXPECT_EQ(accessor.readRegister16(0x00, status), 0x1234);
  accessor.writeRegister8(0x01, 0xA5, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(device.log, (std::vector<Transfer>{{false, 0x00, {0x12, 0x34}}, {true, 0x01, {0xA5}}}));

  device.log.clear();
  device.failWith = -50;
  accessor.writeRegister8(0x01, 0x5A, status);
  EXPECT_EQ(status.code, -50);
  EXPECT_EQ(device.registers[0x01], std::vector<uint8_t>{0xA5});
  device.failWith = 0;
  status.code = -7;  // an error on entry
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

}  // namespace
