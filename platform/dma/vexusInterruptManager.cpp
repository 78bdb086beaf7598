#include "platform/dma/vexusInterruptManager.h"

#include "platform/kernelServices.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

// Fewer than no words after the ring would give the chip a ring longer than
// its memory.
constexpr StatusSite kNegativeExtraWordsSite{"tVexusInterruptManagerISP", 52};

constexpr u32 kFlagFeature1 = 1u << 24;
constexpr u32 kFlagFeature2 = 1u << 25;
constexpr u32 kFlagFeature3 = 1u << 11;
constexpr u32 kFlagFeature4 = 1u << 9;

constexpr u32 kRingEntryCountShift = 10;
constexpr u32 kRingOn = 0x10000;
constexpr u64 kRingWordBytes = 8;
constexpr u64 kRingAlignment = 8;

u32 choose(u32 flags, u32 flag, u32 set, u32 clear) { return (flags & flag) ? set : clear; }

}  // namespace

// ---- tVexusInterruptManager --------------------------------------------------------

tVexusInterruptManager::tVexusInterruptManager(tVexusRegisterRecord const* record, bool alwaysClaim)
    : record_(record), alwaysClaim_(alwaysClaim ? 1 : 0) {
  write(kControl, kControlAllOff);
}

tVexusInterruptManager::~tVexusInterruptManager() { write(kControl, kControlDisable); }

void tVexusInterruptManager::deactivate() { write(kControl, kControlDisable); }

void tVexusInterruptManager::reactivate() { write(kControl, kControlAllOff); }

bool tVexusInterruptManager::claimInterrupt() {
  if (alwaysClaims()) return true;
  u32 const status = read(kStatus);
  if (!(status & kStatusPending) || status == kNoDevice) return false;
  write(kControl, kControlDisable);
  return true;
}

void tVexusInterruptManager::configureInterrupts(u32 flags) {
  u32 const base = flags == 0 ? kControlDisable | kControlFeature1Clear
                              : kControlEnable | choose(flags, kFlagFeature1, kControlFeature1Set,
                                                        kControlFeature1Clear);
  write(kControl, base | choose(flags, kFlagFeature2, kControlFeature2Set, kControlFeature2Clear) |
                      choose(flags, kFlagFeature3, kControlFeature3Set, kControlFeature3Clear) |
                      choose(flags, kFlagFeature4, kControlFeature4Set, kControlFeature4Clear));
}

u32 tVexusInterruptManager::dequeueInterrupt() {
  u32 const value = read(kQueue);
  return value == kNoDevice ? 0 : value;
}

void tVexusInterruptManager::enableInterrupts() {
  if (!alwaysClaims()) write(kControl, kControlEnable);
}

// ---- tVexusInterruptManagerISP -----------------------------------------------------

tVexusInterruptManagerISP::tVexusInterruptManagerISP(tVexusRegisterRecord const* record,
                                                     tDMAConfiguration* configuration,
                                                     i32 extraWords, u32 entries, i32 alwaysClaim,
                                                     tStatus& status)
    : tVexusInterruptManager(record, alwaysClaim != 0),
      ringList_{},
      map_(configuration),
      ringKernel_(0),
      entryCount_(2 * entries),
      readIndex_(0),
      ringEnabled_(0) {
  if (status.isFatal()) return;
  if (extraWords < 0) {
    setStatus(status, kStatusBadArgument, kNegativeExtraWordsSite);
    return;
  }
  u64 const size = (u64{entries} + static_cast<u64>(extraWords)) * kRingWordBytes;
  configuration->allocateDMABuffer(ringList_, size, kQVZORPageListZeroed, status, kRingAlignment);
  ringKernel_ = mapPageListToKernel(ringList_, status);
  map_.load(ringList_, 0, size, kDMADeviceToHost, status);
  if (status.isFatal()) return;
  map_.prepareForDMA();
  setUpRing();
}

tVexusInterruptManagerISP::~tVexusInterruptManagerISP() {
  if (ringEnabled_ != 0) turnRingOff();
  map_.unload();
  freeMappedDMABuffer(map_.configuration(), ringList_, ringKernel_);
}

void tVexusInterruptManagerISP::setUpRing() {
  readIndex_ = 0;
  map_.resetSGLIterator();
  write(kRingControl, 0);
  for (u32 offset = kRingClearFirst; offset <= kRingClearLast; offset += 8) write64(offset, 0);
  write64(kRingAddress, map_.nextSGLSegment().busAddress);
  u32 const bytesAfterRing = static_cast<u32>(map_.size() - u64{entryCount_} * 4);
  write(kRingControl, (entryCount_ << kRingEntryCountShift) | bytesAfterRing | kRingOn);
  write(kControl, kControlRing);
  ringEnabled_ = 1;
}

void tVexusInterruptManagerISP::turnRingOff() {
  write(kRingControl, 0);
  read(kRingControl);  // the chip has taken it once the read returns
  ringEnabled_ = 0;
}

void tVexusInterruptManagerISP::deactivate() {
  write(kControl, kControlDisable);
  turnRingOff();
}

void tVexusInterruptManagerISP::reactivate() {
  write(kControl, kControlAllOff);
  // A ring that was never built has no address to give the chip.
  if (ringKernel_ != 0 && map_.size() != 0) setUpRing();
}

bool tVexusInterruptManagerISP::claimInterrupt() {
  if (alwaysClaims()) return true;
  u32 const control = read(kControl);
  if (!(control & kControlEnable) || (control & kControlRing)) return false;
  write(kControl, kControlDisable);
  return true;
}

u32 tVexusInterruptManagerISP::dequeueInterrupt() {
  if (ringEnabled_ == 0 || readIndex_ >= entryCount_) return 0;
  if (readIndex_ == 0) map_.completeDMA(map_.size());
  u32 const value = reinterpret_cast<u32 const volatile*>(ringKernel_)[readIndex_];
  ++readIndex_;
  return value;
}

void tVexusInterruptManagerISP::enableInterrupts() {
  map_.prepareForDMA();
  readIndex_ = 0;
  if (ringKernel_ != 0) reinterpret_cast<u32 volatile*>(ringKernel_)[0] = 0;
  write(kControl, kControlEnable | kControlRing);
}

}  // namespace qvrm7_driver::nQVWEND000
