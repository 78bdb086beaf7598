// Every service the driver takes from the kernel services layer. The driver
// object imports exactly these symbols and nothing else; the user-space
// stand-in in host/ defines them from this same header, so a signature can
// never drift between the two sides.
//
// Result conventions: handles and pointers are 0 when the layer refused;
// operations that return a layer code return 0 on success and a negative
// code from -51000 to -51550 on failure.
#pragma once

#include <stdarg.h>

#include "platform/types.h"

extern "C" {

// ---- Memory -------------------------------------------------------------
void* nQVZOR100_malloc(uint64_t size);
void nQVZOR100_free(void* block);
void* nQVZOR240_memSet(void* destination, int32_t byte, uint64_t count);
void* nQVZOR180_memCpy(void* destination, void const* source, uint64_t count);
void* nQVZOR180_memMove(void* destination, void const* source, uint64_t count);
uint32_t nQVZOR100_getPageSize(void);

// ---- Output and halt ----------------------------------------------------
int32_t nQVZOR100_vsprintf(char* buffer, char const* format, va_list arguments);
// -1 when the text did not fit (the buffer then holds the cut text).
int32_t nQVZOR100_vsnPrintf(char* buffer, uint64_t size, char const* format, va_list arguments);
void nQVZOR100_printToDebugger(char const* text);
[[noreturn]] void nQVZOR250_halt(char const* driverName, char const* file, uint64_t line,
                                 char const* text);

// ---- Driver registration --------------------------------------------------
// The record the layer hands to the driver entry. The layer owns it and the
// bytes the driver does not write; the driver fills the name and callbacks.
struct nQVZOR200_tDriverRecord {
  uint8_t layerHeader[0x18];
  char const* driverName;
  uint8_t layerWord[8];
  int32_t (*open)(void* openContext, void** fileContext);
  void (*close)(void* session);
  int32_t (*transferA)(void* session, uint64_t userAddress, uint64_t size, uint64_t unused,
                       uint64_t* transferred);
  int32_t (*transferB)(void* session, uint64_t userAddress, uint64_t size, uint64_t unused,
                       uint64_t* transferred);
  int32_t (*ioctl)(void* session, uint32_t code, uint64_t headerAddress);
  void (*unload)(nQVZOR200_tDriverRecord* record);
  int32_t (*addDevice)(void* pciDeviceRecord, uint64_t unused, void** deviceContext);
  void (*removeDevice)(void* device);
  int32_t (*mmap)(void* session, uint64_t offset, uint64_t userMap, uint32_t* made,
                  uint64_t* mapObject);
  void (*unmap)(uint64_t mapObject);
  void (*destroyDevice)(void* device);
};
static_assert(offsetof(nQVZOR200_tDriverRecord, driverName) == 0x18);
static_assert(offsetof(nQVZOR200_tDriverRecord, open) == 0x28);
static_assert(offsetof(nQVZOR200_tDriverRecord, unload) == 0x50);
static_assert(offsetof(nQVZOR200_tDriverRecord, destroyDevice) == 0x78);
static_assert(sizeof(nQVZOR200_tDriverRecord) == 0x80);

// The one symbol the driver object exports.
int32_t nQVWEND200_driverEntry(nQVZOR200_tDriverRecord* record);

// >= 0 success.
int32_t nQVZOR200_registerDriver(nQVZOR200_tDriverRecord* record);
void nQVZOR200_unregisterDriver(nQVZOR200_tDriverRecord* record);

// ---- Synchronization ----------------------------------------------------
uint64_t nQVZOR150_createMutex(void);
void nQVZOR150_acquireMutex(uint64_t mutex);
void nQVZOR150_releaseMutex(uint64_t mutex);
void nQVZOR150_destroyMutex(uint64_t mutex);

uint64_t nQVZOR100_createSpinLock(void);
void nQVZOR100_destroySpinLock(uint64_t spinLock);
uint64_t nQVZOR110_acquireSpinLockInterrupt(uint64_t spinLock);
void nQVZOR110_releaseSpinLockInterrupt(uint64_t spinLock, uint64_t savedState);
void nQVZOR100_acquireSpinLockDPC(uint64_t spinLock);
void nQVZOR100_releaseSpinLockDPC(uint64_t spinLock);

uint64_t nQVZOR100_getThreadHandle(void);
uint32_t nQVZOR100_getThreadID(void);

// A single-use event lives in 64 bytes of the caller's storage and needs no
// destruction; once released it stays released.
enum { kQVZORSingleUseEventSize = 64 };
// Run by a bounded wait, in the waiting thread, when its time runs out.
struct nQVZOR100_tTimeoutCallback {
  void (*function)(void* context);
  void* context;
};
void nQVZOR100_initializeSingleUseEvent(void* event);
void nQVZOR100_releaseSingleUseEvent(void* event);
void nQVZOR100_waitForSingleUseEvent(void* event);
// Negative when the wait was interrupted.
int32_t nQVZOR100_waitForSingleUseEventInterruptible(void* event);
// The timeout is in the layer's unit: milliseconds.
int32_t nQVZOR100_waitForSingleUseEventTimeout(void* event, uint32_t timeout,
                                               nQVZOR100_tTimeoutCallback* callback);
int32_t nQVZOR100_waitForSingleUseEventTimeoutInterruptible(void* event, uint32_t timeout,
                                                            nQVZOR100_tTimeoutCallback* callback);

// ---- Time ---------------------------------------------------------------
uint64_t nQVZOR1_getMonotonicCounter(void);  // nanoseconds
uint64_t nQVZOR110_getTimerCount(void);      // timer ticks
uint32_t nQVZOR100_getTimerInterval(void);   // microseconds per tick
void nQVZOR250_sleepTimeout(uint32_t microseconds);
void nQVZOR100_getTimeOfDay(uint32_t* seconds, uint32_t* microseconds);

// ---- Ioctl buffer copies ----------------------------------------------------
// 0 when every byte was copied; a negative layer code when the user range is
// not the caller's to read or write, and then nothing was copied. A count of 0
// copies nothing and succeeds.
int32_t nQVZOR100_replicateInboundIOControlBuffer(void* kernelDestination, void const* userSource,
                                                  uint32_t count);
int32_t nQVZOR100_replicateOutboundIOControlBuffer(void* userDestination, void const* kernelSource,
                                                   uint32_t count);

// ---- User memory maps -------------------------------------------------------
// A user map is the layer's record of one memory-map request of a caller: the
// size and address of the caller's area and the access it asked for.
enum { kQVZORUserMapWritable = 2 };  // access-mode bit
uint64_t nQVZOR220_tUserMemMap_getSize(uint64_t userMap);
uint32_t nQVZOR220_tUserMemMap_getAccessMode(uint64_t userMap);
uint64_t nQVZOR220_tUserMemMap_getVirtualAddress(uint64_t userMap);
// Both return 0 or a negative layer code.
int32_t nQVZOR220_tUserMemMap_mapPageList(uint64_t userMap, uint64_t pageList, uint64_t firstPage,
                                          uint64_t pageCount);
int32_t nQVZOR2280_tUserMemMap_mapPhysicalAddress(uint64_t userMap, uint64_t physicalAddress,
                                                  uint64_t size, uint32_t cached);

// ---- Device interfaces, properties and user-space events ----------------------
// Registrations return a handle, 0 when refused.
uint64_t nQVZOR240_registerDeviceInterface(nQVZOR200_tDriverRecord* record, uint64_t parent,
                                           char const* name, uint32_t index, void* interfaceObject);
void nQVZOR200_unregisterDeviceInterface(uint64_t interfaceHandle);
void nQVZOR240_notifyUserspaceAddEvent(uint64_t interfaceHandle);

// Scopes: 0 device attributes, 1 bus properties, 2 interface properties
// (whose parent is the interface's handle).
uint64_t nQVZOR200_registerProperty(uint32_t scope, uint64_t parent, char const* name,
                                    void const* value, uint64_t size);
void nQVZOR200_unregisterProperty(uint64_t propertyHandle);

// ---- Deferred calls -----------------------------------------------------------
// Queues the layer's deferred call; record is what the driver handed the layer
// when it made the handle.
void nQVZOR100_scheduleDPC(uint64_t deferredCall, void* record);

// ---- PCI devices, kernel mappings, register access and interrupts -----------
// The layer's records are little-endian wire layouts shared with the layer;
// the driver only reads them. Bytes the driver has no use for belong to the
// layer.

// Resource flags: bit 0 puts a resource in the description's first table,
// bit 1 (without bit 0) in its memory table.
enum { kQVZORResourceFirstTable = 1, kQVZORResourceMemory = 2 };
enum { kQVZORPCIResourceCount = 6 };

struct __attribute__((packed)) nQVZOR200_tPCIResource {
  uint64_t address;
  uint64_t size;
  uint32_t flags;
  uint8_t layerWord[4];
};
static_assert(sizeof(nQVZOR200_tPCIResource) == 24);

// One PCI function, as the layer hands it to the add-device callback.
struct __attribute__((packed)) nQVZOR200_tPCIDeviceRecord {
  uint64_t deviceHandle;  // passed to configuration, domain and DMA-mask calls
  uint8_t layerWord[8];
  uint16_t bus;
  uint16_t device;
  uint16_t function;
  uint16_t vendorID;
  uint16_t deviceID;
  uint16_t subsystemVendorID;
  uint16_t subsystemID;
  uint16_t revision;          // low byte
  uint32_t interruptPresent;  // non-zero when the function has an interrupt
  uint32_t interruptNumber;
  uint8_t layerWord2[8];
  nQVZOR200_tPCIResource resources[kQVZORPCIResourceCount];
};
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, bus) == 16);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, function) == 20);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, vendorID) == 22);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, subsystemID) == 28);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, revision) == 30);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, interruptPresent) == 32);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, interruptNumber) == 36);
static_assert(offsetof(nQVZOR200_tPCIDeviceRecord, resources) == 48);
static_assert(sizeof(nQVZOR200_tPCIDeviceRecord) == 192);

// One bridge, as bus enumeration reports it.
struct __attribute__((packed)) nQVZOR100_tPCIBusRecord {
  uint16_t bus;
  uint16_t device;
  uint16_t function;
  uint8_t layerWord[10];
  uint16_t secondaryBus;
  uint16_t subordinateBus;
  uint16_t domain;
  uint8_t layerWord2[2];
};
static_assert(offsetof(nQVZOR100_tPCIBusRecord, function) == 4);
static_assert(offsetof(nQVZOR100_tPCIBusRecord, secondaryBus) == 16);
static_assert(offsetof(nQVZOR100_tPCIBusRecord, subordinateBus) == 18);
static_assert(offsetof(nQVZOR100_tPCIBusRecord, domain) == 20);
static_assert(sizeof(nQVZOR100_tPCIBusRecord) == 24);

// Configuration space: 0 on success; on failure the value is not written.
int32_t nQVZOR100_pciConfigRead8(uint64_t deviceHandle, uint32_t offset, uint8_t* value);
int32_t nQVZOR100_pciConfigRead16(uint64_t deviceHandle, uint32_t offset, uint16_t* value);
int32_t nQVZOR100_pciConfigWrite16(uint64_t deviceHandle, uint32_t offset, uint16_t value);

// Negative when the layer knows no domain for the device.
int32_t nQVZOR240_getPCIDomain(uint64_t deviceHandle);
// Calls back once per bridge, in enumeration order, before it returns.
typedef void (*nQVZOR100_tPCIBusCallback)(void* context, nQVZOR100_tPCIBusRecord const* bridge);
int32_t nQVZOR100_enumeratePCIBuses(nQVZOR100_tPCIBusCallback callback, void* context,
                                    uint64_t reserved);
// 0xFFFFFFFF when the device belongs to no node.
uint32_t nQVZOR1_getDeviceNUMANode(nQVZOR200_tPCIDeviceRecord const* record);

// 0 when the device may address memory through the mask.
int32_t nQVZOR220_pciSetDMAMask(uint64_t deviceHandle, uint64_t mask);
// Non-zero when the machine has memory above 4 GiB, where page lists may lie.
int32_t nQVZOR200_isAddressableMemOver4G(void);

// Kernel mappings of physical ranges (device memory): 0 when refused. The
// cache mode is 0 for uncached register space; the unmap repeats it.
uint64_t nQVZOR230_mapPhysicalToKernel(uint64_t physicalAddress, uint64_t size, uint32_t cacheMode);
void nQVZOR230_unmapPhysicalFromKernel(uint64_t kernelAddress, uint32_t cacheMode);

// Register access at a kernel address inside a mapping.
uint8_t nQVZOR100_memoryRead8(uint64_t address);
uint16_t nQVZOR100_memoryRead16(uint64_t address);
uint32_t nQVZOR100_memoryRead32(uint64_t address);
void nQVZOR100_memoryWrite8(uint64_t address, uint8_t value);
void nQVZOR100_memoryWrite16(uint64_t address, uint16_t value);
void nQVZOR100_memoryWrite32(uint64_t address, uint32_t value);

// Interrupts. The layer calls the function at interrupt level with the
// interrupt number and the context; it answers whether the interrupt was
// its device's. The record stays the caller's and names the reservation
// when it is relinquished; once relinquish returns, the function is not
// running and will not be called again.
typedef bool (*nQVZOR1400_tInterruptFunction)(uint32_t interruptNumber, void* context);
struct __attribute__((packed)) nQVZOR1400_tInterruptRegistration {
  nQVZOR1400_tInterruptFunction function;
  void* context;
};
static_assert(sizeof(nQVZOR1400_tInterruptRegistration) == 16);
int32_t nQVZOR1400_reserveInterrupt(uint32_t interruptNumber,
                                    nQVZOR1400_tInterruptRegistration* registration,
                                    char const* driverName, uint32_t flags);
void nQVZOR100_relinquishInterrupt(uint32_t interruptNumber,
                                   nQVZOR1400_tInterruptRegistration* registration);

// ---- Page lists and scatter-gather lists ---------------------------------------
// A page list is a block of kernel pages the layer allocated; its handle is
// 0 when the layer refused. Allocation flags: the pages are physically
// contiguous; they lie below 4 GiB; they are filled with zeros. The layer
// takes nothing else: the pages come from its own pool.
enum {
  kQVZORPageListContiguous = 1,
  kQVZORPageListBelow4G = 2,
  kQVZORPageListZeroed = 4,
};
uint64_t nQVZOR220_tPageList_createFromAllocation(uint64_t pageCount, uint32_t flags);
// The same, from the memory of a NUMA node.
uint64_t nQVZOR1_tPageList_createFromAllocationNUMA(uint64_t pageCount, uint32_t flags,
                                                    uint32_t node);
void nQVZOR220_tPageList_destroy(uint64_t pageList);
// The physical address of the byte at offset, and in contiguous the number of
// bytes from there on that are physically contiguous (to the end of the list
// at most). Offset beyond the list: 0 and 0.
uint64_t nQVZOR220_tPageList_getPhysicalAddress(uint64_t pageList, uint64_t offset,
                                                uint64_t* contiguous);
// A kernel mapping of the whole list, or of one page of it; 0 when refused.
// Each is undone with the address it gave.
uint64_t nQVZOR220_tPageList_mapToKernel(uint64_t pageList);
void nQVZOR220_tPageList_unmapFromKernel(uint64_t pageList, uint64_t kernelAddress);
uint64_t nQVZOR220_tPageList_mapOnePageToKernel(uint64_t pageList, uint64_t pageIndex);
void nQVZOR220_tPageList_unmapOnePageFromKernel(uint64_t pageList, uint64_t kernelAddress);

// A scatter-gather object maps part of a page list for a device's DMA and
// describes it as bus-address segments, coalesced where the pages are. It
// holds at most the number of pages it was created for; 0 when refused.
uint64_t nQVZOR220_tSGL_createForPCI(uint64_t deviceHandle, uint64_t pageCount);
void nQVZOR220_tSGL_destroy(uint64_t sgl);
// 0 or a negative layer code: a range outside the list, more segments than
// the object holds, or an object that is already mapped.
int32_t nQVZOR220_tSGL_map(uint64_t sgl, uint64_t pageList, uint64_t offset, uint64_t size,
                           bool fromDevice);
void nQVZOR220_tSGL_unmap(uint64_t sgl);  // nothing when it is not mapped
// Hands the mapped pages to the device, and back to the CPU once the device
// has written bytes of them.
void nQVZOR220_tSGL_prepareForDMA(uint64_t sgl);
void nQVZOR220_tSGL_completeDMA(uint64_t sgl, uint64_t bytes);
uint64_t nQVZOR220_tSGL_numSegments(uint64_t sgl);
// The object's own cursor: set to a segment, read, stepped on. A cursor
// past the last segment reads 0.
void nQVZOR220_tSGL_iterate(uint64_t sgl, uint64_t index);
uint64_t nQVZOR220_tSGL_getSegmentAddress(uint64_t sgl);
uint64_t nQVZOR220_tSGL_getSegmentSize(uint64_t sgl);
void nQVZOR220_tSGL_nextSegment(uint64_t sgl);

}  // extern "C"
