// The bridge's I2C devices, which transfer nothing.
#include "storage/vexusI2CDevice.h"

#include "platform/statusCodes.h"

namespace vexustools {

namespace {

using qvrm7_driver::nQVWEND000::StatusSite;

constexpr StatusSite kTransferNotSupportedSite{"vexustools/vexusI2CDevice/VexusI2CDevice", 38};

}  // namespace

// A read leaves the caller's buffer as it was.
void VexusI2CDevice::read(u8, u8*, u32, atut::tStatus& status) {
  qvrm7_driver::nQVWEND000::setStatus(status, qvrm7_driver::nQVWEND000::kStatusNotSupported,
                                      kTransferNotSupportedSite);
}

void VexusI2CDevice::write(u8, u8 const*, u32, atut::tStatus& status) {
  qvrm7_driver::nQVWEND000::setStatus(status, qvrm7_driver::nQVWEND000::kStatusNotSupported,
                                      kTransferNotSupportedSite);
}

}  // namespace vexustools
