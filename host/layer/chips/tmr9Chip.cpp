// The timing chip's digital-output block and output timer.
#include "host/layer/chips/tmr9Chip.h"

namespace sim {

namespace {

std::vector<ChipRegister> tmr9Registers() {
  constexpr uint32_t t = Tmr9Chip::kOutputTimer;
  auto w = [](uint32_t offset, unsigned width = 4) {
    return ChipRegister{offset, 0, width, false};
  };
  // A read register and a write register at one offset.
  auto split = [](uint32_t offset, unsigned writeWidth = 4) {
    return ChipRegister{offset, 4, writeWidth, false};
  };
  return {split(0x00, 1), w(0x02, 1), w(0x04), w(0x08), w(0x0C), w(0x10), w(0x14), w(0x18), w(0x1C),
          w(0x20), w(0x24), w(0x28), w(0x2C), w(0x30, 2),
          // The output timer.
          split(t + 0x00), split(t + 0x04), w(t + 0x08), split(t + 0x0C), w(t + 0x10),
          split(t + 0x14), w(t + 0x18), w(t + 0x1C), w(t + 0x20), w(t + 0x24, 2), w(t + 0x26, 2),
          w(t + 0x28), w(t + 0x2C), w(t + 0x30), w(t + 0x34, 2)};
}

}  // namespace

Tmr9Chip::Tmr9Chip(std::shared_ptr<Bar> bar0)
    : block_(std::move(bar0), kDigitalOutputBlock, tmr9Registers()) {}

}  // namespace sim
