// The driver entry, the callbacks it writes into the layer's driver record,
// and the record the driver keeps while it is loaded.
#pragma once

#include "platform/kernelServices.h"
#include "platform/status.h"

namespace qvrm7_driver::nQVWEND000 {

inline constexpr char kDriverName[] = "qvrm7_driver";

// The registered driver record, null while the driver is not loaded.
nQVZOR200_tDriverRecord* registeredDriverRecord();

i32 driverOpen(void* openContext, void** fileContext);
void driverClose(void* session);
i32 driverTransferA(void* session, u64 userAddress, u64 size, u64 unused, u64* transferred);
i32 driverTransferB(void* session, u64 userAddress, u64 size, u64 unused, u64* transferred);
i32 driverIoctl(void* session, u32 code, u64 headerAddress);
void driverUnload(nQVZOR200_tDriverRecord* record);
i32 driverAddDevice(void* pciDeviceRecord, u64 unused, void** deviceContext);
void driverRemoveDevice(void* device);
i32 driverMmap(void* session, u64 offset, u64 userMap, u32* made, u64* mapObject);
void driverUnmap(u64 mapObject);
void driverDestroyDevice(void* device);

// For a device that defers work: queues the layer's deferred call whose
// handle is the second word of the record. The switch device defers none.
void scheduleDeferredCall(void* record);

}  // namespace qvrm7_driver::nQVWEND000
