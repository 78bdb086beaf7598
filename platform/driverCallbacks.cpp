// The layer's view of devices and sessions. Until the device core exists no
// device is supported: add device reports no match and the session
// callbacks are never reached, since no interface is published.
#include "platform/driverEntry.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

i32 driverOpen(void*, void**) { return toKernelLayerStatus(kStatusNotSupported); }
void driverClose(void*) {}

i32 driverTransferA(void*, u64, u64, u64, u64* transferred) {
  *transferred = 0;
  return toKernelLayerStatus(kStatusNotSupported);
}

i32 driverTransferB(void*, u64, u64, u64, u64* transferred) {
  *transferred = 0;
  return toKernelLayerStatus(kStatusNotSupported);
}

i32 driverIoctl(void*, u32, u64) { return toKernelLayerStatus(kStatusNotSupported); }

i32 driverAddDevice(void*, u64, void**) { return toKernelLayerStatus(kStatusNoMatch); }
void driverRemoveDevice(void*) {}

i32 driverMmap(void*, u64, u64, u32* made, u64*) {
  *made = 0;
  return toKernelLayerStatus(kStatusNotSupported);
}

void driverUnmap(u64) {}
void driverDestroyDevice(void*) {}

}  // namespace qvrm7_driver::nQVWEND000
