// The platform's PCI device: the device core extended with what comes from
// the PCI bus: a copy of the PCI description, the sixteen bus properties,
// the PCI Express link fields from configuration space, the slot path, the
// kernel mappings of memory BARs, the DMA mask and the device interrupt.
#pragma once

#include "platform/containers/tArray.h"
#include "platform/containers/tBasicString.h"
#include "platform/deviceCore.h"
#include "platform/deviceProperty.h"
#include "platform/pciDescription.h"
#include "platform/status.h"
#include "platform/synchronization.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// What a device that takes its interrupt installs. Called at interrupt
// level; true when the interrupt was this device's.
class iPrimaryInterruptHandler {
 public:
  virtual ~iPrimaryInterruptHandler();
  virtual bool handleInterrupt() = 0;
};

// The bus properties; the last four only for a device with a trained PCI
// Express link.
inline constexpr u32 kPCIPropertyCount = 16;
inline constexpr u32 kPCIPropertyCountWithoutLink = 12;
// "busType" and "busSubType" read from the most significant byte.
inline constexpr u32 kBusTypePCI = 0x20706369;      // " pci"
inline constexpr u32 kBusSubTypePCIe = 0x70636965;  // "pcie"

class tPCIDevice : public tDevice {
 public:
  // Bytes of the slot path: one per bridge above the device and its own.
  static constexpr u64 kSlotPathCapacity = 256;
  using tSlotPath = tArray<u8, kSlotPathCapacity>;
  using tSlotPathString = tBasicString<char>;

  tPCIDevice(tPCIDescription const& description, tStatus& status);
  // Relinquishes an interrupt still reserved before anything it uses goes.
  ~tPCIDevice() override;

  // Slot 19: reads the PCI Express link fields; the context is not used.
  void initializeDevice(tEventDescriptor const& context, tStatus& status) override;
  // Slot 20.
  void busHook() override;
  // Slot 21: the widest mask the layer takes, falling back to 32 bits.
  void configureDMA(u32 type, tStatus& status) override;
  // Slots 26 and 27.
  void fillPCIProperties() override;
  tPropertyList getBusProperties() override;

  // Slots 28 to 31. A reservation refused by the layer leaves nothing
  // reserved; a second one while an interrupt is held is refused.
  virtual void reserveInterrupt(iPrimaryInterruptHandler* handler, tStatus& status, u32 flags);
  virtual void relinquishInterrupt();
  // The interrupt spin lock that the handler runs under; null on failure.
  virtual tInterruptSpinLock* reserveInterruptLocked(iPrimaryInterruptHandler* handler,
                                                     tStatus& status, u32 flags);
  virtual void releaseInterruptLocked(tInterruptSpinLock* lock);

  // The kernel address of the whole memory resource, 0 on failure. The BAR
  // number indexes the memory table. Mode 1 asks for a cached mapping.
  u64 mapBAR(u8 bar, tStatus& status, u32 mode);
  void unmapBAR(u8 bar, u64 address, u32 mode);
  // The size of a memory resource; 0 for a BAR number it does not have.
  u64 memoryResourceSize(u8 bar) const;

  // The configuration offset of a capability, 0 (and -52006) when absent.
  static u8 findPCICapability(u8 id, tPCIDescription const& description, tStatus& status);
  // "dddd:rr" (domain, root hierarchy) then ":xx" per bridge above the
  // device and one for the device: (device << 3) | function each.
  static void buildPCISlotPath(tSlotPathString& path, tPCIDescription const& description,
                               tStatus& status);

  // Called by the layer at interrupt level with the device as context.
  static bool interruptTrampoline(u32 interruptNumber, void* context);
  static bool interruptTrampolineLocked(u32 interruptNumber, void* context);

  tPCIDescription const& description() const { return description_; }
  // The pair {owner, kernel parent} that interface registration reads.
  u64 const* identity() const { return identity_; }
  u64 kernelParent() const { return description_.kernelParent; }
  char const* slotPath() const { return slotPath_.c_str(); }
  bool interruptReserved() const { return currentHandler() != nullptr; }

 private:
  void readPCIeLinkInfo(tStatus& status);
  void reserveCore(iPrimaryInterruptHandler* handler, nQVZOR1400_tInterruptFunction trampoline,
                   tStatus& status, u32 flags);
  iPrimaryInterruptHandler* currentHandler() const;

  u64* identity_;
  tPCIDescription description_;
  tPropertyRecord properties_[kPCIPropertyCount];
  tPropertyRecord* propertyList_[kPCIPropertyCount + 1];
  u64 propertyCount_;
  tInterruptSpinLock interruptLock_;
  iPrimaryInterruptHandler* interruptHandler_;
  tSlotPathString slotPath_;
};

}  // namespace qvrm7_driver::nQVWEND000
