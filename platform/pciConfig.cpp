// Configuration space: the capability search and the PCI Express link fields.
#include "platform/kernelServices.h"
#include "platform/pciDevice.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kRead8Site{"pciconfig", 313};
constexpr StatusSite kRead16Site{"pciconfig", 378};
constexpr StatusSite kWrite16Site{"pciconfig", 554};
constexpr StatusSite kCapabilityAbsentSite{"tPCIDevice", 147};

constexpr u32 kStatusRegister = 0x06;
constexpr u16 kStatusCapabilityList = 0x0010;
constexpr u32 kCapabilityPointer = 0x34;
constexpr u8 kPciExpressID = 0x10;
// The fallback probe for a PCI Express capability missing from the list.
constexpr u32 kProbeRegister = 0x00;
constexpr u16 kProbeValue = 0x5A5A;
constexpr u32 kProbeIndexRegister = 15;
constexpr u32 kFirstCapabilitySlot = 64;
// Every dword from 0x40 to 0xFF holds at most one capability: a list with
// more entries loops.
constexpr u32 kMaxCapabilities = (256 - kFirstCapabilitySlot) / 4;

constexpr u32 kLinkCapabilities = 12;
constexpr u32 kLinkStatus = 18;

u8 configRead8(u64 handle, u32 offset, tStatus& status) {
  u8 value = 0;
  if (nQVZOR100_pciConfigRead8(handle, offset, &value) != 0) {
    setStatus(status, kStatusLayerFailure, kRead8Site);
    return 0;
  }
  return value;
}

u16 configRead16(u64 handle, u32 offset, tStatus& status) {
  u16 value = 0;
  if (nQVZOR100_pciConfigRead16(handle, offset, &value) != 0) {
    setStatus(status, kStatusLayerFailure, kRead16Site);
    return 0;
  }
  return value;
}

void configWrite16(u64 handle, u32 offset, u16 value, tStatus& status) {
  if (nQVZOR100_pciConfigWrite16(handle, offset, value) != 0)
    setStatus(status, kStatusLayerFailure, kWrite16Site);
}

// The list walk; 0 when the list does not hold the ID.
u8 walkCapabilityList(u8 id, u64 handle, tStatus& status) {
  u16 const pciStatus = configRead16(handle, kStatusRegister, status);
  if (status.isFatal() || (pciStatus & kStatusCapabilityList) == 0) return 0;
  u8 offset = configRead8(handle, kCapabilityPointer, status);
  if (status.isFatal()) return 0;
  for (u32 step = 0; offset != 0 && step < kMaxCapabilities; ++step) {
    u16 const word = configRead16(handle, offset, status);
    if ((word & 0xFF) == id) return offset;
    offset = static_cast<u8>(word >> 8);
  }
  return 0;
}

}  // namespace

u8 tPCIDevice::findPCICapability(u8 id, tPCIDescription const& description, tStatus& status) {
  u64 const handle = description.kernelDevice;
  if (status.isNotFatal()) {
    u8 const found = walkCapabilityList(id, handle, status);
    if (found != 0) return found;
  }
  if (id == kPciExpressID && status.isNotFatal()) {
    configWrite16(handle, kProbeRegister, kProbeValue, status);
    u8 const index = configRead8(handle, kProbeIndexRegister, status);
    u8 const offset = static_cast<u8>(index * 4);
    if (offset >= kFirstCapabilitySlot) {
      u8 const probed = configRead8(handle, offset, status);
      if (probed == kPciExpressID) return offset;
    }
  }
  setStatus(status, kStatusNotAvailable, kCapabilityAbsentSite);
  return 0;
}

void tPCIDevice::readPCIeLinkInfo(tStatus& status) {
  tStatus search;
  u8 const capability = findPCICapability(kPciExpressID, description_, search);
  if (search.isFatal()) return;
  u64 const handle = description_.kernelDevice;
  if (status.isNotFatal()) {
    u16 const capabilities = configRead16(handle, capability + kLinkCapabilities, status);
    description_.maxLinkSpeed = capabilities & 0xF;
    description_.maxLinkWidth = (capabilities >> 4) & 0x3F;
  }
  if (status.isNotFatal()) {
    u16 const link = configRead16(handle, capability + kLinkStatus, status);
    description_.linkSpeed = link & 0xF;
    description_.linkWidth = (link >> 4) & 0x3F;
  }
}

}  // namespace qvrm7_driver::nQVWEND000
