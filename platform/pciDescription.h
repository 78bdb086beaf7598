// The PCI description: what the add-device callback learns of a PCI function
// from the layer's device record, in the fixed 528-byte layout that the
// device keeps a copy of. Zero-filled before it is filled, so every byte not
// named here reads 0.
#pragma once

#include "platform/kernelServices.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// One entry of the first or the memory table.
struct tPCIResourceEntry {
  u64 address;
  u64 size;
  u64 reserved;
};
static_assert(sizeof(tPCIResourceEntry) == 24);

// The low halves of a record resource as the layer gave it.
struct tPCIRawResource {
  u32 addressLow;
  u32 sizeLow;
};
static_assert(sizeof(tPCIRawResource) == 8);

inline constexpr u32 kPCIDescriptionKind = 1;
inline constexpr u16 kPCIInterruptKindPresent = 6;
inline constexpr u32 kPCIResourceSlots = kQVZORPCIResourceCount;

struct tPCIDescription {
  u32 kind;
  u8 reserved4[4];
  u64 owner;         // 0 as built; the device's copy holds the device
  u64 kernelParent;  // the parent of the device's interfaces and properties
  u64 kernelDevice;  // the layer's device handle
  char const* driverName;
  nQVZOR1400_tInterruptRegistration interruptRegistration;  // while the interrupt is reserved
  u8 reserved56[88];
  u32 interruptNumber;
  u16 interruptKind;  // kPCIInterruptKindPresent, or 0 without an interrupt
  u8 firstTableCount;
  u8 reserved151;
  tPCIResourceEntry firstTable[kPCIResourceSlots];
  u8 memoryCount;
  u8 reserved297[7];
  // A BAR number is an index into this table, not a BAR register number.
  tPCIResourceEntry memoryTable[kPCIResourceSlots];
  u16 vendorID;
  u16 deviceID;
  u16 subsystemVendorID;
  u16 subsystemID;
  u8 revision;
  u8 reserved457;
  u8 bus;
  u8 device;
  u8 function;
  u8 reserved461[7];
  tPCIRawResource rawResources[kPCIResourceSlots];
  u8 maxLinkSpeed;
  u8 linkSpeed;
  u8 maxLinkWidth;
  u8 linkWidth;
  u32 numaNode;
  u8 reserved524[4];

  // Vendor in bits 0-15, device in 16-31, subsystem vendor in 32-47,
  // subsystem in 48-63.
  constexpr u64 identity() const {
    return u64{vendorID} | u64{deviceID} << 16 | u64{subsystemVendorID} << 32 |
           u64{subsystemID} << 48;
  }
};

static_assert(sizeof(tPCIDescription) == 528);
static_assert(offsetof(tPCIDescription, owner) == 8);
static_assert(offsetof(tPCIDescription, kernelParent) == 16);
static_assert(offsetof(tPCIDescription, kernelDevice) == 24);
static_assert(offsetof(tPCIDescription, driverName) == 32);
static_assert(offsetof(tPCIDescription, interruptRegistration) == 40);
static_assert(offsetof(tPCIDescription, interruptNumber) == 144);
static_assert(offsetof(tPCIDescription, interruptKind) == 148);
static_assert(offsetof(tPCIDescription, firstTableCount) == 150);
static_assert(offsetof(tPCIDescription, firstTable) == 152);
static_assert(offsetof(tPCIDescription, memoryCount) == 296);
static_assert(offsetof(tPCIDescription, memoryTable) == 304);
static_assert(offsetof(tPCIDescription, vendorID) == 448);
static_assert(offsetof(tPCIDescription, deviceID) == 450);
static_assert(offsetof(tPCIDescription, subsystemVendorID) == 452);
static_assert(offsetof(tPCIDescription, subsystemID) == 454);
static_assert(offsetof(tPCIDescription, revision) == 456);
static_assert(offsetof(tPCIDescription, bus) == 458);
static_assert(offsetof(tPCIDescription, device) == 459);
static_assert(offsetof(tPCIDescription, function) == 460);
static_assert(offsetof(tPCIDescription, rawResources) == 468);
static_assert(offsetof(tPCIDescription, maxLinkSpeed) == 516);
static_assert(offsetof(tPCIDescription, linkSpeed) == 517);
static_assert(offsetof(tPCIDescription, maxLinkWidth) == 518);
static_assert(offsetof(tPCIDescription, linkWidth) == 519);
static_assert(offsetof(tPCIDescription, numaNode) == 520);

}  // namespace qvrm7_driver::nQVWEND000
