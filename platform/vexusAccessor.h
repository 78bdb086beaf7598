// The bridge chip's registers seen through BAR 0: read directly, or through
// the address window that the chip's context register places in the BAR; the
// walk of the chip's capability list; and the one capability this driver
// reads, the PXI geographic address.
//
// The chip's capability data comes from hardware, so nothing it says is
// trusted: every access is bounded by the mapped BAR, and every walk by a
// fixed number of steps.
#pragma once

#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tPCIDevice;

// The accessor lives for one reading. It maps BAR 0 when it is built; its
// user unmaps it through the device with mappedAddress().
class tVexus {
 public:
  static constexpr u32 kContextRegister = 0xC0;  // BAR offsets, always direct
  static constexpr u32 kWindowRegister = 0xE0;
  static constexpr u32 kContextOpen = 0x80;
  enum : u32 { kModeDirect = 1, kModeWindowed = 4 };

  tVexus(tPCIDevice* device, tStatus& status);
  tVexus(tVexus const&) = delete;
  tVexus& operator=(tVexus const&) = delete;

  // Chip registers at a chip address, through the window in windowed mode.
  // An address outside the mapping sets -52006 and reads nothing: the
  // result is then all ones. The status is not looked at first, because a
  // capability reader still reads after a descriptor it rejected.
  u32 read32(u32 address, tStatus& status);
  u16 read16(u32 address, tStatus& status);
  u8 read8(u32 address, tStatus& status);
  // The same, saying whether the access was made.
  bool readChip(u32 address, u32 width, u32& value, tStatus& status);

  // Writes the saved context and window registers back.
  void restoreContext(tStatus& status);

  // Reads the context register for the window's place and size, opens the
  // window over the current window register value, and (when asked) makes
  // every later access windowed.
  void openWindow(bool enterWindowedMode, tStatus& status);
  // Chip addresses become BAR offsets.
  void useDirectAddresses();

  u64 mappedAddress() const { return mappedAddress_; }
  u64 barSize() const { return size_; }
  u32 mode() const { return mode_; }
  u32 windowOffset() const { return windowOffset_; }
  u32 windowMask() const { return windowMask_; }
  u32 currentWindow() const { return currentWindow_; }
  u32 firstCapabilityOffset() const { return firstCapability_; }

 protected:
  // Direct register access at a BAR offset, bounded like every other.
  u32 readRegister(u32 offset, tStatus& status);
  void writeRegister(u32 offset, u32 value, tStatus& status);
  // Reads both registers the window setup changes; false when the BAR is
  // too small to hold them.
  bool saveContext(tStatus& status);
  // The saved registers back, whatever the status says.
  void putBackContext(tStatus& status);
  bool holds(u64 offset, u64 width) const;

  tPCIDevice* device_;
  u64 mappedAddress_;
  u64 base_;
  u64 size_;
  u32 mode_;
  u32 savedContext_;
  u32 savedWindow_;
  u32 windowOffset_;
  u32 currentWindow_;
  u32 windowMask_;
  u32 firstCapability_;
};

template <class tChip>
class tQVCapability;

// Walks the chip's capability list and hands a structure to its reader.
template <class tChip>
class tQVCapabilityPCIAccessor : public tChip {
 public:
  static constexpr u32 kNotFound = 0xFFFFFFFFu;
  static constexpr u32 kCapabilityDirectoryPointer = 12;
  static constexpr u32 kFirstCapabilityPlain = 16;
  static constexpr u32 kFirstCapabilityAlternate = 20;
  // A list longer than this is taken to loop.
  static constexpr u32 kMaxWalk = 1024;

  // Maps BAR 0 and finds where the list starts.
  tQVCapabilityPCIAccessor(tPCIDevice* device, tStatus& status);

  // Finds the capability's structure, from its offset field on, and has it
  // read; the chip's registers are put back afterwards.
  void getCapability(tQVCapability<tChip>& capability, tStatus& status);

  u32 _findCapabilityOffset(u32 id, u32 start, tStatus& status);
  u32 _findNextOffset(u32 current, u32 header, tStatus& status);
};

template <class tChip>
class tQVCapability {
 public:
  virtual ~tQVCapability();
  virtual u32 getID() const = 0;
  virtual void readCapability(tChip& chip, u32 offset, tStatus& status) = 0;

  // On entry the structure to search after, 0 for the list start; after a
  // read, the structure's own offset.
  u32 offset = 0;
};

template <class tChip>
class tGeographicAddress : public tQVCapability<tChip> {
 public:
  static constexpr u32 kID = 0x4741;  // "GA"
  static constexpr u32 kUnknown = 0xFFFFFFFFu;

  ~tGeographicAddress() override;
  u32 getID() const override;
  void readCapability(tChip& chip, u32 offset, tStatus& status) override;

  // The chassis slot, 5 bits; left as its user set it when nothing was read.
  u32 geographicAddress = kUnknown;
};

extern template class tQVCapabilityPCIAccessor<tVexus>;
extern template class tQVCapability<tVexus>;
extern template class tGeographicAddress<tVexus>;

}  // namespace qvrm7_driver::nQVWEND000
