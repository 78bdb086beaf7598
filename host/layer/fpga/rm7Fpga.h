// The RM7 module's FPGA as the driver's register maps meet it: the base,
// command-thread, slot, source-stream and slot RAM blocks on BAR 0, each a
// model of its own (see fpgaBlock.h for how each offset answers).
#pragma once

#include <cstdint>
#include <memory>

#include "host/layer/fpga/fpgaBlock.h"

namespace sim {

class Rm7Fpga {
 public:
  // BAR 0 offsets and sizes of the blocks.
  static constexpr uint64_t kBaseBlock = 0x22000;
  static constexpr uint32_t kBaseSize = 0xF0;
  static constexpr uint64_t kSourceStreamBlock = 0x22100;
  static constexpr uint32_t kSourceStreamSize = 0x8;
  static constexpr uint64_t kThreadBlock = 0x24000;
  static constexpr uint32_t kThreadSize = 0x2C;
  static constexpr uint64_t kSlotBlock = 0x26000;
  static constexpr uint32_t kSlotSize = 0x104;
  static constexpr uint64_t kSlotRamBlock = 0x27000;
  static constexpr uint32_t kSlotRamSize = 0x2000;

  // What the base block's offset 0 reads once the FPGA is configured.
  static constexpr uint32_t kSignature = 0xB6B66BB7;

  explicit Rm7Fpga(std::shared_ptr<Bar> bar0);

  FpgaBlock& base() { return base_; }
  FpgaBlock& sourceStreams() { return sourceStreams_; }
  FpgaBlock& thread() { return thread_; }
  FpgaBlock& slot() { return slot_; }
  FpgaBlock& slotRam() { return slotRam_; }

 private:
  FpgaBlock base_;
  FpgaBlock sourceStreams_;
  FpgaBlock thread_;
  FpgaBlock slot_;
  FpgaBlock slotRam_;
};

}  // namespace sim
