// The bridge chip's interrupt: enabling it, claiming it for the device, and
// reading what caused it, from the chip's queue register or, in the ISP
// variant, from a status ring the chip writes into host memory.
#pragma once

#include "platform/dma/dmaMap.h"
#include "platform/dma/vexusRegisters.h"
#include "platform/dmaConfiguration.h"
#include "platform/pageList.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tVexusInterruptManager {
 public:
  // Offsets from the chip's register address.
  enum : u32 {
    kControl = 0x5C,
    kStatus = 0x60,
    kQueue = 0x68,
    kRingControl = 0x3B4,
    kRingAddress = 0x3B8,  // 64
    kRingClearFirst = 0x3C0,
    kRingClearLast = 0x3F8,
  };
  // Control words: set/clear pairs, the set bit above the clear bit.
  enum : u32 {
    kControlEnable = 0x80000000,
    kControlDisable = 0x40000000,
    kControlFeature1Set = 0x20000000,
    kControlFeature1Clear = 0x10000000,
    kControlFeature2Set = 0x08000000,
    kControlFeature2Clear = 0x04000000,
    kControlFeature3Set = 0x800,
    kControlFeature3Clear = 0x400,
    kControlFeature4Set = 0x200,
    kControlFeature4Clear = 0x100,
    kControlRing = 1,
    // Disabled with every feature cleared.
    kControlAllOff = kControlDisable | kControlFeature1Clear | kControlFeature2Clear |
                     kControlFeature3Clear | kControlFeature4Clear,
  };
  static constexpr u32 kStatusPending = 0x80000000;
  static constexpr u32 kNoDevice = 0xFFFFFFFF;  // what a read of a device that has gone gives

  // Leaves the interrupt disabled with every feature cleared.
  tVexusInterruptManager(tVexusRegisterRecord const* record, bool alwaysClaim);
  // Disables the interrupt.
  virtual ~tVexusInterruptManager();
  tVexusInterruptManager(tVexusInterruptManager const&) = delete;
  tVexusInterruptManager& operator=(tVexusInterruptManager const&) = delete;

  virtual void deactivate();
  virtual void reactivate();
  // Whether the interrupt is this device's; a claimed one is disabled.
  virtual bool claimInterrupt();
  // Enable with flag bit 24 or not: feature 1; bits 25, 11 and 9: features
  // 2 to 4. Flags 0 disable everything.
  virtual void configureInterrupts(u32 flags);
  // The next cause, 0 when none is left.
  virtual u32 dequeueInterrupt();
  virtual void enableInterrupts();

 protected:
  u32 read(u32 offset) const { return readVexus32(record_->mappedAddress, offset); }
  void write(u32 offset, u32 value) { writeVexus32(record_->mappedAddress, offset, value); }
  void write64(u32 offset, u64 value) { writeVexus64(record_->mappedAddress, offset, value); }
  bool alwaysClaims() const { return alwaysClaim_ != 0; }

 private:
  tVexusRegisterRecord const* record_;
  u8 alwaysClaim_;
};

class tVexusInterruptManagerISP : public tVexusInterruptManager {
 public:
  // A ring of 2 x entries status words, followed by extraWords more 8-byte
  // words of the chip's, in DMA memory the chip writes to.
  tVexusInterruptManagerISP(tVexusRegisterRecord const* record, tDMAConfiguration* configuration,
                            i32 extraWords, u32 entries, i32 alwaysClaim, tStatus& status);
  ~tVexusInterruptManagerISP() override;

  void deactivate() override;
  void reactivate() override;
  bool claimInterrupt() override;
  u32 dequeueInterrupt() override;
  void enableInterrupts() override;

  bool ringEnabled() const { return ringEnabled_ != 0; }
  u32 ringEntries() const { return entryCount_; }
  tStandardDMAMap const& ringMap() const { return map_; }

 private:
  void setUpRing();
  void turnRingOff();

  tPageList ringList_;
  tStandardDMAMap map_;
  u64 ringKernel_;
  u32 entryCount_;
  u32 readIndex_;
  u8 ringEnabled_;
};

}  // namespace qvrm7_driver::nQVWEND000
