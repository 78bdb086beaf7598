// A device behind the bridge chip's I2C master, named by its 8-bit bus
// address. How the master moves a device's bytes is not known, so every
// transfer fails as not supported and nothing reaches the bus; the module's
// temperature sensor is therefore not read.
#pragma once

#include "storage/i2cDeviceAccessor.h"

namespace vexustools {

using qvrm7_driver::u32;
using qvrm7_driver::u8;

class VexusI2CDevice final : public atut::I2CDevice {
 public:
  explicit VexusI2CDevice(u8 busAddress) : busAddress_(busAddress) {}

  u8 busAddress() const { return busAddress_; }

  void read(u8 registerPointer, u8* buffer, u32 count, atut::tStatus& status) override;
  void write(u8 registerPointer, u8 const* buffer, u32 count, atut::tStatus& status) override;

 private:
  u8 busAddress_;
};

}  // namespace vexustools
