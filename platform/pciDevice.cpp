#include "platform/pciDevice.h"

#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kInterruptReserveFailedSite{"tPCIDevice", 93};
constexpr StatusSite kDMAMaskRefusedSite{"tPCIDevice", 192};
constexpr StatusSite kBARMapFailedSite{"tPCIDevice", 212};
// A BAR number that names no memory resource of the device.
constexpr StatusSite kNoSuchBARSite{"tPCIDevice", 206};
// An interrupt reserved while one is held.
constexpr StatusSite kInterruptAlreadyReservedSite{"tPCIDevice", 87};
// An interrupt reserved for a device that has none, or without a handler.
constexpr StatusSite kNoInterruptSite{"tPCIDevice", 89};
constexpr StatusSite kInterruptLockCreateSite{"synchronization", 1007};

// Property indices, in publishing order.
enum : u32 {
  kBusType,
  kBusSubType,
  kBusNumber,
  kDeviceNumber,
  kFunctionNumber,
  kVendorID,
  kDeviceID,
  kSubsystemVendorID,
  kSubsystemID,
  kRevision,
  kNumaNode,
  kSlotPath,
  kMaxLinkWidth,
  kLinkWidth,
  kMaxTransferRate,
  kTransferRate,
};

constexpr char const* kPropertyNames[kPCIPropertyCount] = {
    "busType",
    "busSubType",
    "pciBusNumber",
    "pciDeviceNumber",
    "pciFunctionNumber",
    "pciVendorID",
    "pciDeviceID",
    "pciSubsystemVendorID",
    "pciSubsystemID",
    "pciRevision",
    "numaNode",
    "pciSlotPath",
    "pcieMaxLinkWidth",
    "pcieLinkWidth",
    "pcieMaxTransferRate",
    "pcieTransferRate",
};

u64 typeOf(u32 index) {
  if (index == kNumaNode) return kPropertyInt32;
  if (index == kSlotPath) return kPropertyText;
  return kPropertyUInt32;
}

constexpr u64 kDMAMask64 = ~u64(0);
constexpr u64 kDMAMask32 = 0xFFFFFFFFu;

// The layer wants bit 0 on every reservation of ours.
constexpr u32 kInterruptFlagsAlways = 1;

}  // namespace

iPrimaryInterruptHandler::~iPrimaryInterruptHandler() = default;

tPCIDevice::tPCIDevice(tPCIDescription const& description, tStatus& status)
    : tDevice(status),
      identity_(nullptr),
      description_(description),
      properties_{},
      propertyList_{},
      propertyCount_(0),
      interruptLock_{},
      interruptHandler_(nullptr) {
  for (u32 i = 0; i < kPCIPropertyCount; ++i) properties_[i].type = typeOf(i);
  description_.owner = reinterpret_cast<uintptr_t>(this);
  identity_ = &description_.owner;
  buildPCISlotPath(slotPath_, description_, status);
}

tPCIDevice::~tPCIDevice() {
  // The layer may still call the trampoline until the reservation goes, and
  // the trampoline uses both the handler and the lock.
  relinquishInterrupt();
  destroySpinLock(interruptLock_.handle);
  interruptLock_.savedState = 0;
}

void tPCIDevice::initializeDevice(tEventDescriptor const&, tStatus& status) {
  readPCIeLinkInfo(status);
}

void tPCIDevice::busHook() {}

// ---- Properties ----------------------------------------------------------------

void tPCIDevice::fillPCIProperties() {
  tPCIDescription const& d = description_;
  bool const pciExpress = d.linkWidth != 0;
  u32 const values[kPCIPropertyCount] = {
      kBusTypePCI,    pciExpress ? kBusSubTypePCIe : kBusTypePCI,
      d.bus,          d.device,
      d.function,     d.vendorID,
      d.deviceID,     d.subsystemVendorID,
      d.subsystemID,  d.revision,
      d.numaNode,     0,
      d.maxLinkWidth, d.linkWidth,
      d.maxLinkSpeed, d.linkSpeed,
  };
  u32 const count = pciExpress ? kPCIPropertyCount : kPCIPropertyCountWithoutLink;
  for (u32 i = 0; i < count; ++i) {
    tPropertyRecord& record = properties_[i];
    record.name = kPropertyNames[i];
    record.type = typeOf(i);
    if (i == kSlotPath) {
      record.setText(slotPath_.c_str());
    } else {
      record.setValue32(values[i]);
    }
    propertyList_[i] = &record;
  }
  propertyList_[count] = nullptr;
  propertyCount_ = count;
}

tPropertyList tPCIDevice::getBusProperties() { return propertyList_; }

// ---- DMA -------------------------------------------------------------------------

void tPCIDevice::configureDMA(u32 type, tStatus& status) {
  if (status.isFatal()) return;
  u64 const handle = description_.kernelDevice;
  if (type == tDMAConfiguration::kDMA64Bit) {
    if (nQVZOR220_pciSetDMAMask(handle, kDMAMask64) == 0) {
      dmaConfiguration().configure(tDMAConfiguration::kDMA64Bit, &description_);
      return;
    }
  }
  i32 const result = nQVZOR220_pciSetDMAMask(handle, kDMAMask32);
  translateZORStatusToWENDStatusWithErrorDetails(result, status, kDMAMaskRefusedSite);
  if (result != 0) return;
  // Only 32 bits are in force now, whatever was asked: recording a wider
  // type would let DMA buffers land where the device cannot reach them.
  u32 const recorded =
      type == tDMAConfiguration::kDMANotConfigured ? type : u32{tDMAConfiguration::kDMA32Bit};
  dmaConfiguration().configure(recorded, &description_);
}

// ---- BARs --------------------------------------------------------------------------

u64 tPCIDevice::memoryResourceSize(u8 bar) const {
  if (bar >= description_.memoryCount || bar >= kPCIResourceSlots) return 0;
  return description_.memoryTable[bar].size;
}

u64 tPCIDevice::mapBAR(u8 bar, tStatus& status, u32 mode) {
  if (status.isFatal()) return 0;
  if (bar >= description_.memoryCount || bar >= kPCIResourceSlots) {
    setStatus(status, kStatusBadArgument, kNoSuchBARSite);
    return 0;
  }
  tPCIResourceEntry const& resource = description_.memoryTable[bar];
  u64 const address = nQVZOR230_mapPhysicalToKernel(resource.address, resource.size, mode == 1);
  if (address == 0) setStatus(status, kStatusMemoryFull, kBARMapFailedSite);
  return address;
}

void tPCIDevice::unmapBAR(u8, u64 address, u32 mode) {
  if (address != 0) nQVZOR230_unmapPhysicalFromKernel(address, mode == 1);
}

// ---- Interrupts ------------------------------------------------------------------

iPrimaryInterruptHandler* tPCIDevice::currentHandler() const {
  return __atomic_load_n(&interruptHandler_, __ATOMIC_ACQUIRE);
}

void tPCIDevice::reserveCore(iPrimaryInterruptHandler* handler,
                             nQVZOR1400_tInterruptFunction trampoline, tStatus& status, u32 flags) {
  if (status.isFatal()) return;
  __atomic_store_n(&interruptHandler_, handler, __ATOMIC_RELEASE);
  description_.interruptRegistration.function = trampoline;
  description_.interruptRegistration.context = this;
  i32 const result =
      nQVZOR1400_reserveInterrupt(description_.interruptNumber, &description_.interruptRegistration,
                                  description_.driverName, flags | kInterruptFlagsAlways);
  if (result == 0) return;
  translateZORStatusToWENDStatusWithErrorDetails(result, status, kInterruptReserveFailedSite);
  // Nothing was reserved, so nothing may be relinquished later.
  __atomic_store_n(&interruptHandler_, nullptr, __ATOMIC_RELEASE);
  description_.interruptRegistration.function = nullptr;
  description_.interruptRegistration.context = nullptr;
}

void tPCIDevice::reserveInterrupt(iPrimaryInterruptHandler* handler, tStatus& status, u32 flags) {
  if (status.isFatal()) return;
  if (currentHandler() != nullptr) {
    setStatus(status, kStatusNotSupported, kInterruptAlreadyReservedSite);
    return;
  }
  if (description_.interruptKind == 0 || handler == nullptr) {
    setStatus(status, kStatusNotSupported, kNoInterruptSite);
    return;
  }
  reserveCore(handler, interruptTrampoline, status, flags);
}

tInterruptSpinLock* tPCIDevice::reserveInterruptLocked(iPrimaryInterruptHandler* handler,
                                                       tStatus& status, u32 flags) {
  if (status.isFatal()) return nullptr;
  // The lock of a held reservation is in use by its trampoline.
  if (currentHandler() != nullptr) {
    setStatus(status, kStatusNotSupported, kInterruptAlreadyReservedSite);
    return nullptr;
  }
  if (description_.interruptKind == 0 || handler == nullptr) {
    setStatus(status, kStatusNotSupported, kNoInterruptSite);
    return nullptr;
  }
  // A locked reservation given back with the plain relinquish leaves its lock
  // behind; no trampoline can use it any more.
  destroySpinLock(interruptLock_.handle);
  interruptLock_.handle = createSpinLock(status, kInterruptLockCreateSite);
  if (status.isFatal()) return nullptr;
  reserveCore(handler, interruptTrampolineLocked, status, flags);
  if (status.isNotFatal()) return &interruptLock_;
  destroySpinLock(interruptLock_.handle);
  interruptLock_.savedState = 0;
  return nullptr;
}

void tPCIDevice::relinquishInterrupt() {
  if (currentHandler() == nullptr) return;
  nQVZOR100_relinquishInterrupt(description_.interruptNumber, &description_.interruptRegistration);
  __atomic_store_n(&interruptHandler_, nullptr, __ATOMIC_RELEASE);
}

void tPCIDevice::releaseInterruptLocked(tInterruptSpinLock* lock) {
  if (lock == nullptr) return;
  relinquishInterrupt();
  destroySpinLock(lock->handle);
  lock->savedState = 0;
}

bool tPCIDevice::interruptTrampoline(u32, void* context) {
  iPrimaryInterruptHandler* const handler = static_cast<tPCIDevice*>(context)->currentHandler();
  if (handler == nullptr) return false;
  return handler->handleInterrupt();
}

bool tPCIDevice::interruptTrampolineLocked(u32, void* context) {
  tPCIDevice* const device = static_cast<tPCIDevice*>(context);
  iPrimaryInterruptHandler* const handler = device->currentHandler();
  if (handler == nullptr) return false;
  device->interruptLock_.acquire();
  bool const claimed = handler->handleInterrupt();
  device->interruptLock_.release();
  return claimed;
}

}  // namespace qvrm7_driver::nQVWEND000
