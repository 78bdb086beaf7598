#include "platform/vexusAccessor.h"

#include "platform/kernelServices.h"
#include "platform/pciDevice.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kBadAccessModeSite{"tVexus", 75};
// An access that would fall outside the mapped BAR; it is not made.
constexpr StatusSite kOutsideBARSite{"tVexus", 88};
constexpr StatusSite kBadDirectoryPointerSite{"tQVCapabilityVexusAccessor", 51};
constexpr StatusSite kBadFirstCapabilitySite{"tQVCapabilityVexusAccessor", 60};
constexpr StatusSite kUnsupportedNextPointerSite{"tQVCapabilityPCIAccessor", 94};
constexpr StatusSite kCapabilityNotFoundSite{"tQVCapabilityPCIAccessor", 152};
// A list that did not end within the walk's bound: it loops.
constexpr StatusSite kCapabilityListLoopsSite{"tQVCapabilityPCIAccessor", 158};

constexpr u32 kRegisterBytes = 4;
constexpr u32 kWindowOffsetMask = 0xFFFFFF00u;
constexpr u32 kWindowShiftMask = 31;

// Capability header: ID above, next pointer and its kind below.
constexpr u32 kNextPointerMask = 0xFFFC;
constexpr u32 kNextKindMask = 3;
enum : u32 { kNextAbsolute = 0, kNextAbsoluteHigh = 1, kNextRelative = 2 };
constexpr u32 kHighHalfMask = 0xFFFF0000u;

// Geographic-address descriptor.
constexpr u32 kDescriptorModeMask = 15;
constexpr u32 kDescriptorNothingToRead = 0;

}  // namespace

// ---- tVexus ------------------------------------------------------------------

tVexus::tVexus(tPCIDevice* device, tStatus& status)
    : device_(device),
      mappedAddress_(0),
      base_(0),
      size_(0),
      mode_(kModeDirect),
      savedContext_(0),
      savedWindow_(0),
      windowOffset_(0),
      currentWindow_(0),
      windowMask_(0),
      firstCapability_(0) {
  mappedAddress_ = device_->mapBAR(0, status, 0);
  if (mappedAddress_ == 0) return;
  base_ = mappedAddress_;
  size_ = device_->memoryResourceSize(0);
}

bool tVexus::holds(u64 offset, u64 width) const {
  return base_ != 0 && offset <= size_ && width <= size_ - offset;
}

u32 tVexus::readRegister(u32 offset, tStatus& status) {
  if (!holds(offset, kRegisterBytes)) {
    setStatus(status, kStatusNotAvailable, kOutsideBARSite);
    return 0xFFFFFFFFu;
  }
  return nQVZOR100_memoryRead32(base_ + offset);
}

void tVexus::writeRegister(u32 offset, u32 value, tStatus& status) {
  if (!holds(offset, kRegisterBytes)) {
    setStatus(status, kStatusNotAvailable, kOutsideBARSite);
    return;
  }
  nQVZOR100_memoryWrite32(base_ + offset, value);
}

bool tVexus::readChip(u32 address, u32 width, u32& value, tStatus& status) {
  u32 at;
  u32 window = currentWindow_;
  if (mode_ == kModeWindowed) {
    window = address & windowMask_;
    at = (address & ~windowMask_) + windowOffset_;
  } else {
    at = address + windowOffset_;
  }
  // Both the window's place and the address come from the chip: refuse
  // before the window moves, so a refused read changes nothing.
  if (!holds(at, width)) {
    setStatus(status, kStatusNotAvailable, kOutsideBARSite);
    value = 0xFFFFFFFFu;
    return false;
  }
  if (window != currentWindow_) {
    writeRegister(kWindowRegister, window, status);
    currentWindow_ = window;
  }
  switch (width) {
    case 1:
      value = nQVZOR100_memoryRead8(base_ + at);
      break;
    case 2:
      value = nQVZOR100_memoryRead16(base_ + at);
      break;
    default:
      value = nQVZOR100_memoryRead32(base_ + at);
      break;
  }
  return true;
}

u32 tVexus::read32(u32 address, tStatus& status) {
  u32 value;
  readChip(address, 4, value, status);
  return value;
}

u16 tVexus::read16(u32 address, tStatus& status) {
  u32 value;
  readChip(address, 2, value, status);
  return static_cast<u16>(value);
}

u8 tVexus::read8(u32 address, tStatus& status) {
  u32 value;
  readChip(address, 1, value, status);
  return static_cast<u8>(value);
}

bool tVexus::saveContext(tStatus& status) {
  if (!holds(kContextRegister, kRegisterBytes) || !holds(kWindowRegister, kRegisterBytes)) {
    setStatus(status, kStatusNotAvailable, kOutsideBARSite);
    return false;
  }
  savedContext_ = readRegister(kContextRegister, status);
  savedWindow_ = readRegister(kWindowRegister, status);
  return true;
}

void tVexus::putBackContext(tStatus& status) {
  if (!holds(kContextRegister, kRegisterBytes) || !holds(kWindowRegister, kRegisterBytes)) return;
  writeRegister(kContextRegister, savedContext_, status);
  writeRegister(kWindowRegister, savedWindow_, status);
  currentWindow_ = savedWindow_;
}

void tVexus::restoreContext(tStatus& status) {
  if (status.isFatal()) return;
  putBackContext(status);
}

void tVexus::openWindow(bool enterWindowedMode, tStatus& status) {
  if (!holds(kContextRegister, kRegisterBytes) || !holds(kWindowRegister, kRegisterBytes)) {
    setStatus(status, kStatusNotAvailable, kOutsideBARSite);
    return;
  }
  u32 const context = readRegister(kContextRegister, status);
  windowOffset_ = context & kWindowOffsetMask;
  windowMask_ = 0xFFFFFFFFu << (context & kWindowShiftMask);
  // The saved value, not the one just read: the window opens where the chip
  // had it when this reading began.
  writeRegister(kContextRegister, savedContext_ | kContextOpen, status);
  writeRegister(kWindowRegister, currentWindow_, status);
  if (enterWindowedMode) mode_ = kModeWindowed;
}

void tVexus::useDirectAddresses() {
  windowOffset_ = 0;
  mode_ = kModeDirect;
}

// ---- The capability walk --------------------------------------------------------

template <class tChip>
tQVCapabilityPCIAccessor<tChip>::tQVCapabilityPCIAccessor(tPCIDevice* device, tStatus& status)
    : tChip(device, status) {
  // Without a mapping there is nothing to read through.
  if (status.isFatal()) return;
  if (!this->saveContext(status)) return;
  this->openWindow(true, status);

  u32 const directory = this->read32(kCapabilityDirectoryPointer, status);
  if (directory == 0 || directory % 4 != 0) {
    this->putBackContext(status);
    setStatus(status, kStatusNotSupported, kBadDirectoryPointerSite);
    return;
  }
  u32 const flags = this->read32(directory, status);
  u32 const first =
      this->read32((flags & 1) != 0 ? kFirstCapabilityAlternate : kFirstCapabilityPlain, status);
  this->firstCapability_ = first;
  // The window goes back as it was found even when a read above was
  // refused: the chip is shared with the register maps.
  this->putBackContext(status);
  if (first == 0 || first % 4 != 0) setStatus(status, kStatusNotSupported, kBadFirstCapabilitySite);
}

template <class tChip>
u32 tQVCapabilityPCIAccessor<tChip>::_findNextOffset(u32 current, u32 header, tStatus& status) {
  if (status.isFatal()) return 0;
  u32 const pointer = header & kNextPointerMask;
  switch (header & kNextKindMask) {
    case kNextRelative:
      // A relative pointer of 0 would name this structure again.
      return pointer == 0 ? 0 : current + pointer;
    case kNextAbsoluteHigh:
      return pointer | (this->read32(current - 4, status) & kHighHalfMask);
    case kNextAbsolute:
      return pointer;
    default:
      setStatus(status, kStatusUnsupportedAccess, kUnsupportedNextPointerSite);
      return 0;
  }
}

template <class tChip>
u32 tQVCapabilityPCIAccessor<tChip>::_findCapabilityOffset(u32 id, u32 start, tStatus& status) {
  if (status.isFatal()) return kNotFound;
  u32 current = this->firstCapability_;
  if (start != 0) current = _findNextOffset(start, this->read32(start, status), status);
  if (id == 0xFFFFFFFFu) return 0;
  if (current == 0) {
    setStatus(status, kStatusNotAvailable, kCapabilityNotFoundSite);
    return kNotFound;
  }
  for (u32 step = 0; step < kMaxWalk; ++step) {
    u32 const header = this->read32(current, status);
    u32 const next = _findNextOffset(current, header, status);
    if (status.isFatal()) return kNotFound;
    if ((header >> 16) == id) return current;
    if (next == 0) {
      setStatus(status, kStatusNotAvailable, kCapabilityNotFoundSite);
      return kNotFound;
    }
    current = next;
  }
  setStatus(status, kStatusNotAvailable, kCapabilityListLoopsSite);
  return kNotFound;
}

template <class tChip>
void tQVCapabilityPCIAccessor<tChip>::getCapability(tQVCapability<tChip>& capability,
                                                    tStatus& status) {
  if (status.isFatal()) return;
  if (!this->saveContext(status)) return;
  this->openWindow(true, status);
  u32 const found = _findCapabilityOffset(capability.getID() & 0xFFFF, capability.offset, status);
  capability.readCapability(*this, found, status);
  this->putBackContext(status);
}

// ---- Capabilities ----------------------------------------------------------------

template <class tChip>
tQVCapability<tChip>::~tQVCapability() = default;

template <class tChip>
tGeographicAddress<tChip>::~tGeographicAddress() = default;

template <class tChip>
u32 tGeographicAddress<tChip>::getID() const {
  return kID;
}

template <class tChip>
void tGeographicAddress<tChip>::readCapability(tChip& chip, u32 structure, tStatus& status) {
  if (status.isFatal()) return;
  u32 address;
  u32 descriptor;
  if (!chip.readChip(structure + 4, 4, address, status) ||
      !chip.readChip(structure + 8, 4, descriptor, status)) {
    this->offset = structure;
    return;
  }
  u32 const mode = descriptor & kDescriptorModeMask;
  if (mode != kDescriptorNothingToRead) {
    if (status.isNotFatal()) {
      if (mode == tChip::kModeDirect) {
        chip.useDirectAddresses();
      } else if (mode == tChip::kModeWindowed) {
        chip.openWindow(true, status);
      } else {
        setStatus(status, kStatusBadArgument, kBadAccessModeSite);
      }
    }
    u32 const width = (descriptor >> 8) & 7;
    u32 value;
    // A rejected mode still reads, in the mode the chip is in; a read that
    // would leave the BAR does not happen and leaves the address unknown.
    if (chip.readChip(address, width == 1 || width == 2 ? width : 4, value, status))
      geographicAddress = (value >> ((descriptor >> 16) & 31)) & 31;
  }
  if (status.isNotFatal()) chip.openWindow(true, status);
  this->offset = structure;
}

template class tQVCapabilityPCIAccessor<tVexus>;
template class tQVCapability<tVexus>;
template class tGeographicAddress<tVexus>;

}  // namespace qvrm7_driver::nQVWEND000
