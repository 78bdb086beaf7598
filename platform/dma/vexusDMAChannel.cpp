#include "platform/dma/vexusDMAChannel.h"

#include "platform/dma/vexusRegisters.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr u32 kModeWrites30 = 0x440000;
constexpr u32 kModeWrites20And34 = 0xC00000;
constexpr u32 kModeWrites28 = 0x40000;
constexpr u32 kControlKeptByConfigure = 0xFF00F7FF;
constexpr u32 kControlKeptBySetBits = 0xF0FF4FFF;
constexpr u32 kStopStatusBits = 0x0C008000;
// Control values of the reset sequence.
constexpr u32 kControlResetting = 1;
constexpr u32 kControlReset = 2;

}  // namespace

tVexusDMAChannel::tVexusDMAChannel(u64 registerAddress, u64 stride, u32 channel)
    : registers_(registerAddress),
      stride_(stride),
      running_(0),
      channel_(channel),
      lastControlBits_(0) {}

tVexusDMAChannel::tVexusDMAChannel(tVexusDMACapability const& capability, u32 channel,
                                   tStatus& status)
    : tVexusDMAChannel(0, 0, channel) {
  place(capability, status);
}

tVexusDMAChannel::tVexusDMAChannel(tVexusDMACapability const& capability, u32 channel)
    : tVexusDMAChannel(0, 0, channel) {
  tStatus status;
  place(capability, status);
}

tVexusDMAChannel::~tVexusDMAChannel() = default;

void tVexusDMAChannel::place(tVexusDMACapability const& capability, tStatus& status) {
  if (status.isFatal()) return;
  u32 const shift = (readVexus32(capability.address, kCapabilityStrideShift) >> 16) & 0xF;
  stride_ = u64{1} << shift;
  // The chip adds in 32 bits.
  u32 const offset = channel_ * static_cast<u32>(stride_) +
                     readVexus32(capability.address, kCapabilityFirstChannel);
  registers_ = capability.address + offset;
  reset();
}

void tVexusDMAChannel::reset() {
  lastControlBits_ = 0;
  writeVexus32(registers_, kControl, kControlResetting);
  writeVexus32(registers_, kCommand, kCommandReset);
  writeVexus32(registers_, kControl, kControlReset);
  running_ = 0;
}

void tVexusDMAChannel::deactivate() { writeVexus32(registers_, kCommand, kCommandReset); }

void tVexusDMAChannel::reactivate() { reset(); }

void tVexusDMAChannel::handleInterruptStatus(u32 status) {
  if (status & kStopStatusBits) running_ = 0;
}

void tVexusDMAChannel::setRegisters(u64 registerAddress, u64 stride) {
  registers_ = registerAddress;
  stride_ = stride;
}

void tVexusDMAChannel::configure(u32 mode, u32 value30, u64 value20, u32 value34, u64 value28) {
  u32 const control = readVexus32(registers_, kControl);
  if (mode & kModeWrites30) writeVexus32(registers_, kConfigure30, value30);
  if (mode & kModeWrites20And34) {
    writeVexus64(registers_, kConfigure20, value20);
    writeVexus32(registers_, kConfigure34, value34);
  }
  if (mode & kModeWrites28) writeVexus64(registers_, kConfigure28, value28);
  writeVexus32(registers_, kControl, (control & kControlKeptByConfigure) | mode);
}

void tVexusDMAChannel::setControlBits(u32 bits) {
  if (bits == lastControlBits_) return;
  lastControlBits_ = bits;
  writeVexus32(registers_, kControl,
               (readVexus32(registers_, kControl) & kControlKeptBySetBits) | bits);
}

void tVexusDMAChannel::start(tDMASegment link, bool option) {
  writeVexus64(registers_, kStartAddress, link.busAddress);
  writeVexus32(registers_, kStartBytes, static_cast<u32>(link.size));
  running_ = 1;
  writeVexus32(registers_, kCommand, option ? kCommandStartWithOption : kCommandStart);
}

void tVexusDMAChannel::loadAddress(u64 address) {
  writeVexus64(registers_, kLoadAddress, address);
  writeVexus32(registers_, kCommand, kCommandLoadAddress);
}

u64 tVexusDMAChannel::readStatusAddress() { return readVexus64(registers_, kStatusAddress); }

}  // namespace qvrm7_driver::nQVWEND000
