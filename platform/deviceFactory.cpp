#include "platform/deviceFactory.h"

#include "platform/driverEntry.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kNoDeviceClassSite{"qvrm7_driver_linuxEntry", 252};

// Constant-initialised: nothing for a loader to run.
constinit tDeviceCreator gDeviceCreator = createSwitchDevice;

constexpr u64 supportedIdentity(u16 subsystemID) {
  return u64{kSupportedVendorID} | u64{kSupportedDeviceID} << 16 |
         u64{kSupportedSubsystemVendorID} << 32 | u64{subsystemID} << 48;
}

}  // namespace

void fillPCIDescription(tPCIDescription& description, nQVZOR200_tPCIDeviceRecord const& record,
                        u64 kernelParent) {
  nQVZOR240_memSet(&description, 0, sizeof description);
  description.kind = kPCIDescriptionKind;
  description.kernelParent = kernelParent;
  description.kernelDevice = record.deviceHandle;
  description.driverName = kDriverName;
  description.bus = static_cast<u8>(record.bus);
  description.device = static_cast<u8>(record.device);
  description.function = static_cast<u8>(record.function);
  description.vendorID = record.vendorID;
  description.deviceID = record.deviceID;
  description.subsystemVendorID = record.subsystemVendorID;
  description.subsystemID = record.subsystemID;
  description.revision = static_cast<u8>(record.revision);
  description.numaNode = nQVZOR1_getDeviceNUMANode(&record);

  for (u32 index = 0; index < kPCIResourceSlots; ++index) {
    nQVZOR200_tPCIResource const& resource = record.resources[index];
    description.rawResources[index] = {static_cast<u32>(resource.address),
                                       static_cast<u32>(resource.size)};
    if ((resource.flags & kQVZORResourceFirstTable) != 0) {
      description.firstTable[description.firstTableCount++] = {resource.address, resource.size, 0};
    } else if ((resource.flags & kQVZORResourceMemory) != 0) {
      description.memoryTable[description.memoryCount++] = {resource.address, resource.size, 0};
    }
  }

  if (record.interruptPresent != 0) {
    description.interruptNumber = record.interruptNumber;
    description.interruptKind = kPCIInterruptKindPresent;
  }
}

bool isSupportedIdentity(u64 identity) {
  for (u16 subsystemID : kSupportedSubsystemIDs) {
    if (identity == supportedIdentity(subsystemID)) return true;
  }
  return false;
}

void setDeviceCreator(tDeviceCreator creator) {
  __atomic_store_n(&gDeviceCreator, creator, __ATOMIC_RELEASE);
}

tDeviceCreator deviceCreator() { return __atomic_load_n(&gDeviceCreator, __ATOMIC_ACQUIRE); }

tDevice* createDevice(tPCIDescription const& description, tStatus& status) {
  if (status.isFatal()) return nullptr;
  tDeviceCreator const creator = deviceCreator();
  if (creator == nullptr) {
    setStatus(status, kStatusNotSupported, kNoDeviceClassSite);
    return nullptr;
  }
  tDevice* const device = creator(description, status);
  if (device == nullptr) {
    // A creator returns null only for want of memory; make sure it says so.
    setStatus(status, kStatusMemoryFull, kAllocationFailedSite);
    return nullptr;
  }
  if (status.isNotFatal()) device->initializeDevice(tEventDescriptor{nullptr}, status);
  if (status.isFatal()) {
    delete device;
    return nullptr;
  }
  return device;
}

}  // namespace qvrm7_driver::nQVWEND000
