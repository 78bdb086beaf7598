// The layer's view of devices and sessions: each callback turns one call of
// the layer into the device's virtual operations and its status into the
// layer's result.
#include "platform/deviceCore.h"
#include "platform/deviceFactory.h"
#include "platform/deviceInterface.h"
#include "platform/deviceProperty.h"
#include "platform/driverEntry.h"
#include "platform/ioctlHeader.h"
#include "platform/memory.h"
#include "platform/session.h"
#include "platform/statusCodes.h"
#include "platform/userBuffer.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kNoMatchSite{"qvrm7_driver_linuxEntry", 233};
constexpr StatusSite kInterfaceRefusedSite{"qvrm7_driver_linuxEntry", 291};

// The offset of the bytes-returned field in the caller's header.
constexpr u64 kBytesReturnedOffset = offsetof(tIOControlHeader, bytesReturned);

tSession* asSession(void* session) { return static_cast<tSession*>(session); }

u32 countInterfaces(tDeviceInterface* const* interfaces) {
  u32 count = 0;
  if (interfaces != nullptr) {
    while (interfaces[count] != nullptr) ++count;
  }
  return count;
}

// Last to first; an interface without a handle is skipped, so nothing is
// unregistered twice.
void unregisterInterfaces(tDeviceInterface* const* interfaces, u32 count) {
  while (count-- != 0) {
    tDeviceInterface& deviceInterface = *interfaces[count];
    if (deviceInterface.kernelHandle() == 0) continue;
    nQVZOR200_unregisterDeviceInterface(deviceInterface.kernelHandle());
    deviceInterface.setKernelHandle(0);
  }
}

void registerInterfaces(tDevice& device, u64 parent, tStatus& status) {
  if (status.isFatal()) return;
  tDeviceInterface* const* interfaces = device.getDeviceInterfaces();
  u32 const count = countInterfaces(interfaces);
  for (u32 index = 0; index < count; ++index) {
    tDeviceInterface& deviceInterface = *interfaces[index];
    u64 const handle = nQVZOR240_registerDeviceInterface(
        registeredDriverRecord(), parent, deviceInterface.name(), index, &deviceInterface);
    deviceInterface.setKernelHandle(handle);
    if (handle == 0) {
      unregisterInterfaces(interfaces, index);
      setStatus(status, kStatusMemoryFull, kInterfaceRefusedSite);
      return;
    }
  }
}

// The two transfers differ only in the slot they call.
i32 transfer(void* session, u64 userAddress, u64 size, u64* transferred, bool second) {
  tStatus status;
  tEventDescriptor const context{asSession(session)};
  tDeviceCore* const device = context.session->device();
  tUserBuffer buffer(context, userAddress, size);
  *transferred = second ? device->transferB(context, buffer, status)
                        : device->transferA(context, buffer, status);
  return toKernelLayerStatus(status.code);
}

}  // namespace

// ---- Sessions ------------------------------------------------------------------

i32 driverOpen(void*, void** fileContext) {
  tStatus status;
  tEventDescriptor const context{nullptr};
  auto* const deviceInterface = static_cast<tDeviceInterface*>(*fileContext);
  tSession* const session =
      deviceInterface->device()->openSessionCounted(context, deviceInterface, status);
  if (status.isNotFatal()) *fileContext = session;
  return toKernelLayerStatus(status.code);
}

void driverClose(void* session) {
  tEventDescriptor const context{asSession(session)};
  tDeviceCore* const device = context.session->device();
  device->closeSession(context);
  device->finishCloseSession(context, context.session);
}

i32 driverTransferA(void* session, u64 userAddress, u64 size, u64, u64* transferred) {
  return transfer(session, userAddress, size, transferred, false);
}

i32 driverTransferB(void* session, u64 userAddress, u64 size, u64, u64* transferred) {
  return transfer(session, userAddress, size, transferred, true);
}

i32 driverIoctl(void* session, u32 code, u64 headerAddress) {
  tIOControlHeader header{};
  i32 const copied =
      nQVZOR100_replicateInboundIOControlBuffer(&header, userPointer(headerAddress), sizeof header);
  if (copied < 0) return copied;

  header.bytesReturned = 0;
  tStatus status;
  tEventDescriptor const context{asSession(session)};
  u32 const bytes = context.session->deviceInterface()->decodeIOControl(
      context, code, userPointer(header.input), header.inputSize, userPointer(header.output),
      header.outputSize, status);
  i32 result = toKernelLayerStatus(status.code);

  // Only the count goes back, and only when there is one, even after a
  // failure; the rest of the caller's header is never written.
  if (bytes != 0) {
    header.bytesReturned = bytes;
    i32 const written = nQVZOR100_replicateOutboundIOControlBuffer(
        userPointer(headerAddress + kBytesReturnedOffset), &header.bytesReturned,
        sizeof header.bytesReturned);
    // A caller told of success must also have the count; an earlier failure
    // says more than the lost count.
    if (written < 0 && result == 0) result = written;
  }
  return result;
}

// ---- Devices -------------------------------------------------------------------

i32 driverAddDevice(void* pciDeviceRecord, u64, void** deviceContext) {
  tStatus status;
  tEventDescriptor const context{nullptr};
  tPCIDescription description;
  fillPCIDescription(description, *static_cast<nQVZOR200_tPCIDeviceRecord const*>(pciDeviceRecord),
                     reinterpret_cast<uintptr_t>(*deviceContext));
  // The device copies the description as it is: its parent is this one.
  u64 const parent = description.kernelParent;

  tDevice* device = nullptr;
  if (!isSupportedIdentity(description.identity())) {
    setStatus(status, kStatusNoMatch, kNoMatchSite);
  } else {
    device = createDevice(description, status);
  }

  if (device != nullptr && status.isNotFatal()) {
    *deviceContext = device;
    (void)device->transitionPnPState(context, kPnPStateReady, 0, 0, status);
    registerInterfaces(*device, parent, status);
    if (status.isNotFatal()) {
      device->fillPCIProperties();
      registerBusProperties(*device, parent, status);
      registerDeviceProperties(*device, parent, status);
      registerInterfaceProperties(*device, status);
    }
    if (status.isNotFatal()) {
      tDeviceInterface* const* interfaces = device->getDeviceInterfaces();
      for (u32 index = 0, count = countInterfaces(interfaces); index < count; ++index)
        nQVZOR240_notifyUserspaceAddEvent(interfaces[index]->kernelHandle());
      return toKernelLayerStatus(status.code);
    }
  }

  if (device != nullptr) {
    driverRemoveDevice(device);
    driverDestroyDevice(device);
  }
  *deviceContext = nullptr;
  return toKernelLayerStatus(status.code);
}

void driverRemoveDevice(void* deviceObject) {
  if (deviceObject == nullptr) return;
  auto* const device = static_cast<tDevice*>(deviceObject);
  if (device->pnpState() == kPnPStateNotPresent) return;

  unregisterInterfaceProperties(*device);
  unregisterDeviceProperties(*device);
  unregisterBusProperties(*device);

  tStatus status;
  (void)device->transitionPnPState(tEventDescriptor{nullptr}, kPnPStateNotPresent, kSuspendClose, 0,
                                   status);

  tDeviceInterface* const* interfaces = device->getDeviceInterfaces();
  unregisterInterfaces(interfaces, countInterfaces(interfaces));
}

void driverDestroyDevice(void* deviceObject) {
  if (deviceObject == nullptr) return;
  delete static_cast<tDevice*>(deviceObject);
}

// ---- Memory maps ---------------------------------------------------------------

i32 driverMmap(void* session, u64 offset, u64 userMap, u32* made, u64* mapObject) {
  tStatus status;
  tEventDescriptor const context{asSession(session)};
  // Only the low 16 bits of the offset word select what is mapped.
  auto* const map = createObject<tUserMemoryMap>(status, context.session, userMap,
                                                 static_cast<u32>(offset & 0xFFFFu));
  // Without the map object nothing can be mapped: the caller learns why.
  if (map == nullptr) return toKernelLayerStatus(status.code);

  context.session->device()->mapMemory(context, *map, status);
  if (status.isFatal()) {
    destroyObject(map);
  } else {
    *mapObject = reinterpret_cast<uintptr_t>(map);
    *made = 1;
  }
  return toKernelLayerStatus(status.code);
}

void driverUnmap(u64 mapObject) {
  auto* const map = reinterpret_cast<tUserMemoryMap*>(static_cast<uintptr_t>(mapObject));
  if (map == nullptr) return;
  tEventDescriptor const context{map->session()};
  context.session->device()->unmapMemory(context, *map);
  destroyObject(map);
}

void scheduleDeferredCall(void* record) {
  // The layer made the handle when the device set up its deferred call and
  // keeps it in the record's second word; the rest of the record is the
  // device's own, handed back to it when the call runs.
  nQVZOR100_scheduleDPC(static_cast<u64 const*>(record)[1], record);
}

}  // namespace qvrm7_driver::nQVWEND000
