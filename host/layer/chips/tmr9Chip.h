// The timing chip's digital-output block and its output timer in BAR 0. The
// status register and four save registers of the timer share their offsets
// with write registers: what a read returns is set by the test, what was
// written is kept apart. Writes must have each register's own width (8 bits
// for the two enable/select bytes, 16 for the FIFO flag, personal, output
// control and reset registers, 32 for the others).
#pragma once

#include <cstdint>
#include <memory>

#include "host/layer/chips/registerBlock.h"

namespace sim {

class Tmr9Chip {
 public:
  static constexpr uint64_t kDigitalOutputBlock = 0x204AC;  // BAR 0 offset
  static constexpr uint32_t kOutputTimer = 0x34;            // from the block

  explicit Tmr9Chip(std::shared_ptr<Bar> bar0);

  // Offsets are from the digital-output block, the timer's included.
  RegisterBlock& registers() { return block_; }
  RegisterBlock const& registers() const { return block_; }

 private:
  RegisterBlock block_;
};

}  // namespace sim
