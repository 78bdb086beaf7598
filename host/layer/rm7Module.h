// A ready-made RM7 module for tests and the main program: the PCI function
// with the module's identity and BAR 0, its bridge chip with the capability
// directory, the capability list and the PXI geographic address (the chassis
// slot) that the driver reads through the chip's window, its FPGA's register
// blocks, the bridge chip's directly decoded registers and the timing chip's
// digital-output block.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "host/layer/chips/tmr9Chip.h"
#include "host/layer/chips/vexusChip.h"
#include "host/layer/fpga/rm7Fpga.h"
#include "host/layer/pci.h"
#include "host/layer/vexusBridge.h"

namespace sim {

inline constexpr uint16_t kRm7VendorID = 0xE4A2;
inline constexpr uint16_t kRm7DeviceID = 0xB6B6;
inline constexpr uint16_t kRm7SubsystemVendorID = 0xE4A2;
// The ten module models, in the order the driver compares them.
inline constexpr std::array<uint16_t, 10> kRm7SubsystemIDs = {
    0x6BB1, 0x6BB2, 0x6BB3, 0x6BB4, 0x6BB5, 0x6BB6, 0x6BBA, 0x6BB8, 0x6BB9, 0x6BB7};

struct Rm7ModuleOptions {
  uint16_t subsystemID = 0x6BB1;   // any value: an unlisted one makes a module the driver refuses
  uint32_t geographicAddress = 2;  // chassis slot, 0 to 31
  int32_t domain = 0;
  uint16_t bus = 3;
  uint16_t device = 0;
  uint16_t function = 0;
  std::optional<uint32_t> interrupt = 48;
  uint32_t numaNode = 0;
};

class Rm7Module {
 public:
  static constexpr uint64_t kBar0Size = 0x100000;
  // The window at BAR offset 0x10000, 4 KiB wide, closed.
  static constexpr uint32_t kResetContext = 0x0001000C;

  // Internal addresses of the chip. The list uses each kind of next pointer
  // once (relative, absolute with a high half, absolute) before it ends, so
  // every branch of a capability walk is taken on the way to the address.
  static constexpr uint32_t kDirectoryPointerAddress = 12;
  static constexpr uint32_t kDirectory = 0x100;          // bit 0 set: the first offset is at 20
  static constexpr uint32_t kFirstCapability = 0x1000;   // held at 20; 16 holds 0
  static constexpr uint32_t kSecondCapability = 0x1040;  // relative from the first
  static constexpr uint32_t kGeographicAddressCapability = 0x20080;  // high half from 0x103C
  static constexpr uint32_t kLastCapability = 0x1100;
  static constexpr uint32_t kGeographicAddressID = 0x4741;
  // Every capability's ID, in list order.
  static constexpr std::array<uint32_t, 4> kCapabilityIDs = {0x4443, 0x4950, kGeographicAddressID,
                                                             0x5354};
  // The slot lives in bits 8-12 of a 32-bit register read through the window.
  static constexpr uint32_t kGeographicAddressRegister = 0x30010;
  static constexpr uint32_t kGeographicAddressDescriptor =
      0x00080304;  // windowed, 32 bits, shift 8
  static constexpr uint32_t kGeographicAddressShift = 8;
  // The register's other bits, which a reader must mask away.
  static constexpr uint32_t kGeographicAddressNoise = 0x5A5AE0C3;

  explicit Rm7Module(Rm7ModuleOptions const& options = {});
  Rm7Module(Rm7Module const&) = delete;
  Rm7Module& operator=(Rm7Module const&) = delete;

  std::shared_ptr<PciDevice> const& device() const { return device_; }
  Bar& bar0() const { return device_->bar(0); }
  VexusBridge& bridge() { return bridge_; }
  Rm7Fpga& fpga() { return fpga_; }
  VexusChip& vexus() { return vexus_; }
  Tmr9Chip& tmr9() { return tmr9_; }

  void setGeographicAddress(uint32_t slot);  // 0 to 31; anything else aborts
  uint32_t geographicAddress() const;

 private:
  std::shared_ptr<PciDevice> device_;
  VexusBridge bridge_;
  Rm7Fpga fpga_;
  VexusChip vexus_;
  Tmr9Chip tmr9_;
};

}  // namespace sim
