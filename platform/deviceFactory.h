// From the layer's PCI device record to a device object: the description
// the add-device callback builds, the identities the driver supports, and
// the factory that makes a device for one of them.
#pragma once

#include "platform/deviceCore.h"
#include "platform/kernelServices.h"
#include "platform/pciDescription.h"
#include "platform/status.h"

namespace qvrm7_driver::nQVWEND000 {

inline constexpr u16 kSupportedVendorID = 0xE4A2;
inline constexpr u16 kSupportedDeviceID = 0xB6B6;
inline constexpr u16 kSupportedSubsystemVendorID = 0xE4A2;
inline constexpr u32 kSupportedModelCount = 10;
// In the order they are compared.
inline constexpr u16 kSupportedSubsystemIDs[kSupportedModelCount] = {
    0x6BB1, 0x6BB2, 0x6BB3, 0x6BB4, 0x6BB5, 0x6BB6, 0x6BBA, 0x6BB8, 0x6BB9, 0x6BB7};

// Zero-fills the description, then fills it from the record; kernelParent
// is the word the layer left in the device-context slot.
void fillPCIDescription(tPCIDescription& description, nQVZOR200_tPCIDeviceRecord const& record,
                        u64 kernelParent);

bool isSupportedIdentity(u64 identity);

// Makes the device of a supported identity on the layer's allocator and
// constructs it from the description; null when no memory was to be had,
// with the status set. Construction failures are left in the status: the
// factory then deletes the object through its deleting destructor.
using tDeviceCreator = tDevice* (*)(tPCIDescription const& description, tStatus& status);

// The switch device's creation function; the creator from the start.
tDevice* createSwitchDevice(tPCIDescription const& description, tStatus& status);

// Another device class in the switch device's place, for tests. Without a
// creator no identity gets a device and add device refuses it with -52002.
void setDeviceCreator(tDeviceCreator creator);
tDeviceCreator deviceCreator();

// Creates the device and runs its initializeDevice; null, with the status
// set and nothing left behind, when either fails.
tDevice* createDevice(tPCIDescription const& description, tStatus& status);

}  // namespace qvrm7_driver::nQVWEND000
