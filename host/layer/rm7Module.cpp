// The RM7 module's PCI function and bridge chip contents.
#include "host/layer/rm7Module.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

std::shared_ptr<PciDevice> makeFunction(Rm7ModuleOptions const& options) {
  PciDeviceOptions pci;
  pci.domain = options.domain;
  pci.bus = options.bus;
  pci.device = options.device;
  pci.function = options.function;
  pci.vendorID = kRm7VendorID;
  pci.deviceID = kRm7DeviceID;
  pci.subsystemVendorID = kRm7SubsystemVendorID;
  pci.subsystemID = options.subsystemID;
  pci.revision = 1;
  pci.classCode = 0x118000;  // signal processing controller
  pci.interrupt = options.interrupt;
  pci.numaNode = options.numaNode;
  pci.resources = {{Rm7Module::kBar0Size, kQVZORResourceMemory}};
  auto device = std::make_shared<PciDevice>(pci);
  // A PXI Express x4 link at 5 GT/s, trained to its full width.
  addPowerManagementCapability(device->config());
  addMsiCapability(device->config());
  addPciExpressCapability(device->config(), {.maxSpeed = 2, .maxWidth = 4, .speed = 2, .width = 4});
  return device;
}

uint32_t header(uint32_t id, uint32_t next, uint32_t kind) {
  return id << 16 | (next & 0xFFFC) | kind;
}

}  // namespace

Rm7Module::Rm7Module(Rm7ModuleOptions const& options)
    : device_(makeFunction(options)),
      bridge_(device_->sharedBar(0), kResetContext),
      fpga_(device_->sharedBar(0)),
      vexus_(device_->sharedBar(0)),
      tmr9_(device_->sharedBar(0)) {
  VexusBridge& chip = bridge_;
  chip.chipWrite(kDirectoryPointerAddress, 4, kDirectory);
  chip.chipWrite(kDirectory, 4, 0x00000001);
  chip.chipWrite(16, 4, 0);
  chip.chipWrite(20, 4, kFirstCapability);

  chip.chipWrite(kFirstCapability, 4,
                 header(kCapabilityIDs[0], kSecondCapability - kFirstCapability, 2));
  chip.chipWrite(kSecondCapability - 4, 4, kGeographicAddressCapability & 0xFFFF0000);
  chip.chipWrite(kSecondCapability, 4, header(kCapabilityIDs[1], kGeographicAddressCapability, 1));
  chip.chipWrite(kGeographicAddressCapability, 4, header(kGeographicAddressID, kLastCapability, 0));
  chip.chipWrite(kGeographicAddressCapability + 4, 4, kGeographicAddressRegister);
  chip.chipWrite(kGeographicAddressCapability + 8, 4, kGeographicAddressDescriptor);
  chip.chipWrite(kLastCapability, 4, header(kCapabilityIDs[3], 0, 0));

  setGeographicAddress(options.geographicAddress);
}

void Rm7Module::setGeographicAddress(uint32_t slot) {
  if (slot > 31) {
    std::fprintf(stderr, "layer: a geographic address has five bits; %u does not fit\n", slot);
    std::abort();
  }
  uint32_t const field = 31u << kGeographicAddressShift;
  bridge_.chipWrite(kGeographicAddressRegister, 4,
                    (kGeographicAddressNoise & ~field) | slot << kGeographicAddressShift);
}

uint32_t Rm7Module::geographicAddress() const {
  return (bridge_.chipRead(kGeographicAddressRegister, 4) >> kGeographicAddressShift) & 31;
}

}  // namespace sim
