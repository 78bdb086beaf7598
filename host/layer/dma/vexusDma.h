// Model of the bridge chip's interrupt registers, for the driver's interrupt
// managers and DMA channels: the status register and the interrupt queue
// read what a test scripted, and the interrupt status ring is written in
// host memory at the bus address the driver programmed, as the chip would.
// Every other register of the block (control, ring set-up, the channels) is
// plain BAR memory: it reads back what was last written, and the layer's
// access log shows each access.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/layer/pci.h"

namespace sim {

class VexusInterruptRegisters {
 public:
  static constexpr uint64_t kControl = 0x5C;
  static constexpr uint64_t kStatus = 0x60;
  static constexpr uint64_t kQueue = 0x68;
  static constexpr uint64_t kRingControl = 0x3B4;
  static constexpr uint64_t kRingAddress = 0x3B8;
  static constexpr uint32_t kQueueEmpty = 0xFFFFFFFFu;

  // The chip's registers at `offset` of the BAR.
  VexusInterruptRegisters(std::shared_ptr<Bar> bar, uint64_t offset);
  ~VexusInterruptRegisters();  // the BAR is plain memory there again
  VexusInterruptRegisters(VexusInterruptRegisters const&) = delete;
  VexusInterruptRegisters& operator=(VexusInterruptRegisters const&) = delete;

  // Status reads return these in order; the last one stays.
  void scriptStatus(std::vector<uint32_t> values);
  // Queue reads return these in order, then kQueueEmpty.
  void queueInterrupts(std::vector<uint32_t> values);
  uint64_t queued() const;

  // The chip writes an entry of the status ring; false when no ring is
  // programmed or the slot is not in live DMA memory.
  bool writeRing(uint32_t index, uint32_t value);

  struct State;

 private:
  std::shared_ptr<Bar> bar_;
  uint64_t offset_;
  std::shared_ptr<State> state_;
};

}  // namespace sim
