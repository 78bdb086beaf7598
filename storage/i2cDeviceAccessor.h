// Register access to a device on an I2C bus. The device moves bytes to and
// from one of its registers, named by the register pointer that starts every
// transfer; the accessor builds the register widths on top of that.
#pragma once

#include "platform/status.h"
#include "platform/types.h"

namespace atut {

using qvrm7_driver::u16;
using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::u8;
using tStatus = nQVWENDS100::tStatus;

class I2CDevice {
 public:
  // `count` bytes from or to the register at `registerPointer`; a failed
  // transfer is reported in the status.
  virtual void read(u8 registerPointer, u8* buffer, u32 count, tStatus& status) = 0;
  virtual void write(u8 registerPointer, u8 const* buffer, u32 count, tStatus& status) = 0;

 protected:
  ~I2CDevice() = default;  // devices are destroyed through their own class
};

class I2CDeviceAccessor {
 public:
  explicit I2CDeviceAccessor(I2CDevice& device) : device_(&device) {}
  virtual ~I2CDeviceAccessor() = default;
  I2CDeviceAccessor(I2CDeviceAccessor const&) = delete;
  I2CDeviceAccessor& operator=(I2CDeviceAccessor const&) = delete;

  // One byte to the register.
  virtual void writeRegister8(u8 registerPointer, u8 value, tStatus& status);
  // Two slots of accesses that nothing in the driver makes: a call halts as
  // a pure virtual call does, yet the accessor stays a class of its own.
  virtual void unusedSlot3();
  virtual void unusedSlot4();
  // Two bytes from the register, the first received as the high byte;
  // 0xFFFF, with nothing transferred, when the status already holds an error.
  virtual u16 readRegister16(u8 registerPointer, tStatus& status);

 private:
  I2CDevice* device_;
};

}  // namespace atut
