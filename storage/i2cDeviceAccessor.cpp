// Register widths over an I2C device's byte transfers.
#include "storage/i2cDeviceAccessor.h"

#include "platform/debugPrint.h"

namespace atut {

void I2CDeviceAccessor::writeRegister8(u8 registerPointer, u8 value, tStatus& status) {
  if (status.isFatal()) return;
  device_->write(registerPointer, &value, 1, status);
}

void I2CDeviceAccessor::unusedSlot3() { qvrm7_driver::qvsdbg::pureVirtualCalled(); }

void I2CDeviceAccessor::unusedSlot4() { qvrm7_driver::qvsdbg::pureVirtualCalled(); }

u16 I2CDeviceAccessor::readRegister16(u8 registerPointer, tStatus& status) {
  if (status.isFatal()) return 0xFFFF;
  u8 bytes[2] = {0, 0};
  device_->read(registerPointer, bytes, 2, status);
  return static_cast<u16>(bytes[0] << 8 | bytes[1]);
}

}  // namespace atut
