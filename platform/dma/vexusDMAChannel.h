// One DMA channel of the bridge chip: its register block, started on a bus
// address (a descriptor list's first link) and stopped by its interrupt
// status.
#pragma once

#include "platform/dma/dmaMap.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// The chip's DMA capability block, at the kernel address where the caller
// found it; it gives the layout of the channel blocks.
struct tVexusDMACapability {
  u64 address;
};

class tVexusDMAChannel {
 public:
  // Offsets in the channel's block.
  enum : u32 {
    kConfigure20 = 0x20,  // 64
    kConfigure28 = 0x28,  // 64
    kConfigure30 = 0x30,
    kConfigure34 = 0x34,
    kStartAddress = 0x48,  // 64
    kStartBytes = 0x50,
    kControl = 0x54,
    kCommand = 0x58,
    kLoadAddress = 0x90,    // 64
    kStatusAddress = 0xA0,  // 64
  };
  enum : u32 {
    kCommandStart = 1,
    kCommandReset = 2,
    kCommandStartWithOption = 5,
    kCommandLoadAddress = 0x2000000,
  };
  // Offsets in the capability block.
  enum : u32 { kCapabilityStrideShift = 0x0C, kCapabilityFirstChannel = 0x1C };

  // The channel block at a known register address; nothing is touched.
  tVexusDMAChannel(u64 registerAddress, u64 stride, u32 channel);
  // The block the capability places for the channel; the channel is reset.
  // With a failed status nothing is read and the channel stays unplaced.
  tVexusDMAChannel(tVexusDMACapability const& capability, u32 channel, tStatus& status);
  tVexusDMAChannel(tVexusDMACapability const& capability, u32 channel);
  virtual ~tVexusDMAChannel();
  tVexusDMAChannel(tVexusDMAChannel const&) = delete;
  tVexusDMAChannel& operator=(tVexusDMAChannel const&) = delete;

  virtual void deactivate();
  virtual void reactivate();
  // Any of the stop bits ends the run.
  virtual void handleInterruptStatus(u32 status);

  void reset();
  void setRegisters(u64 registerAddress, u64 stride);
  // Bits 18, 22 and 23 of mode say which of the values are written.
  void configure(u32 mode, u32 value30, u64 value20, u32 value34, u64 value28);
  // Written only when they differ from the last bits set.
  void setControlBits(u32 bits);
  void start(tDMASegment link, bool option);
  void loadAddress(u64 address);
  u64 readStatusAddress();

  u64 registerAddress() const { return registers_; }
  u64 stride() const { return stride_; }
  bool running() const { return running_ != 0; }
  u32 channel() const { return channel_; }

 private:
  void place(tVexusDMACapability const& capability, tStatus& status);

  u64 registers_;
  u64 stride_;
  u8 running_;
  u32 channel_;
  u32 lastControlBits_;
};

}  // namespace qvrm7_driver::nQVWEND000
